#include "Views/Workspace/ToolbarFit.h"

#include "Theme/Controls.h"

#include <QEvent>
#include <QLayout>
#include <QToolButton>

#include <algorithm>

ToolbarFit::ToolbarFit(const Parts &parts, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
{
    m_parts.row->installEventFilter(this);
    for (QToolButton *button : std::as_const(m_parts.worded))
        button->setToolTip(button->text());
}

void ToolbarFit::setPanelLabel(const QString &label)
{
    m_panelLabel = label;
    refit();
}

void ToolbarFit::refit()
{
    QLayout *layout = m_parts.row->layout();
    const QFont font = m_parts.panelMenu->font();
    const auto showLabel = [&](int width) {
        m_parts.panelMenu->setText(escapedMnemonic(elidedName(m_panelLabel, font, width)));
    };
    const auto setWorded = [&](bool worded) {
        for (QToolButton *button : std::as_const(m_parts.worded))
            button->setToolButtonStyle(worded ? Qt::ToolButtonTextBesideIcon
                                              : Qt::ToolButtonIconOnly);
    };
    const QMargins margins = layout->contentsMargins();
    const int room = m_parts.row->width() - margins.left() - margins.right();
    // How far the row would overflow with the name whole.
    const auto overflow = [&] {
        return m_parts.title->sizeHint().width() + layout->spacing()
            + m_parts.items->sizeHint().width() - room;
    };

    showLabel(widestPanelLabel);
    setWorded(true);
    if (m_parts.items->isHidden() || overflow() <= 0)
        return;
    setWorded(false);
    const int excess = overflow();
    if (excess <= 0)
        return;
    const int full
        = QFontMetrics(font).horizontalAdvance(elidedName(m_panelLabel, font, widestPanelLabel));
    showLabel(std::max(narrowestPanelLabel, full - excess));
}

bool ToolbarFit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_parts.row
        && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        refit();
    return QObject::eventFilter(watched, event);
}
