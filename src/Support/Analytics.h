#pragma once

#include "Model/RouterModels.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QSizeF>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QTimer;

// Anonymous usage events: one at launch, one per router connection, and a heartbeat every
// ten minutes with the takes and salvo fires counted since the previous one. Opt-out through
// the user default "analyticsOptOut". Sending is fire-and-forget: nothing waits for a reply
// and no failure is ever reported. Lives on the UI thread.
class Analytics final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(int takeCount READ takeCount WRITE setTakeCount NOTIFY takeCountChanged)
    Q_PROPERTY(int salvoCount READ salvoCount WRITE setSalvoCount NOTIFY salvoCountChanged)

public:
    // Width and height of the main screen in points; std::nullopt when there is none.
    using ScreenSizeProvider = std::function<std::optional<QSizeF>()>;
    using Clock = std::function<QDateTime()>;

    struct Options
    {
        // The collection service's send operation; empty means the build's analytics host
        // followed by "/api/send".
        QUrl endpoint;
        std::chrono::milliseconds heartbeatInterval = std::chrono::seconds(600);
        // Wall clock for the time the application has been open; empty means the real one.
        Clock now;
    };

    explicit Analytics(QObject *parent = nullptr);
    explicit Analytics(Options options, QObject *parent = nullptr);
    ~Analytics() override;

    // The application's instance, created on first use (which stands for the launch time).
    static Analytics &shared();

    // The application sets this once its screens are known; without it events say "0x0".
    void setScreenSizeProvider(ScreenSizeProvider provider);

    // Sends the launch event and starts the heartbeat, only when enabled at this moment.
    void start();
    // The connect event, with the saved router's vendor.
    void connected(RouterVendor vendor);

    bool enabled() const { return m_enabled; }
    // Every assignment stores "analyticsOptOut" as the negation; observers hear of changes.
    void setEnabled(bool enabled);

    // Takes and salvo fires since the last heartbeat; the controller adds 1 per take sent
    // and per salvo fired, whether or not events are enabled.
    int takeCount() const { return m_takeCount; }
    void setTakeCount(int count);
    int salvoCount() const { return m_salvoCount; }
    void setSalvoCount(int count);

    QDateTime launchDate() const { return m_launchDate; }
    bool isHeartbeatRunning() const { return m_heartbeat != nullptr; }

    // The request body of one event (compact JSON); "data" only when `data` has members.
    static QByteArray eventBody(const QString &name, const QString &urlPath,
                                const QJsonObject &data, const QString &screen);
    // "1512x982": whole points, fraction dropped; "0x0" without a screen.
    static QString screenText(const std::optional<QSizeF> &size);
    // The system the application runs on, as the launch event names it.
    static QString platformName();

signals:
    void enabledChanged();
    void takeCountChanged();
    void salvoCountChanged();

private:
    void beat();
    void send(const QString &name, const QString &urlPath, const QJsonObject &data = {});
    QDateTime now() const;

    Options m_options;
    ScreenSizeProvider m_screenSize;
    bool m_enabled = true;
    int m_takeCount = 0;
    int m_salvoCount = 0;
    QDateTime m_launchDate;
    QTimer *m_heartbeat = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    QString m_userAgent;
};
