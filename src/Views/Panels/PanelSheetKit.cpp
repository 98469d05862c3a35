#include "Views/Panels/PanelSheetKit.h"

#include "Platform/Text.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/Theme.h"

#include <QAbstractScrollArea>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyleOptionViewItem>

namespace PanelSheet {

QColor axisColor(PortKind kind)
{
    return kind == PortKind::source ? Theme::green() : Theme::orange();
}

QMessageBox *notSaved(const StoreFailure &failure, const QString &name, const QString &done,
                      QWidget *parent)
{
    const QString panel
        = QStringLiteral("Panel \u201C") + shownName(name) + QStringLiteral("\u201D");
    return Alerts::notSaved(failure.message(panel + QStringLiteral(" was ") + done,
                                            panel + QStringLiteral(" wasn't ") + done),
                            parent);
}

void tellNotSaved(const StoreOutcome &outcome, const QString &name, const QString &done,
                  QWidget *parent)
{
    if (outcome)
        notSaved(*outcome, name, done, parent)->open();
}

QString counted(int n, const QString &singular, const QString &plural)
{
    return Text::format(QStringLiteral("%1 %2"), n, n == 1 ? singular : plural);
}

QPushButton *headerButton(const QString &title, const QString &name)
{
    auto *button = new QPushButton(title);
    button->setObjectName(name);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 1px 4px; }"));
    setForeground(button, Theme::accent());
    return button;
}

void makeTransparent(QAbstractScrollArea *area)
{
    area->setFrameShape(QFrame::NoFrame);
    area->viewport()->setAutoFillBackground(false);
    area->setAutoFillBackground(false);
    area->setStyleSheet(QStringLiteral("background: transparent;"));
}

void paintHover(QPainter *painter, const QStyleOptionViewItem &option)
{
    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool selected = option.state & QStyle::State_Selected;
    if (!hovered && !selected)
        return;
    QPainterPath path;
    path.addRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 6, 6);
    painter->fillPath(path, Theme::withAlpha(Theme::label(), selected ? 0.08 : 0.05));
}

} // namespace PanelSheet
