#include "Views/Shell/AboutView.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/InfoDictionary.h"
#include "Support/Analytics.h"
#include "Theme/Controls.h"
#include "Theme/Theme.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int contentWidth = 340;

// The live card's faint rounded background.
class CardFrame final : public QWidget
{
public:
    explicit CardFrame(QWidget *parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(path, Theme::withAlpha(Theme::quaternaryFill(), 0.5));
    }
};

QString valueOrDash(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("\u2014") : value;
}

} // namespace

AboutView::AboutView(std::function<void()> checkForUpdates, LiveFeedChecker *feed,
                     Analytics *analytics, QWidget *parent)
    : QWidget(parent)
    , m_checkForUpdates(std::move(checkForUpdates))
    , m_feed(feed ? feed : new LiveFeedChecker)
    , m_analytics(analytics)
{
    m_feed->setParent(this);
    setFixedWidth(contentWidth);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 28, 20, 24);
    column->setSpacing(16);
    column->setSizeConstraint(QLayout::SetFixedSize);

    // Header.
    auto *header = new QVBoxLayout;
    header->setSpacing(10);
    auto *icon = new QLabel;
    icon->setPixmap(Symbols::applicationIconPixmap(76, devicePixelRatioF()));
    icon->setFixedSize(76, 76);
    header->addWidget(icon, 0, Qt::AlignHCenter);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    auto *name = plainLabel(QStringLiteral("Quorvel"));
    Theme::apply(name, Theme::TextStyle::title2, QFont::DemiBold);
    titles->addWidget(name, 0, Qt::AlignHCenter);
    auto *version = plainLabel(QStringLiteral("Version ") + installedVersion()
                               + QStringLiteral(" (") + installedBuild() + QStringLiteral(")"));
    version->setObjectName(QStringLiteral("versionLine"));
    Theme::applySecondary(version, Theme::TextStyle::callout);
    version->setFont(Theme::monospacedDigits(version->font()));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    titles->addWidget(version, 0, Qt::AlignHCenter);
    header->addLayout(titles);
    column->addLayout(header);

    // Live card.
    m_card = new CardFrame;
    m_card->setObjectName(QStringLiteral("liveCard"));
    m_card->setFont(Theme::font(Theme::TextStyle::callout));
    m_card->setFixedWidth(contentWidth - 40);
    m_cardLayout = new QVBoxLayout(m_card);
    m_cardLayout->setContentsMargins(12, 12, 12, 12);
    m_cardLayout->setSpacing(6);
    column->addWidget(m_card);
    rebuildCard();
    connect(m_feed, &LiveFeedChecker::phaseChanged, this, &AboutView::rebuildCard);

    // Usage statistics.
    auto *analyticsBlock = new QVBoxLayout;
    analyticsBlock->setSpacing(4);
    m_analyticsSwitch = new ToggleSwitch(QStringLiteral("Share anonymous usage stats"));
    m_analyticsSwitch->setObjectName(QStringLiteral("analyticsSwitch"));
    Theme::apply(m_analyticsSwitch, Theme::TextStyle::callout);
    if (m_analytics) {
        m_analyticsSwitch->setChecked(m_analytics->enabled());
        connect(m_analyticsSwitch, &QAbstractButton::toggled, m_analytics,
                [this](bool on) { m_analytics->setEnabled(on); });
        connect(m_analytics, &Analytics::enabledChanged, m_analyticsSwitch, [this] {
            if (m_analytics)
                m_analyticsSwitch->setChecked(m_analytics->enabled());
        });
    } else {
        m_analyticsSwitch->setEnabled(false);
    }
    analyticsBlock->addWidget(m_analyticsSwitch);
    auto *caption = plainLabel(QStringLiteral(
        "Counts sessions and feature use \u2014 never router names, labels, or addresses."));
    caption->setWordWrap(true);
    Theme::applySecondary(caption, Theme::TextStyle::caption);
    analyticsBlock->addWidget(caption);
    column->addLayout(analyticsBlock);

    // Web site.
    auto *link = new LinkButton(webHostName());
    link->setObjectName(QStringLiteral("webLink"));
    Theme::apply(link, Theme::TextStyle::callout);
    connect(link, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(InfoDictionary::webHost())); });
    column->addWidget(link, 0, Qt::AlignHCenter);
}

VersionOrder AboutView::compareVersions(const QString &a, const QString &b)
{
    return Versions::compare(a, b);
}

QString AboutView::installedVersion()
{
    return valueOrDash(InfoDictionary::value(QStringLiteral("CFBundleShortVersionString")));
}

QString AboutView::installedBuild()
{
    return valueOrDash(InfoDictionary::value(QStringLiteral("CFBundleVersion")));
}

