#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
#include <QNetworkReply>

// Fetches the product's public update feed and reports the newest build it announces.
// A new checker starts in the checking phase; check() ends in live or unavailable and never
// goes back to checking. Every failure (no network, time-out, a status other than 200, an
// unreadable feed) reads as unavailable; no error text is kept.
class LiveFeedChecker final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)

public:
    struct LiveBuild
    {
        QString version;
        QString build; // empty when the feed gives none
        std::optional<QDateTime> date;

        bool operator==(const LiveBuild &) const = default;
    };

    struct Phase
    {
        enum Kind { checking, live, unavailable };
        Kind kind = checking;
        LiveBuild build; // meaningful only when live

        bool operator==(const Phase &) const = default;
    };

    static constexpr int defaultTimeoutMs = 10'000;
    // Bigger answers are not a feed; the check stops reading and reports unavailable.
    static constexpr qint64 maximumFeedBytes = 4 * 1024 * 1024;

    // `feedUrl` defaults to feedURL(); `network` may be shared, else the checker makes one.
    explicit LiveFeedChecker(QObject *parent = nullptr);
    LiveFeedChecker(const QUrl &feedUrl, int timeoutMs, QNetworkAccessManager *network = nullptr,
                    QObject *parent = nullptr);
    ~LiveFeedChecker() override;

    Phase phase() const { return m_phase; }

    // Starts one fetch; `phaseChanged` tells when it ends. A call while a fetch runs is ignored.
    void check();
    bool isChecking() const { return m_reply != nullptr; }

    // The info-dictionary "SUFeedURL" when it is a valid absolute URL, else the web host's
    // "/updates/appcast.xml".
    static QUrl feedURL();

signals:
    void phaseChanged();

private:
    void finish(QNetworkReply *reply);
    void setPhase(const Phase &phase);

    QUrl m_feedUrl;
    int m_timeoutMs = defaultTimeoutMs;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    Phase m_phase;
};

Q_DECLARE_METATYPE(LiveFeedChecker::Phase)
