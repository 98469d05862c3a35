#pragma once

#include "Support/LiveFeedChecker.h"
#include "Support/VersionOrder.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class Analytics;
class QLabel;
class QVBoxLayout;
class ToggleSwitch;

// The About window's content: icon, name and installed version, the live build of the update
// feed compared with this one, the usage-statistics switch and the link to the web site.
// Exactly 340 points wide; the window takes its size from it.
class AboutView final : public QWidget
{
    Q_OBJECT

public:
    // Takes ownership of `feed`; checks it once when first shown. `checkForUpdates` may be
    // empty, which leaves the "Check for Updates…" button out.
    AboutView(std::function<void()> checkForUpdates, LiveFeedChecker *feed, Analytics *analytics,
              QWidget *parent = nullptr);

    static VersionOrder compareVersions(const QString &a, const QString &b);
    // The info dictionary's values, or "—" when the build has none.
    static QString installedVersion();
    static QString installedBuild();
    // The product's web host name as the card and the link show it.
    static QString webHostName();

    // The sentence relating the installed version to the live one.
    static QString relationText(VersionOrder order);

    LiveFeedChecker *feed() const { return m_feed; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void rebuildCard();
    QWidget *relationLine(const LiveFeedChecker::LiveBuild &build);

    std::function<void()> m_checkForUpdates;
    LiveFeedChecker *m_feed = nullptr;
    QPointer<Analytics> m_analytics;
    QWidget *m_card = nullptr;
    QVBoxLayout *m_cardLayout = nullptr;
    ToggleSwitch *m_analyticsSwitch = nullptr;
    bool m_checkStarted = false;
};
