#include "Drivers/KumoDriver.h"

#include "Drivers/KumoHttp.h"
#include "Platform/Async.h"
#include "Platform/Text.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLoggingCategory>
#include <QUrl>

#include <cmath>

Q_LOGGING_CATEGORY(lcKumo, "quorvel.driver.kumo", QtInfoMsg)
Q_LOGGING_CATEGORY(lcKumoTraffic, "quorvel.driver.kumo.traffic", QtWarningMsg)

namespace {

const QString kNoAddress = QStringLiteral("No address for this router. Edit it and set a host.");

QString countId(bool sources)
{
    return sources ? QStringLiteral("eParamID_NumberOfSources")
                   : QStringLiteral("eParamID_NumberOfDestinations");
}

QString labelId(PortKind kind, qint64 number)
{
    return (kind == PortKind::source ? QStringLiteral("eParamID_XPT_Source")
                                     : QStringLiteral("eParamID_XPT_Destination"))
        + QString::number(number) + QStringLiteral("_Line_1");
}

QString statusId(qint64 number)
{
    return QStringLiteral("eParamID_XPT_Destination") + QString::number(number)
        + QStringLiteral("_Status");
}

QString getPath(const QString &id)
{
    return QStringLiteral("config?action=get&paramid=") + id;
}

// A source number the router reported, as a 0-based index; none for "no source" and for
// numbers no router of ours can have.
std::optional<int> sourceIndex(qint64 number)
{
    if (number < 1 || number > KumoDriver::maxPortCount)
        return std::nullopt;
    return int(number - 1);
}

QString tooLargeText(const QString &path)
{
    return Text::format(QStringLiteral("The reply to %1 is larger than %2 KiB."), path,
                        KumoDriver::maxBodySize / 1024);
}

// Objects the driver cannot delete because the application is gone or is deleting its
// event queue: destroying one that still has events queued (a socket does) would wait on
// that queue's lock, which the deleting thread may hold. They stay reachable until the
// process ends.
void abandon(QObject *object)
{
    static auto *abandoned = new QList<QObject *>;
    if (object)
        abandoned->append(object);
}

} // namespace

KumoDriver::KumoDriver(const RouterConnection &connection)
    : KumoDriver(connection, Timing {})
{ }

KumoDriver::KumoDriver(const RouterConnection &connection, Timing timing)
    : m_connection(connection)
    , m_timing(timing)
    , m_guard(std::make_unique<QObject>())
    , m_pollTimer(new QTimer(m_guard.get()))
    , m_http(new KumoHttpClient(m_timing.requestTimeout, maxBodySize, m_guard.get()))
{
    m_pollTimer->setSingleShot(true);
    m_pollTimer->setInterval(m_timing.pollInterval);
    QObject::connect(m_pollTimer, &QTimer::timeout, m_guard.get(), [this] {
        if (m_connected && m_polling)
            pollRouting(0);
    });
}

KumoDriver::~KumoDriver()
{
    // This runs wherever the last owner lets go: from a posted call that the application
    // deletes unrun while it tears down its event queue, or after the application is gone.
    // So it posts nothing.
    if (QCoreApplication::instance()) {
        // Closes every connection; nothing under way calls back.
        m_guard.reset();
        if (m_connectDone)
            Platform::complete(std::move(m_connectDone));
    } else {
        m_pollTimer->stop();
        QObject::disconnect(m_pollTimer, nullptr, nullptr, nullptr);
        m_http->cancelAll();
        abandon(m_guard.release());
    }
}

std::shared_ptr<KumoDriver> KumoDriver::self()
{
    return std::static_pointer_cast<KumoDriver>(shared_from_this());
}

void KumoDriver::emitEvent(RouterDriverEvent event)
{
    m_events->yield(std::move(event));
}

// Requests

std::expected<QUrl, DriverError> KumoDriver::urlFor(const QString &path) const
{
    const int port = m_connection.port == 0 ? 80 : m_connection.port;
    // Built from its parts: a host joined into the text could carry a path, a query or a
    // user of its own ("127.0.0.1:80/other?x=", "user:pw@host"), and would be read as such.
    const qsizetype query = path.indexOf(u'?');
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_connection.host, QUrl::StrictMode);
    url.setPort(port >= 1 && port <= 65535 ? port : -1);
    url.setPath(QLatin1Char('/') + path.left(query), QUrl::StrictMode);
    if (query >= 0)
        url.setQuery(path.mid(query + 1), QUrl::StrictMode);
    if (port < 1 || port > 65535 || !url.isValid() || url.host().isEmpty())
        return std::unexpected(DriverError::protocol(QStringLiteral("Bad URL for ") + path));
    return url;
}