QString AboutView::webHostName()
{
    const QUrl site(InfoDictionary::webHost());
    return site.host().isEmpty() ? InfoDictionary::webHost() : site.host();
}

QString AboutView::relationText(VersionOrder order)
{
    switch (order) {
    case VersionOrder::descending: return QStringLiteral("This install is ahead of the public feed.");
    case VersionOrder::same: return QStringLiteral("You're running the live build.");
    case VersionOrder::ascending: return QStringLiteral("A newer build is live.");
    }
    return {};
}

void AboutView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_checkStarted)
        return;
    m_checkStarted = true;
    QMetaObject::invokeMethod(m_feed, &LiveFeedChecker::check, Qt::QueuedConnection);
}

QWidget *AboutView::relationLine(const LiveFeedChecker::LiveBuild &build)
{
    const VersionOrder order = compareVersions(installedVersion(), build.version);
    auto *line = new QWidget;
    line->setObjectName(QStringLiteral("relationLine"));
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto *text = plainLabel(relationText(order));
    text->setFont(Theme::font(Theme::TextStyle::callout));
    QPalette pal = text->palette();
    pal.setColor(QPalette::WindowText,
                 order == VersionOrder::ascending ? Theme::orange() : Theme::secondaryLabel());
    text->setPalette(pal);
    row->addWidget(text);
    if (order == VersionOrder::ascending && m_checkForUpdates) {
        auto *button = new QPushButton(QStringLiteral("Check for Updates\u2026"));
        button->setObjectName(QStringLiteral("checkForUpdatesButton"));
        button->setFont(Theme::font(Theme::TextStyle::caption));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this] {
            if (m_checkForUpdates)
                m_checkForUpdates();
        });
        row->addWidget(button);
    }
    row->addStretch();
    return line;
}

void AboutView::rebuildCard()
{
    clearLayout(m_cardLayout);
    const LiveFeedChecker::Phase phase = m_feed->phase();
    const auto secondary = [](QLabel *label) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, Theme::secondaryLabel());
        label->setPalette(pal);
        return label;
    };

    switch (phase.kind) {
    case LiveFeedChecker::Phase::checking: {
        auto *row = new QHBoxLayout;
        row->setSpacing(7);
        row->addWidget(new BusyIndicator(nullptr, 12));
        row->addWidget(secondary(plainLabel(QStringLiteral("Checking the update feed\u2026"))));
        row->addStretch();
        m_cardLayout->addLayout(row);
        break;
    }
    case LiveFeedChecker::Phase::unavailable: {
        auto *row = new QHBoxLayout;
        row->setSpacing(6);
        auto *icon = new QLabel;
        icon->setPixmap(Symbols::pixmap(QStringLiteral("wifi.slash"), 14, Theme::secondaryLabel(),
                                        devicePixelRatioF()));
        row->addWidget(icon, 0, Qt::AlignTop);
        auto *text = secondary(plainLabel(QStringLiteral("Couldn't reach ") + webHostName()
                                          + QStringLiteral(" \u2014 live build unknown.")));
        text->setObjectName(QStringLiteral("unavailableText"));
        text->setWordWrap(true);
        row->addWidget(text, 1);
        m_cardLayout->addLayout(row);
        break;
    }
    case LiveFeedChecker::Phase::live: {
        auto *row = new QHBoxLayout;
        row->setSpacing(7);
        auto *dotColumn = new QVBoxLayout;
        dotColumn->setContentsMargins(0, 5, 0, 0);
        dotColumn->addWidget(new ColorDot(Theme::green(), 8));
        dotColumn->addStretch();
        row->addLayout(dotColumn);

        auto *lines = new QVBoxLayout;
        lines->setSpacing(6);
        auto *first = new QHBoxLayout;
        first->setSpacing(6);
        auto *liveText = plainLabel(QStringLiteral("Live on ") + webHostName()
                                    + QStringLiteral(": ") + phase.build.version);
        liveText->setObjectName(QStringLiteral("liveText"));
        liveText->setFont(Theme::font(Theme::TextStyle::callout, QFont::DemiBold));
        first->addWidget(liveText);
        if (phase.build.date) {
            // Abbreviated date, no time: "Dec 8, 2026".
            const QDate day = phase.build.date->toLocalTime().date();
            auto *date = secondary(
                plainLabel(QLocale().toString(day, QStringLiteral("MMM d, yyyy"))));
            date->setObjectName(QStringLiteral("liveDate"));
            first->addWidget(date);
        }
        first->addStretch();
        lines->addLayout(first);
        lines->addWidget(relationLine(phase.build));
        row->addLayout(lines, 1);
        m_cardLayout->addLayout(row);
        break;
    }
    }
}
