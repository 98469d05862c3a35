#include "App/ContentView.h"

#include "Controllers/ConnectionStore.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Alerts.h"
#include "Theme/FocusOrder.h"
#include "Theme/Theme.h"
#include "Views/Shell/RouterSidebar.h"
#include "Views/Workspace/QuorvelView.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

ContentView::ContentView(ConnectionStore &store, RouterEditor::Options editorOptions,
                         QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_editorOptions(std::move(editorOptions))
{
    setMinimumSize(860, 560);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);
    layout->addWidget(m_splitter);

    m_sidebar = new RouterSidebar(store);
    m_sidebar->setMinimumWidth(sidebarMinimumWidth);
    m_sidebar->setMaximumWidth(sidebarMaximumWidth);
    connect(m_sidebar, &RouterSidebar::editorRequested, this, &ContentView::presentEditor);

    m_detail = new QStackedWidget;
    m_detail->setAutoFillBackground(true);
    QPalette pal = m_detail->palette();
    pal.setColor(QPalette::Window, Theme::controlBackground());
    m_detail->setPalette(pal);
    m_emptyState = makeEmptyState();
    m_detail->addWidget(m_emptyState);

    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detail);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({ sidebarIdealWidth, 1180 - sidebarIdealWidth });

    connect(&m_store, &ConnectionStore::selectedConnectionIDChanged, this,
            &ContentView::showSelectedRouter);
    connect(&m_store, &ConnectionStore::connectionsChanged, this, &ContentView::showSelectedRouter);
    // An unchanged Save replaces the controller without changing the list.
    connect(&m_store, &ConnectionStore::controllerDropped, this, &ContentView::showSelectedRouter);
    // A save can write several files (a router's removal writes all four): one alert for all.
    connect(&m_store, &ConnectionStore::outsideVersionKept, this,
            [this](const StoreFile::Kept &kept) {
                m_kept.append(kept);
                if (m_kept.size() == 1)
                    QTimer::singleShot(0, this, &ContentView::tellKept);
            });
    showSelectedRouter();
    // Sidebar, then the workspace top to bottom, however its parts are rebuilt.
    FocusOrder::keep(this);
}

ContentView::~ContentView() = default;

QWidget *ContentView::makeEmptyState()
{
    auto *panel = new QWidget;
    panel->setObjectName(QStringLiteral("emptyState"));
    auto *column = new QVBoxLayout(panel);
    column->setSpacing(8);
    column->addStretch(1);

    auto *symbol = new QLabel;
    symbol->setPixmap(Symbols::pixmap(QStringLiteral("point.3.connected.trianglepath.dotted"), 44,
                                      Theme::tertiaryLabel(), devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignHCenter);
    column->addWidget(symbol);
    column->addSpacing(6);

    auto *title = new QLabel(tr("Select a Router"));
    title->setObjectName(QStringLiteral("emptyTitle"));
    Theme::apply(title, Theme::TextStyle::title2, QFont::DemiBold);
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);

    auto *description = new QLabel(tr("Choose a router from the sidebar, or add a new one."));
    description->setObjectName(QStringLiteral("emptyDescription"));
    Theme::applySecondary(description, Theme::TextStyle::body);
    description->setAlignment(Qt::AlignHCenter);
    description->setWordWrap(true);
    column->addWidget(description);
    column->addStretch(1);
    return panel;
}

void ContentView::showSelectedRouter()
{
    const std::optional<RouterConnection> selected = m_store.selectedConnection();
    if (!selected) {
        m_detail->setCurrentWidget(m_emptyState);
        setTitle(tr("Quorvel"));
        if (m_workspace) {
            m_detail->removeWidget(m_workspace);
            m_workspace->deleteLater();
            m_workspace = nullptr;
        }
        return;
    }

    ConnectionStore::ControllerPtr controller = m_store.controller(*selected);
    // Another router, or the same one edited (which gets a fresh controller), gets a fresh
    // workspace; the workspace holds nothing that must outlive its controller.
    if (m_workspace && m_workspace->controller() == controller)
        return;
    if (m_workspace) {
        m_detail->removeWidget(m_workspace);
        m_workspace->deleteLater();
    }
    m_workspace = new QuorvelView(std::move(controller));
    m_detail->addWidget(m_workspace);
    m_detail->setCurrentWidget(m_workspace);
    setTitle(selected->name);
}

void ContentView::setTitle(const QString &title)
{
    if (title == m_title)
        return;
    m_title = title;
    emit titleChanged();
}

void ContentView::presentEditor(const std::optional<RouterConnection> &editing)
{
    if (m_editor)
        return; // a sheet is already up; it is window-modal, so this is a stray request
    m_editing = editing;
    auto *editor = new RouterEditor(m_store, editing, m_editorOptions, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setWindowModality(Qt::WindowModal);
    m_editor = editor;
    editor->open();
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // The store runs the launch connect once per launch; later calls do nothing.
    QTimer::singleShot(0, &m_store, [store = &m_store] { store->autoConnectOnLaunch(); });
    if (!std::exchange(m_toldRescues, true))
        QTimer::singleShot(0, this, &ContentView::tellRescues);
}

QString ContentView::rescueMessage(const QList<StoreFile::Rescue> &rescues)
{
    QStringList lines;
    for (const StoreFile::Rescue &rescue : rescues) {
        // The parser's and the system's texts are phrases, not sentences.
        QString reason = rescue.reason.trimmed();
        if (reason.endsWith(u'.'))
            reason.chop(1);
        lines.append(
            rescue.copyPath
                ? tr("“%1” was moved to “%2”, and Quorvel started without it (%3).")
                      .arg(rescue.fileName,
                           Text::isolated(QDir::toNativeSeparators(*rescue.copyPath)), reason)
                : tr("“%1” couldn't be moved aside, so it was left where it is and "
                     "Quorvel started without it (%2); changes to it aren't saved until it "
                     "is moved away.")
                      .arg(rescue.fileName, reason));
    }
    return lines.join(QStringLiteral("\n\n"));
}

void ContentView::tellFiles(const QString &objectName, const QString &title, const QString &message)
{
    QMessageBox *box = Alerts::warning(objectName, title, message, window());
    QPushButton *ok = box->addButton(tr("OK"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    box->open();
}

void ContentView::tellRescues()
{
    const QList<StoreFile::Rescue> rescues = m_store.rescues();
    if (rescues.isEmpty())
        return;
    const QString title = rescues.size() == 1
        ? tr("Quorvel couldn't read “%1”").arg(rescues.first().fileName)
        : tr("Quorvel couldn't read %1 of its files").arg(rescues.size());
    tellFiles(QStringLiteral("unreadableFilesAlert"), title, rescueMessage(rescues));
}

void ContentView::tellKept()
{
    const QList<StoreFile::Kept> kept = std::exchange(m_kept, {});
    if (kept.isEmpty())
        return;
    QStringList lines;
    for (const StoreFile::Kept &file : kept)
        lines.append(
            tr("“%1” was changed outside Quorvel while it ran. That version was kept as "
               "“%2”, and Quorvel saved its own in its place.")
                .arg(file.fileName, Text::isolated(QDir::toNativeSeparators(file.copyPath))));
    const QString title = kept.size() == 1
        ? tr("“%1” was changed outside Quorvel").arg(kept.first().fileName)
        : tr("%1 files were changed outside Quorvel").arg(kept.size());
    tellFiles(QStringLiteral("outsideChangeAlert"), title, lines.join(QStringLiteral("\n\n")));
}