void KumoDriver::get(const QString &path, std::function<void(Body)> done)
{
    auto failLater = [this, &done](DriverError error) {
        QMetaObject::invokeMethod(
            m_guard.get(),
            [done = std::move(done), error] { done(std::unexpected(Failure { error })); },
            Qt::QueuedConnection);
    };
    // A disconnected driver issues nothing more, whatever was still queued up.
    if (m_torn) {
        failLater(DriverError::notConnectedError());
        return;
    }
    const auto url = urlFor(path);
    if (!url) {
        failLater(url.error());
        return;
    }

    qCDebug(lcKumoTraffic) << "GET" << url->toString(QUrl::FullyEncoded);
    m_http->get(*url, [path, done = std::move(done)](KumoHttpClient::Result reply) {
        Body result;
        if (!reply) {
            switch (reply.error().kind) {
            case KumoHttpClient::Failure::tooLarge:
                result = std::unexpected(
                    Failure { DriverError::otherError(tooLargeText(path)), true });
                break;
            case KumoHttpClient::Failure::timedOut:
            case KumoHttpClient::Failure::network:
                result = std::unexpected(
                    Failure { DriverError::otherError(reply.error().text), false,
                              reply.error().kind == KumoHttpClient::Failure::timedOut });
                break;
            }
        } else if (reply->status >= 300 && reply->status < 400) {
            result = std::unexpected(Failure {
                DriverError::transportError(
                    QStringLiteral("HTTP %1 (redirects aren't followed)").arg(reply->status)),
                true });
        } else if (reply->status != 200) {
            result = std::unexpected(
                Failure { DriverError::transportError(QStringLiteral("HTTP ")
                                                      + QString::number(reply->status)),
                          true });
        } else {
            result = std::move(reply->body);
        }
        if (result) {
            qCDebug(lcKumoTraffic) << "reply" << path << *result;
        } else {
            const QString failure = result.error().localizedDescription();
            qCDebug(lcKumoTraffic) << "failed" << path << failure;
        }
        done(std::move(result));
    });
}

KumoDriver::Value KumoDriver::replyValue(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error == QJsonParseError::NoError) {
        if (document.isObject()) {
            const QJsonObject object = document.object();
            const auto value = object.constFind(QStringLiteral("value"));
            if (value != object.constEnd())
                return std::optional<QJsonValue>(*value);
        }
        return std::optional<QJsonValue>();
    }
    // The document reader takes only an object or an array at the top; a body that is one
    // bare number, text, true, false or null is JSON as well, and holds no "value".
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + body + ']');
    if (wrapped.isArray() && wrapped.array().size() == 1)
        return std::optional<QJsonValue>();
    return std::unexpected(DriverError::otherError(
        QStringLiteral("The reply isn't valid JSON (%1).").arg(error.errorString())));
}

void KumoDriver::paramValue(const QString &id, std::function<void(Read)> done)
{
    get(getPath(id), [done = std::move(done)](Body body) {
        if (!body) {
            done(std::unexpected(body.error()));
            return;
        }
        Value value = replyValue(*body);
        if (value)
            done(std::move(*value));
        else
            done(std::unexpected(Failure { value.error(), true }));
    });
}

QString KumoDriver::nameValue(const std::optional<QJsonValue> &value)
{
    if (!value)
        return {};
    if (value->isString())
        return boundedRouterName(value->toString());
    if (value->isDouble()) {
        const double d = value->toDouble();
        if (std::isfinite(d) && d == std::trunc(d)) {
            if (const auto whole = integerValue(value))
                return QString::number(*whole);
        }
    }
    return {};
}

