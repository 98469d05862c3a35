#include "Views/Panels/PanelMenu.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"

#include <QActionGroup>
#include <QMenu>
#include <QPointer>

void fillPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                   std::function<void()> onManage)
{
    menu->clear();
    // The choices' group from an earlier fill would otherwise stay behind.
    for (QActionGroup *old : menu->findChildren<QActionGroup *>(QStringLiteral("panelChoices"),
                                                                Qt::FindDirectChildrenOnly)) {
        delete old;
    }
    auto *choices = new QActionGroup(menu);
    choices->setObjectName(QStringLiteral("panelChoices"));
    choices->setExclusive(true);

    const QPointer<RouterController> guard(&controller);
    const auto addChoice
        = [&](const QIcon &icon, const QString &text, const std::optional<QUuid> &id) {
              QAction *action = menu->addAction(icon, text);
              action->setCheckable(true);
              action->setChecked(controller.activePanelID() == id);
              choices->addAction(action);
              QObject::connect(action, &QAction::triggered, menu, [guard, id] {
                  if (guard)
                      guard->setActivePanelID(id);
              });
          };
    addChoice(Symbols::icon(QStringLiteral("rectangle.grid.3x2")), QStringLiteral("Full Router"),
              std::nullopt);
    for (const SubPanel &panel : controller.panels())
        addChoice(QIcon(), escapedMnemonic(elidedName(panel.name, menu->font(), 360)), panel.id);

    menu->addSeparator();
    QAction *add
        = menu->addAction(Symbols::icon(QStringLiteral("plus")), QStringLiteral("New Panel\u2026"));
    QObject::connect(add, &QAction::triggered, menu, [onNew] {
        if (onNew)
            onNew();
    });
    if (!controller.panels().isEmpty()) {
        QAction *manage = menu->addAction(Symbols::icon(QStringLiteral("slider.horizontal.3")),
                                          QStringLiteral("Edit Panels\u2026"));
        QObject::connect(manage, &QAction::triggered, menu, [onManage] {
            if (onManage)
                onManage();
        });
    }
}

void attachPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                     std::function<void()> onManage)
{
    fillPanelMenu(menu, controller, onNew, onManage);
    const QPointer<RouterController> guard(&controller);
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, guard, onNew, onManage] {
        if (guard)
            fillPanelMenu(menu, *guard, onNew, onManage);
    });
}
