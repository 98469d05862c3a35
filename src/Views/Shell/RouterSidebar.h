#pragma once

#include "Model/RouterModels.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <optional>

class ConnectionStore;
class QListWidget;
class QMenu;
class QToolButton;

// The main window's left column: the saved routers of the store, one row each with its icon,
// name, address and live status. Selecting a row selects the router in the store; the row's
// context menu edits, disconnects or deletes it. The sidebar asks for the editor but does not
// present it: the root view does, when editorRequested() arrives.
class RouterSidebar final : public QWidget
{
    Q_OBJECT

public:
    explicit RouterSidebar(ConnectionStore &store, QWidget *parent = nullptr);
    ~RouterSidebar() override;

    // "Delete “name”?"
    static QString deleteTitle(const RouterConnection &connection);
    // What else goes with a router, by its sub-panel and salvo counts.
    static QString deleteMessage(int panelCount, int salvoCount);
    // The same for a router, counted in the store.
    QString deleteMessage(const RouterConnection &connection) const;

    // The context menu of a router's row; "Disconnect" only while it is online.
    QMenu *contextMenu(const RouterConnection &connection, QWidget *parent);

    // Asks for confirmation before deleting `connection`; nothing is deleted until the
    // alert's "Delete" is pressed.
    void confirmDelete(const RouterConnection &connection);
    // The router waiting for the delete confirmation, and the alert asking for it.
    const std::optional<RouterConnection> &deleting() const { return m_deleting; }
    QMessageBox *deleteAlert() const { return m_deleteAlert; }

    QListWidget *list() const { return m_list; }

signals:
    // The editor is wanted: for `editing`, or for a new router when it is empty.
    void editorRequested(const std::optional<RouterConnection> &editing);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuildRows();
    void showSelection();
    void selectRow(int row);
    void showContextMenu(const QPoint &position);

    ConnectionStore &m_store;
    QListWidget *m_list = nullptr;
    QToolButton *m_addButton = nullptr;
    std::optional<RouterConnection> m_deleting;
    QPointer<QMessageBox> m_deleteAlert;
    bool m_updatingSelection = false;
};