std::optional<qint64> KumoDriver::integerValue(const std::optional<QJsonValue> &value)
{
    if (!value)
        return std::nullopt;
    if (value->isDouble()) {
        const double number = std::trunc(value->toDouble());
        // 2^63 itself does not fit; every double below it that passes this test does.
        if (!std::isfinite(number) || number < -9223372036854775808.0
            || number >= 9223372036854775808.0)
            return std::nullopt;
        return qint64(number);
    }
    if (value->isString()) {
        const QString text = value->toString();
        const int digitsFrom
            = text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')) ? 1 : 0;
        if (text.size() <= digitsFrom)
            return std::nullopt;
        for (int i = digitsFrom; i < text.size(); ++i) {
            if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
                return std::nullopt;
        }
        bool ok = false;
        const qint64 number = text.toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        return number;
    }
    return std::nullopt;
}

void KumoDriver::intParam(const QString &id, std::function<void(Integer)> done)
{
    paramValue(id, [id, done = std::move(done)](Read value) {
        if (!value) {
            done(std::unexpected(value.error()));
            return;
        }
        if (const auto number = integerValue(*value))
            done(*number);
        else
            done(std::unexpected(Failure {
                DriverError::protocol(id + QStringLiteral(" returned no number")), true }));
    });
}

// Connecting

void KumoDriver::connect(std::function<void()> done)
{
    if (m_connectStarted || m_torn) {
        Platform::complete(std::move(done));
        return;
    }
    m_connectStarted = true;
    m_connectDone = std::move(done);
    if (m_connection.host.isEmpty()) {
        endConnect(kNoAddress);
        return;
    }
    emitEvent(RouterDriverEvent::makeStatus(
        Text::format(QStringLiteral("Contacting KUMO at %1…"), Text::isolated(m_connection.host))));
    readCounts();
}

void KumoDriver::endConnect(std::optional<QString> error)
{
    if (error) {
        qCWarning(lcKumo) << m_connection.name << *error;
        emitEvent(RouterDriverEvent::makeError(*error));
    }
    if (m_connectDone)
        Platform::complete(std::exchange(m_connectDone, {}));
}

void KumoDriver::readCounts()
{
    auto checkCount = [this](bool sources, const Integer &count) -> bool {
        if (m_torn) {
            endConnect(std::nullopt);
            return false;
        }
        if (!count) {
            endConnect(QStringLiteral("KUMO didn't answer: ")
                       + count.error().localizedDescription());
            return false;
        }
        if (*count > maxPortCount) {
            endConnect(Text::format(
                QStringLiteral("KUMO reported %1 %2; at most %3 are supported."), *count,
                sources ? QStringLiteral("sources") : QStringLiteral("destinations"),
                maxPortCount));
            return false;
        }
        (sources ? m_sourceCount : m_destinationCount) = int(std::max<qint64>(*count, 0));
        return true;
    };
    intParam(countId(true), [this, checkCount](Integer sources) {
        if (!checkCount(true, sources))
            return;
        intParam(countId(false), [this, checkCount](Integer destinations) {
            if (!checkCount(false, destinations))
                return;
            if (m_sourceCount < 1 || m_destinationCount < 1) {
                endConnect(QStringLiteral("KUMO reported a zero-sized matrix."));
                return;
            }
            emitEvent(RouterDriverEvent::makeStatus(QStringLiteral("Reading routing and labels…")));
            m_sources.reserve(m_sourceCount);
            m_destinations.reserve(m_destinationCount);
            readLabel(PortKind::source, 1);
        });
    });
}

void KumoDriver::readLabel(PortKind kind, int number)
{
    const int count = kind == PortKind::source ? m_sourceCount : m_destinationCount;
    if (number > count) {
        if (kind == PortKind::source)
            readLabel(PortKind::destination, 1);
        else
            readStatus(1);
        return;
    }
    paramValue(labelId(kind, number), [this, kind, number](Read value) {
        QString label = value ? nameValue(*value) : QString();
        if (label.isEmpty())
            label = (kind == PortKind::source ? QStringLiteral("In ") : QStringLiteral("Out "))
                + QString::number(number);
        (kind == PortKind::source ? m_sources : m_destinations)
            .append(Port { number - 1, kind, label });
        readLabel(kind, number + 1);
    });
}

