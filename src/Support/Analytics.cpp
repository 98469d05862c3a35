#include "Support/Analytics.h"

#include "Platform/InfoDictionary.h"
#include "Platform/Text.h"

#include <QJsonDocument>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QSysInfo>
#include <QTimer>

#include <cmath>
#include <limits>

namespace {

const QString kOptOutKey = QStringLiteral("analyticsOptOut");
const QString kWebsiteId = QStringLiteral("7c3e9a14-2b6f-4d81-a5c0-e49d1f06b238");
constexpr int kRequestTimeoutMs = 15000;

QSettings userDefaults()
{
    return QSettings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
}

QString appVersion()
{
    const QString version = InfoDictionary::value(QStringLiteral("CFBundleShortVersionString"));
    return version.isEmpty() ? QStringLiteral("0") : version;
}

QString webHostName()
{
    const QUrl url(InfoDictionary::webHost());
    return url.host().isEmpty() ? InfoDictionary::webHost() : url.host();
}

int wholePoints(double value)
{
    if (!std::isfinite(value) || value <= 0)
        return 0;
    if (value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(value);
}

} // namespace

Analytics::Analytics(QObject *parent)
    : Analytics(Options(), parent)
{ }

Analytics::Analytics(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    if (m_options.endpoint.isEmpty())
        m_options.endpoint = QUrl(InfoDictionary::analyticsHost() + QStringLiteral("/api/send"));
    m_enabled = !userDefaults().value(kOptOutKey, false).toBool();
    m_launchDate = now();
}

Analytics::~Analytics() = default;

Analytics &Analytics::shared()
{
    // Kept to the end of the process, past the application object, like the heartbeat.
    static Analytics *instance = new Analytics();
    return *instance;
}

void Analytics::setScreenSizeProvider(ScreenSizeProvider provider)
{
    m_screenSize = std::move(provider);
}

QDateTime Analytics::now() const
{
    return m_options.now ? m_options.now() : QDateTime::currentDateTimeUtc();
}

void Analytics::setEnabled(bool enabled)
{
    QSettings settings = userDefaults();
    settings.setValue(kOptOutKey, !enabled);
    settings.sync();
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    emit enabledChanged();
}

void Analytics::setTakeCount(int count)
{
    if (m_takeCount == count)
        return;
    m_takeCount = count;
    emit takeCountChanged();
}

void Analytics::setSalvoCount(int count)
{
    if (m_salvoCount == count)
        return;
    m_salvoCount = count;
    emit salvoCountChanged();
}

void Analytics::start()
{
    if (!m_enabled || m_heartbeat)
        return;
    send(QStringLiteral("app_launch"), QStringLiteral("/app/launch"),
         { { QStringLiteral("version"), appVersion() },
           { QStringLiteral("platform"), platformName() } });
    m_heartbeat = new QTimer(this);
    m_heartbeat->setTimerType(Qt::PreciseTimer);
    m_heartbeat->setInterval(m_options.heartbeatInterval);
    connect(m_heartbeat, &QTimer::timeout, this, &Analytics::beat);
    m_heartbeat->start();
}

void Analytics::connected(RouterVendor vendor)
{
    send(QStringLiteral("connect"), QStringLiteral("/app/connect"),
         { { QStringLiteral("vendor"), vendor.rawValue() } });
}

void Analytics::beat()
{
    const qint64 seconds = qMax<qint64>(0, m_launchDate.secsTo(now()));
    QJsonObject data { { QStringLiteral("minutes_open"), seconds / 60 } };
    if (m_takeCount >= 1)
        data.insert(QStringLiteral("takes"), m_takeCount);
    if (m_salvoCount >= 1)
        data.insert(QStringLiteral("salvo_fires"), m_salvoCount);
    send(QStringLiteral("heartbeat"), QStringLiteral("/app/heartbeat"), data);
    // Counts gathered while switched off are dropped here too.
    setTakeCount(0);
    setSalvoCount(0);
}

QString Analytics::screenText(const std::optional<QSizeF> &size)
{
    if (!size)
        return QStringLiteral("0x0");
    return Text::format(QStringLiteral("%1x%2"), wholePoints(size->width()),
                        wholePoints(size->height()));
}

QString Analytics::platformName()
{
#if defined(Q_OS_MACOS)
    return QStringLiteral("macOS");
#elif defined(Q_OS_LINUX)
    return QStringLiteral("Linux");
#elif defined(Q_OS_WIN)
    return QStringLiteral("Windows");
#else
    return QSysInfo::kernelType();
#endif
}

QByteArray Analytics::eventBody(const QString &name, const QString &urlPath,
                                const QJsonObject &data, const QString &screen)
{
    QJsonObject payload { { QStringLiteral("website"), kWebsiteId },
                          { QStringLiteral("hostname"), webHostName() },
                          { QStringLiteral("language"), QLocale::system().name() },
                          { QStringLiteral("screen"), screen },
                          { QStringLiteral("title"), QStringLiteral("Quorvel") },
                          { QStringLiteral("url"), urlPath },
                          { QStringLiteral("name"), name } };
    if (!data.isEmpty())
        payload.insert(QStringLiteral("data"), data);
    const QJsonObject body { { QStringLiteral("type"), QStringLiteral("event") },
                             { QStringLiteral("payload"), payload } };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

void Analytics::send(const QString &name, const QString &urlPath, const QJsonObject &data)
{
    if (!m_enabled)
        return;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    if (m_userAgent.isEmpty())
        m_userAgent = QStringLiteral("Mozilla/5.0 (Macintosh; Intel Mac OS X 15_0) Quorvel/")
            + appVersion() + QStringLiteral(" Safari/537.36");

    const QString screen = screenText(m_screenSize ? m_screenSize() : std::nullopt);
    QNetworkRequest request(m_options.endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("User-Agent", m_userAgent.toUtf8());
    request.setTransferTimeout(kRequestTimeoutMs);
    QNetworkReply *reply = m_network->post(request, eventBody(name, urlPath, data, screen));
    // Nothing is read from the service: drop whatever it answers as it arrives.
    connect(reply, &QNetworkReply::readyRead, reply,
            [reply] { reply->skip(reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
