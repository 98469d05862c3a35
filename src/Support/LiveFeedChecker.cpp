#include "Support/LiveFeedChecker.h"

#include "Platform/InfoDictionary.h"
#include "Platform/Observed.h"
#include "Support/AppcastLatestItem.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

LiveFeedChecker::LiveFeedChecker(QObject *parent)
    : LiveFeedChecker(feedURL(), defaultTimeoutMs, nullptr, parent)
{
}

LiveFeedChecker::LiveFeedChecker(const QUrl &feedUrl, int timeoutMs, QNetworkAccessManager *network,
                                 QObject *parent)
    : QObject(parent)
    , m_feedUrl(feedUrl)
    , m_timeoutMs(timeoutMs)
    , m_network(network ? network : new QNetworkAccessManager(this))
{
}

LiveFeedChecker::~LiveFeedChecker()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

QUrl LiveFeedChecker::feedURL()
{
    const QString configured = InfoDictionary::value(QStringLiteral("SUFeedURL"));
    if (!configured.isEmpty()) {
        const QUrl url(configured, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
            return url;
    }
    return QUrl(InfoDictionary::webHost() + QStringLiteral("/updates/appcast.xml"));
}

void LiveFeedChecker::check()
{
    if (m_reply)
        return;
    if (!m_feedUrl.isValid() || m_feedUrl.isEmpty()) {
        setPhase({Phase::unavailable, {}});
        return;
    }
    QNetworkRequest request(m_feedUrl);
    // Always ask the server: a cached feed would hide a build published since.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(m_timeoutMs);
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;

    // The transfer time-out only measures silence; this bounds the whole request, so a server
    // that trickles bytes cannot keep the card in "checking" for ever.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(m_timeoutMs);

    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > maximumFeedBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void LiveFeedChecker::finish(QNetworkReply *reply)
{
    reply->deleteLater();
    if (m_reply == reply)
        m_reply = nullptr;

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        setPhase({Phase::unavailable, {}});
        return;
    }
    const QByteArray body = reply->read(maximumFeedBytes + 1);
    if (body.size() > maximumFeedBytes) {
        setPhase({Phase::unavailable, {}});
        return;
    }
    const auto item = AppcastLatestItem::parse(body);
    if (!item) {
        setPhase({Phase::unavailable, {}});
        return;
    }
    setPhase({Phase::live, {item->shortVersion, item->build, item->pubDate}});
}

void LiveFeedChecker::setPhase(const Phase &phase)
{
    Observed::assign(m_phase, phase, [this] { emit phaseChanged(); });
}