void KumoDriver::readStatus(int number)
{
    if (number > m_destinationCount) {
        reportConnected();
        return;
    }
    intParam(statusId(number), [this, number](Integer value) {
        if (value) {
            if (const auto source = sourceIndex(*value))
                m_routing.insert(number - 1, *source);
        }
        readStatus(number + 1);
    });
}

void KumoDriver::reportConnected()
{
    if (m_torn) {
        endConnect(std::nullopt);
        return;
    }
    RouterState state;
    state.deviceName = m_connection.name;
    state.model = Text::format(QStringLiteral("KUMO %1×%2"), m_sourceCount, m_destinationCount);
    state.vendor = RouterVendor::ajaKumo;
    state.sources = m_sources;
    state.destinations = m_destinations;
    state.levels = { RouterLevel { 0, QStringLiteral("Video"), LevelKind::video } };
    state.routing.insert(0, m_routing);
    m_connected = true;
    m_lastAnswer.start();
    qCInfo(lcKumo) << m_connection.name << "connected," << state.model;
    emitEvent(RouterDriverEvent::makeConnected(state));
    startPolling();
    endConnect(std::nullopt);
}

void KumoDriver::disconnect(std::function<void()> done)
{
    m_torn = true;
    m_connected = false;
    m_polling = false;
    m_pollTimer->stop();
    m_events->finish();
    Platform::complete(std::move(done));
}

// Polling

void KumoDriver::startPolling()
{
    m_polling = true;
    m_pollTimer->start();
}

void KumoDriver::pollRouting(int destination)
{
    if (!m_connected)
        return;
    if (destination == 0) {
        m_passAnswered = false;
        m_passRouterError = false;
    }
    if (destination >= m_destinationCount) {
        endPass();
        return;
    }
    const quint64 epoch = m_takeEpoch;
    intParam(statusId(destination + 1), [this, destination, epoch](Integer value) {
        if (!m_connected || !notePollResult(value))
            return;
        const std::optional<int> source = value ? sourceIndex(*value) : std::nullopt;
        if (source) {
            // A take started while this answer was on its way: what it says may predate the
            // take, so the rest of the pass waits for the next one.
            if (epoch != m_takeEpoch) {
                m_pollTimer->start();
                return;
            }
            const auto known = m_routing.constFind(destination);
            if (m_mustReport.remove(destination) || known == m_routing.cend()
                || *known != *source) {
                m_routing.insert(destination, *source);
                emitEvent(RouterDriverEvent::makeRouteChanged(0, destination, *source));
            }
        }
        pollRouting(destination + 1);
    });
}

bool KumoDriver::notePollResult(const Integer &result)
{
    if (result || result.error().routerAnswered) {
        m_passAnswered = true;
        m_failedPasses = 0;
        m_lastAnswer.start();
    }
    if (result)
        return true;
    if (result.error().routerAnswered) {
        // The router is there and says something is wrong: that is what the operator reads,
        // once until a whole pass goes by without such an answer.
        m_passRouterError = true;
        if (!std::exchange(m_pollErrorReported, true))
            emitEvent(RouterDriverEvent::makeCommandRefused(
                QStringLiteral("KUMO answered the routing poll with an error: ")
                + result.error().localizedDescription()));
        return true;
    }
    m_lastFailure = result.error().localizedDescription();
    if (m_lastAnswer.isValid() && m_lastAnswer.elapsed() >= m_timing.offlineAfter.count()) {
        goOffline();
        return false;
    }
    return true;
}

void KumoDriver::endPass()
{
    if (!m_passRouterError)
        m_pollErrorReported = false;
    if (!m_passAnswered && ++m_failedPasses >= std::max(1, m_timing.failedPassesBeforeOffline)) {
        goOffline();
        return;
    }
    m_pollTimer->start();
}

void KumoDriver::goOffline()
{
    // Polls only ever skip what fails, so without this a router that is gone would go on
    // showing as online until the operator tried a take.
    m_connected = false;
    m_polling = false;
    m_pollTimer->stop();
    qCWarning(lcKumo) << m_connection.name << "stopped answering:" << m_lastFailure;
    emitEvent(
        RouterDriverEvent::makeError(QStringLiteral("KUMO stopped answering: ") + m_lastFailure));
    emitEvent(RouterDriverEvent::makeDisconnected(QStringLiteral("The router stopped answering.")));
}

