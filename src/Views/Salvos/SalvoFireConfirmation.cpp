#include "Views/Salvos/SalvoFireConfirmation.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/Theme.h"
#include "Views/Salvos/SalvoViews.h"

#include <QPushButton>

using Theme::TextStyle;
using namespace SalvoViews;

SalvoFireConfirmation::SalvoFireConfirmation(RouterController &controller, const Salvo &salvo,
                                             QWidget *parent)
    : QMessageBox(parent)
    , m_controller(controller)
    , m_salvo(salvo)
    , m_alive(&controller)
{
    setObjectName(QStringLiteral("fireConfirmation"));
    setTextFormat(Qt::PlainText);
    setIconPixmap(Symbols::pixmap(QStringLiteral("rectangle.stack.badge.play"), 44,
                                  controller.connection().tint(), devicePixelRatioF()));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    m_fire = addButton(QStringLiteral("Fire"), QMessageBox::DestructiveRole);
    m_fire->setObjectName(QStringLiteral("fireButton"));
    QPushButton *cancel = addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    // Return must not fire a router by accident.
    setDefaultButton(cancel);
    setEscapeButton(cancel);

    connect(this, &QMessageBox::finished, this, [this] {
        const bool fire = clickedButton() == m_fire && m_alive;
        if (fire)
            m_controller.fireSalvo(m_salvo);
        emit concluded(fire);
    });
    // A controller that goes away takes the question with it, unanswered.
    connect(&controller, &QObject::destroyed, this, &QDialog::reject);
    // The counts and names follow the router while the question is up.
    connect(&controller, &RouterController::stateChanged, this, &SalvoFireConfirmation::refresh);
    connect(&controller, &RouterController::panelsChanged, this, &SalvoFireConfirmation::refresh);
    connect(&controller, &RouterController::activePanelIDChanged, this,
            &SalvoFireConfirmation::refresh);
    refresh();
}

void SalvoFireConfirmation::refresh()
{
    const QString title = SalvoViews::fireTitle(m_salvo);
    setWindowTitle(title);
    setText(title);
    Alerts::setPlainMessage(this, SalvoViews::fireMessage(m_controller, m_salvo));
    const auto button = SalvoViews::fireButtonTitle(m_controller.diff(m_salvo));
    m_fire->setText(escapedMnemonic(button.value_or(QString())));
    m_fire->setVisible(button.has_value());
}
