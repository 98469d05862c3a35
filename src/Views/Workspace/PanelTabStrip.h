#pragma once

#include "Model/RouterModels.h"

#include <QList>
#include <QUuid>
#include <QWidget>

#include <optional>

class QAbstractButton;
class QHBoxLayout;
class QMenu;
class QScrollArea;
class QSpacerItem;
class QToolButton;
class QVariantAnimation;
class RouterController;

// The row of sub-panel tabs above the routing area: "All" for the whole router, then one tab
// per panel of `controller.panels()` in their stored order, and a "+" button. Clicking a tab
// makes its panel the controller's active one ("All" clears it); the active tab is drawn
// strong and underlined in the router colour, and scrolled to the middle when it changes.
//
//     auto *strip = new PanelTabStrip(controller, parent);
//     connect(strip, &PanelTabStrip::newRequested, ...);     // open the panel editor
//     connect(strip, &PanelTabStrip::editRequested, ...);    // edit that panel
//     connect(strip, &PanelTabStrip::deleteRequested, ...);  // confirm, then delete
//
// The strip keeps no state of its own. It duplicates a panel itself (through the
// controller); creating, editing and deleting are the creator's, reported by the signals.
// The workspace shows it only while the router has sub-panels.
class PanelTabStrip final : public QWidget
{
    Q_OBJECT

public:
    explicit PanelTabStrip(RouterController &controller, QWidget *parent = nullptr);

    // The tab of a panel, or "All" for an empty id; null when there is none.
    QAbstractButton *tab(const std::optional<QUuid> &panelID) const;
    // "All", then the panel tabs in their order.
    QList<QAbstractButton *> tabs() const;
    // The "+" button.
    QAbstractButton *newButton() const;
    // The part that scrolls: the panel tabs and "+".
    QScrollArea *scrollArea() const { return m_scroll; }

    // A panel tab's context menu: "Edit Panel…", "Duplicate", a divider, "Delete…". The menu
    // is the caller's to show and delete; give it a parent that outlives the tabs, since
    // "Duplicate" rebuilds them.
    QMenu *contextMenu(const SubPanel &panel, QWidget *parent);

    // "3 in × 5 out": the panel's port counts, shown when hovering its tab.
    static QString helpText(const SubPanel &panel);

signals:
    void newRequested();
    void editRequested(const SubPanel &panel);
    void deleteRequested(const SubPanel &panel);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuildTabs();
    void boundTabs();
    void showActive();
    void scrollToActive(bool animated);

    RouterController &m_controller;
    QSpacerItem *m_caption = nullptr;
    QAbstractButton *m_allTab = nullptr;
    QScrollArea *m_scroll = nullptr;
    QHBoxLayout *m_tabRow = nullptr;
    QToolButton *m_newButton = nullptr;
    QList<QAbstractButton *> m_panelTabs;
    QVariantAnimation *m_scrolling = nullptr;
};
