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

void ToolbarFit::setPanelLabel(const QString &label, bool isName)
{
    m_panelLabel = label;
    m_labelIsName = isName;
    refit();
}

void ToolbarFit::refit()
{
    QLayout *layout = m_parts.row->layout();
    QToolButton *panelMenu = m_parts.panelMenu;
    const QFont font = panelMenu->font();
    const auto showLabel = [&](int width) {
        panelMenu->setText(escapedMnemonic(elidedName(m_panelLabel, font, width)));
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

    // However the label is cut, it is heard whole.
    panelMenu->setAccessibleName(spokenName(m_panelLabel));
    panelMenu->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
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
    if (full - excess >= (m_labelIsName ? std::min(full, narrowestPanelLabel) : full)) {
        showLabel(full - excess);
        return;
    }
    // The symbol alone, which tells a panel from the full router, rather than a stub of a few
    // letters or of fixed words such as "Full …".
    panelMenu->setToolButtonStyle(Qt::ToolButtonIconOnly);
}

bool ToolbarFit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_parts.row
        && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        refit();
    return QObject::eventFilter(watched, event);
}
