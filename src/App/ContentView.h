#pragma once

#include "Model/RouterModels.h"
#include "Model/StoreFile.h"
#include "Views/Shell/RouterEditor.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class ConnectionStore;
class QSplitter;
class QStackedWidget;
class QuorvelView;
class RouterSidebar;

// The main window's content: the router sidebar beside the selected router's workspace, or
// an empty state when no router is selected, and the router editor as a sheet.
class ContentView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int sidebarMinimumWidth = 240;
    static constexpr int sidebarIdealWidth = 280;
    static constexpr int sidebarMaximumWidth = 360;

    explicit ContentView(ConnectionStore &store, RouterEditor::Options editorOptions = {},
                         QWidget *parent = nullptr);
    ~ContentView() override;

    ConnectionStore &store() const { return m_store; }
    RouterSidebar *sidebar() const { return m_sidebar; }
    // The workspace of the selected router; null while the empty state shows.
    QuorvelView *workspace() const { return m_workspace; }
    QWidget *emptyState() const { return m_emptyState; }

    // Whether the editor sheet is up, and the router it edits (empty for a new router).
    bool showingEditor() const { return bool(m_editor); }
    const std::optional<RouterConnection> &editing() const { return m_editing; }
    RouterEditor *editor() const { return m_editor; }

    // The window's title: the selected router's saved name (not the device name it reports).
    QString title() const { return m_title; }

    // Presents the editor for `editing`, or for a new router when it is empty.
    void presentEditor(const std::optional<RouterConnection> &editing);

    // What the window tells, once, of the store files that were unreadable at launch: each
    // file's name, where its copy is kept and why it couldn't be read.
    static QString rescueMessage(const QList<StoreFile::Rescue> &rescues);

signals:
    void titleChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showSelectedRouter();
    // What became of the store files, in a warning with OK.
    void tellFiles(const QString &objectName, const QString &title, const QString &message);
    void tellRescues();
    // Tells of the outside versions kept since the last time, in one alert.
    void tellKept();
    void setTitle(const QString &title);
    QWidget *makeEmptyState();

    ConnectionStore &m_store;
    RouterEditor::Options m_editorOptions;
    QSplitter *m_splitter = nullptr;
    RouterSidebar *m_sidebar = nullptr;
    QStackedWidget *m_detail = nullptr;
    QWidget *m_emptyState = nullptr;
    QuorvelView *m_workspace = nullptr;
    std::optional<RouterConnection> m_editing;
    QString m_title;
    QPointer<RouterEditor> m_editor;
    bool m_toldRescues = false;
    QList<StoreFile::Kept> m_kept; // not told yet
};