// Commands

void KumoDriver::take(int source, int destination, int, DriverCompletion done)
{
    if (!m_connected) {
        Platform::complete(std::move(done),
                           DriverResult(std::unexpected(DriverError::notConnectedError())));
        return;
    }
    ++m_takeEpoch;
    const QString id = statusId(qint64(destination) + 1);
    const QString path = QStringLiteral("config?action=set&paramid=") + id
        + QStringLiteral("&value=") + QString::number(qint64(source) + 1);
    auto driver = self();
    get(path, [driver, id, source, destination, done = std::move(done)](Body body) mutable {
        if (!body) {
            // The request may be with the router all the same, and carried out when it
            // catches up. The controller puts the cell back; the next poll then shows what
            // the router holds, even if a poll already saw the take done.
            driver->takeUnconfirmed(destination);
            if (body.error().timedOut)
                done(std::unexpected(DriverError::otherError(
                    QStringLiteral("KUMO didn't confirm the route within %1 seconds. It may "
                                   "still change if the router carries it out later; the "
                                   "next poll shows the route it holds.")
                        .arg(QString::number(double(driver->m_timing.requestTimeout.count())
                                             / 1000.0)))));
            else
                done(std::unexpected(body.error().error));
            return;
        }
        driver->intParam(
            id, [driver, source, destination, done = std::move(done)](Integer readBack) {
                // Accepted but not read back as a port: the poll tells what the router did.
                if (!readBack || (*readBack >= 1 && !sourceIndex(*readBack)))
                    driver->takeUnconfirmed(destination);
                if (readBack) {
                    if (const auto kept = sourceIndex(*readBack)) {
                        driver->m_routing.insert(destination, *kept);
                        driver->emitEvent(
                            RouterDriverEvent::makeRouteChanged(0, destination, *kept));
                        if (*kept != source)
                            driver->emitEvent(RouterDriverEvent::makeCommandRefused(
                                Text::format(QStringLiteral("KUMO kept Out %1 on In %2."),
                                             qint64(destination) + 1, *kept + 1)));
                    } else if (*readBack < 1) {
                        // The router cleared the destination instead of routing it.
                        driver->m_routing.remove(destination);
                        driver->emitEvent(
                            RouterDriverEvent::makeRouteChanged(0, destination, std::nullopt));
                        driver->emitEvent(RouterDriverEvent::makeCommandRefused(
                            QStringLiteral("KUMO left Out %1 without a source.")
                                .arg(qint64(destination) + 1)));
                    }
                }
                done(DriverResult());
            });
    });
}

void KumoDriver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    takeNext(routes, std::move(done));
}

void KumoDriver::takeNext(QList<Route> routes, DriverCompletion done)
{
    if (routes.isEmpty()) {
        Platform::complete(std::move(done), DriverResult());
        return;
    }
    const Route route = routes.takeFirst();
    auto driver = self();
    take(route.source, route.destination, route.level,
         [driver, routes = std::move(routes), done = std::move(done)](DriverResult result) mutable {
             if (!result) {
                 done(result);
                 return;
             }
             driver->takeNext(std::move(routes), std::move(done));
         });
}

void KumoDriver::setLock(int, int, bool, DriverCompletion done)
{
    Platform::complete(
        std::move(done),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Locking")))));
}

QByteArray KumoDriver::encodeLabel(const QString &label)
{
    return QUrl::toPercentEncoding(label, QByteArrayLiteral("!$'()*,;:@"));
}

void KumoDriver::setLabel(const QString &label, int index, PortKind kind, DriverCompletion done)
{
    if (!m_connected) {
        Platform::complete(std::move(done),
                           DriverResult(std::unexpected(DriverError::notConnectedError())));
        return;
    }
    const QString path = QStringLiteral("config?action=set&paramid=")
        + labelId(kind, qint64(index) + 1) + QStringLiteral("&value=")
        + QString::fromLatin1(encodeLabel(label));
    auto driver = self();
    get(path, [driver, label, index, kind, done = std::move(done)](Body body) {
        if (!body) {
            done(std::unexpected(body.error().error));
            return;
        }
        driver->emitEvent(RouterDriverEvent::makeLabelChanged(kind, index, label));
        done(DriverResult());
    });
}
