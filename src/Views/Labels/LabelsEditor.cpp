#include "Views/Labels/LabelsEditor.h"

#include "Controllers/RouterController.h"
#include "Model/LabelStore.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/AccessibleRows.h"
#include "Theme/Controls.h"
#include "Theme/SectionCard.h"
#include "Theme/SheetFit.h"
#include "Theme/Theme.h"
#include "Views/Labels/LabelRowDelegate.h"
#include "Views/Labels/LabelsFormKit.h"
#include "Views/Labels/PasteLabelsSheet.h"

#include <QAccessibleActionInterface>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

// Imported labels are bounded like names from a router.
static_assert(LabelImport::maxLabelLength == maxRouterNameLength);

using namespace LabelsFormKit;
using namespace Qt::StringLiterals;

namespace {

constexpr int editorWidth = 560;
constexpr int editorHeight = 660;

// A reason as a sentence of its own: the platform's texts come without a full stop.
QString sentence(const QString &reason)
{
    const QString text = reason.trimmed();
    if (text.isEmpty() || text.endsWith(u'.') || text.endsWith(u'!') || text.endsWith(u'?'))
        return text;
    return text + u'.';
}

QString plural(qsizetype count, const QString &noun)
{
    return Text::format(QStringLiteral("%1 %2%3"), count, noun, count == 1 ? QString() : u"s"_s);
}

// "Imported N names from <from>", and what the import left out or cut, with where; empty
// `left` when it took everything.
QString importedText(qsizetype count, const LabelImport::Notes &notes, const QString &from,
                     QStringList &left)
{
    if (notes.skipped > 0)
        left.append(Text::format(QStringLiteral("skipped %1 beyond port %2"), notes.skipped,
                                 LabelImport::maxPortNumber));
    if (notes.cutLabels > 0)
        left.append(Text::format(QStringLiteral("cut %1 to %2 characters"),
                                 plural(notes.cutLabels, u"name"_s), LabelImport::maxLabelLength));
    if (notes.cutLines == 1)
        left.append(Text::format(QStringLiteral("read line %1 only to its first %2 characters"),
                                 notes.firstCutLine, LabelImport::maxLineLength));
    else if (notes.cutLines > 1)
        left.append(Text::format(QStringLiteral("read %1 lines, the first line %2, only to their "
                                                "first %3 characters"),
                                 notes.cutLines, notes.firstCutLine, LabelImport::maxLineLength));
    // Rows given that brought fewer names in than rows say so, and why.
    if (notes.emptyRows > 0)
        left.append(Text::format(QStringLiteral("%1 gave no name, as %2 name cells were empty"),
                                 plural(notes.emptyRows, u"row"_s),
                                 notes.emptyRows == 1 ? u"its"_s : u"their"_s));
    if (notes.unnumberedRows > 0)
        left.append(Text::format(QStringLiteral("%1 gave no name, as %2 below 1"),
                                 plural(notes.unnumberedRows, u"row"_s),
                                 notes.unnumberedRows == 1 ? u"its number was"_s
                                                           : u"their numbers were"_s));
    if (notes.replaced > 0)
        left.append(Text::format(QStringLiteral("%1 gave way to a later row naming the same port"),
                                 plural(notes.replaced, u"name"_s)));
    if (notes.brokenAt)
        left.append(QStringLiteral("nothing after line %1, column %2 was read: %3")
                        .arg(QString::number(notes.brokenAt->line),
                             QString::number(notes.brokenAt->column),
                             sentence(notes.brokenAt->reason)));
    QString text = QStringLiteral("Imported %1 from %2").arg(plural(count, u"name"_s), from);
    if (!left.isEmpty())
        text += QStringLiteral(", but ") + left.join(QStringLiteral("; "));
    return text;
}

// A side's rows: sized to all of them inside the sheet's scroll area, so it never scrolls by
// itself and paints only the rows the scroll area shows. Clicking a name edits it at once;
// Tab past the last row (or Shift+Tab before the first) moves on to the next field. Screen
// readers get each row with its port number, and Revert as an action of a changed row.
class LabelRowsView final : public QTableView, public AccessibleRows
{
public:
    explicit LabelRowsView(QWidget *parent = nullptr)
        : QTableView(parent)
    {
        AccessibleRows::install();
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        horizontalHeader()->hide();
        horizontalHeader()->setStretchLastSection(true);
        verticalHeader()->hide();
        verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        verticalHeader()->setMinimumSectionSize(1);
        setShowGrid(false);
        setSelectionMode(QAbstractItemView::NoSelection);
        setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::EditKeyPressed
                        | QAbstractItemView::AnyKeyPressed);
        setTabKeyNavigation(false);
        setAutoScroll(false);
        setMouseTracking(true);
        setAutoFillBackground(false);
        viewport()->setAutoFillBackground(false);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setRowHeight(int height)
    {
        verticalHeader()->setDefaultSectionSize(height);
        fitRows();
    }

    // The whole list's height; called whenever the row count changes.
    void fitRows()
    {
        const int rows = model() ? model()->rowCount() : 0;
        setFixedHeight(rows * verticalHeader()->defaultSectionSize());
    }

    static inline const QString revertAction = QStringLiteral("Revert");

    QStringList rowActions(const QModelIndex &row) const override
    {
        if (row.data(LabelRowsModel::changedRole).toBool())
            return { QAccessibleActionInterface::pressAction(), revertAction };
        return { QAccessibleActionInterface::pressAction() };
    }

    void doRowAction(const QModelIndex &row, const QString &action) override
    {
        if (action == revertAction) {
            static_cast<LabelRowsModel *>(model())->revert(row.row());
        } else if (action == QAccessibleActionInterface::pressAction()) {
            setFocus(Qt::OtherFocusReason);
            if (row == currentIndex())
                edit(row);
            else
                setCurrentIndex(row);
        }
    }

    QAccessible::State rowState(const QModelIndex &) const override
    {
        QAccessible::State state;
        state.editable = true;
        return state;
    }

protected:
    // A table would announce the focus by cell, counting its hidden headers; a screen reader
    // knows these rows by row alone.
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override
    {
        if (QAccessible::isActive() && current.isValid() && hasFocus()) {
            QAccessibleEvent event(this, QAccessible::Focus);
            event.setChild(current.row());
            QAccessible::updateAccessibility(&event);
        }
        QAbstractItemView::currentChanged(current, previous);
    }

    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override
    {
        const int row = currentIndex().row();
        const bool pastEnd
            = hint == QAbstractItemDelegate::EditNextItem && row == model()->rowCount() - 1;
        const bool beforeStart = hint == QAbstractItemDelegate::EditPreviousItem && row == 0;
        if (!pastEnd && !beforeStart) {
            QTableView::closeEditor(editor, hint);
            return;
        }
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
        QWidget::focusNextPrevChild(pastEnd);
    }

    // Tab into the list edits its first name, Shift+Tab its last.
    void focusInEvent(QFocusEvent *event) override
    {
        const int rows = model() ? model()->rowCount() : 0;
        const bool tabbed
            = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        if (tabbed && rows > 0 && state() != EditingState) {
            const QModelIndex target
                = model()->index(event->reason() == Qt::TabFocusReason ? 0 : rows - 1, 0);
            if (target == currentIndex())
                edit(target);
            else
                setCurrentIndex(target);
        }
        QTableView::focusInEvent(event);
    }

    // Return in a name field is "Done", as in any other field of the sheet.
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->ignore();
            return;
        }
        if (event->keyCombination() == LabelRowsModel::revertKey && currentIndex().isValid()) {
            static_cast<LabelRowsModel *>(model())->revert(currentIndex().row());
            return;
        }
        QTableView::keyPressEvent(event);
    }

    // The revert button of a changed row: a press and a release on it put the original back.
    QModelIndex revertAt(const QPoint &pos) const
    {
        const QModelIndex index = indexAt(pos);
        if (!index.isValid() || !index.data(LabelRowsModel::changedRole).toBool()
            || !LabelRowDelegate::revertRect(visualRect(index)).contains(pos))
            return {};
        return index;
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        const QPoint pos = event->position().toPoint();
        if (event->button() == Qt::LeftButton) {
            m_pressedRevert = revertAt(pos);
            if (m_pressedRevert.isValid())
                return;
        }
        const QModelIndex before = currentIndex();
        QTableView::mousePressEvent(event);
        const QModelIndex index = indexAt(pos);
        if (event->button() == Qt::LeftButton && index.isValid() && index == before
            && state() != EditingState
            && LabelRowDelegate::nameRect(visualRect(index)).contains(pos))
            edit(index);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (m_pressedRevert.isValid()) {
            const QModelIndex pressed = m_pressedRevert;
            m_pressedRevert = QPersistentModelIndex();
            if (event->button() == Qt::LeftButton
                && revertAt(event->position().toPoint()) == pressed)
                static_cast<LabelRowsModel *>(model())->revert(pressed.row());
            return;
        }
        QTableView::mouseReleaseEvent(event);
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (!revertAt(event->position().toPoint()).isValid())
            QTableView::mouseDoubleClickEvent(event);
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        QTableView::mouseMoveEvent(event);
        const QPoint pos = event->position().toPoint();
        const QModelIndex index = indexAt(pos);
        const QRect row = visualRect(index);
        viewport()->setCursor(index.isValid() && LabelRowDelegate::nameRect(row).contains(pos)
                                  ? Qt::IBeamCursor
                                  : Qt::ArrowCursor);
        // The revert button's hover look belongs to a part of the row.
        const bool overRevert = index.isValid() && LabelRowDelegate::revertRect(row).contains(pos);
        if (overRevert != m_overRevert || index != m_hovered) {
            viewport()->update(visualRect(m_hovered));
            viewport()->update(row);
            m_overRevert = overRevert;
            m_hovered = index;
        }
    }

    void leaveEvent(QEvent *event) override
    {
        QTableView::leaveEvent(event);
        viewport()->update(visualRect(m_hovered));
        m_hovered = QPersistentModelIndex();
        m_overRevert = false;
    }

    // The sheet's scroll area scrolls, not the list.
    void wheelEvent(QWheelEvent *event) override { event->ignore(); }

private:
    QPersistentModelIndex m_hovered;
    QPersistentModelIndex m_pressedRevert;
    bool m_overRevert = false;
};

} // namespace

LabelsEditor::LabelsEditor(RouterController &controller, Options options, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_options(std::move(options))
{
    setWindowTitle(QStringLiteral("Edit Labels"));
    SheetFit::apply(this, { editorWidth, editorHeight });
    QPalette pal = palette();
    pal.setColor(QPalette::Highlight, m_controller.connection().tint());
    setPalette(pal);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *top = new QHBoxLayout;
    top->setContentsMargins(20, 12, 14, 10);
    auto *heading = plainLabel(windowTitle());
    Theme::apply(heading, Theme::TextStyle::headline, QFont::DemiBold);
    top->addWidget(heading);
    top->addStretch();
    top->addWidget(buildImportExportMenu());
    root->addLayout(top);
    root->addWidget(hairline());

    m_form = new QWidget;
    m_form->setObjectName(QStringLiteral("labelsForm"));
    auto *sections = new QVBoxLayout(m_form);
    sections->setContentsMargins(20, 16, 20, 20);
    sections->setSpacing(18);
    sections->addWidget(buildImportExportSection());
    sections->addWidget(buildBanner());
    sections->addWidget(buildSide(m_sources, m_controller.state().sources,
                                  QStringLiteral("Sources"),
                                  QStringLiteral("arrow.right.circle.fill")));
    sections->addWidget(buildSide(m_dests, m_controller.state().destinations,
                                  QStringLiteral("Destinations"),
                                  QStringLiteral("arrow.down.right.circle.fill")));
    sections->addStretch();

    m_scroll = new QScrollArea;
    m_scroll->setObjectName(QStringLiteral("labelsScroll"));
    m_scroll->setFocusPolicy(Qt::NoFocus); // the fields take the focus; the form follows it
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_form);
    root->addWidget(m_scroll, 1);

    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *done = new QPushButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("doneButton"));
    connect(done, &QPushButton::clicked, this, &LabelsEditor::applyAll);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    done->setDefault(true);
    addSheetButtons(root, { cancel, done });
}

QWidget *LabelsEditor::buildImportExportSection()
{
    const QColor tint = m_controller.connection().tint();
    struct Action
    {
        QString title;
        QString symbol;
        QString name;
        QColor color;
        void (LabelsEditor::*run)();
    };
    const QList<Action> actions {
        { QStringLiteral("Paste from Spreadsheet…"), QStringLiteral("doc.on.clipboard"),
          QStringLiteral("pasteButton"), tint, &LabelsEditor::showPasteSheet },
        { QStringLiteral("Import File…"), QStringLiteral("square.and.arrow.down"),
          QStringLiteral("importButton"), tint, &LabelsEditor::chooseImportFile },
        { QStringLiteral("Copy as XML"), QStringLiteral("doc.text"),
          QStringLiteral("copyXmlButton"), tint, &LabelsEditor::copyAsXml },
        { QStringLiteral("Copy as Spreadsheet"), QStringLiteral("tablecells"),
          QStringLiteral("copyTsvButton"), tint, &LabelsEditor::copyAsSpreadsheet },
        { QStringLiteral("Reset to Device Names"), QStringLiteral("arrow.uturn.backward"),
          QStringLiteral("resetButton"), Theme::red(), &LabelsEditor::resetToDeviceNames },
    };
    auto *block = new QWidget;
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    auto *title = sectionTitle(QStringLiteral("Import / Export"));
    title->setContentsMargins(rowInset, 0, rowInset, 0);
    layout->addWidget(title);
    auto *panel = new SectionCard;
    auto *rows = new QVBoxLayout(panel);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->setSpacing(0);
    for (const Action &action : actions) {
        if (rows->count() > 0) {
            auto *line = new EditRow(true);
            line->setFixedHeight(1);
            rows->addWidget(line);
        }
        auto *button = new FormButton(action.title, action.symbol, action.color);
        button->setObjectName(action.name);
        connect(button, &QAbstractButton::clicked, this, action.run);
        rows->addWidget(button);
    }
    layout->addWidget(panel);
    return block;
}

QToolButton *LabelsEditor::buildImportExportMenu()
{
    auto *button = new QToolButton;
    button->setObjectName(QStringLiteral("importExportMenuButton"));
    button->setText(QStringLiteral("Import / Export"));
    button->setIcon(Symbols::icon(QStringLiteral("square.and.arrow.up.on.square")));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setAutoRaise(true);

    auto *menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("importExportMenu"));
    const auto add = [this, menu](const QString &title, const QString &symbol,
                                  void (LabelsEditor::*run)(), const QColor &color = {}) {
        QAction *action = menu->addAction(Symbols::icon(symbol, color), title);
        connect(action, &QAction::triggered, this, run);
    };
    add(QStringLiteral("Paste from Spreadsheet…"), QStringLiteral("doc.on.clipboard"),
        &LabelsEditor::showPasteSheet);
    add(QStringLiteral("Import File…"), QStringLiteral("square.and.arrow.down"),
        &LabelsEditor::chooseImportFile);
    menu->addSeparator();
    add(QStringLiteral("Copy as XML"), QStringLiteral("doc.text"), &LabelsEditor::copyAsXml);
    add(QStringLiteral("Copy as Spreadsheet"), QStringLiteral("tablecells"),
        &LabelsEditor::copyAsSpreadsheet);
    menu->addSeparator();
    add(QStringLiteral("Reset to Device Names"), QStringLiteral("arrow.uturn.backward"),
        &LabelsEditor::resetToDeviceNames, Theme::red());
    button->setMenu(menu);
    return button;
}

QWidget *LabelsEditor::buildBanner()
{
    m_banner = new SectionCard;
    m_banner->setObjectName(QStringLiteral("banner"));
    auto *layout = new QHBoxLayout(m_banner);
    layout->setContentsMargins(rowInset, 9, rowInset, 9);
    layout->setSpacing(8);
    const int size = qRound(Theme::pointSize(Theme::TextStyle::callout) * 1.25);
    m_bannerSymbol = symbolLabel(QStringLiteral("checkmark.circle.fill"), size, Theme::green());
    m_bannerSymbol->setObjectName(QStringLiteral("bannerSymbol"));
    layout->addWidget(m_bannerSymbol, 0, Qt::AlignTop);
    m_bannerText = plainLabel();
    m_bannerText->setObjectName(QStringLiteral("bannerText"));
    m_bannerText->setWordWrap(true);
    Theme::apply(m_bannerText, Theme::TextStyle::callout);
    setForeground(m_bannerText, Theme::green());
    layout->addWidget(m_bannerText, 1);
    m_banner->hide();
    return m_banner;
}

QWidget *LabelsEditor::buildSide(Side &side, const QList<Port> &ports, const QString &title,
                                 const QString &symbol)
{
    auto *block = new QWidget;
    block->setObjectName(title.toLower() + QStringLiteral("Section"));
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(rowInset, 0, rowInset, 0);
    header->setSpacing(6);
    header->addWidget(symbolLabel(symbol, 13, Theme::secondaryLabel()));
    header->addWidget(sectionTitle(title));
    header->addStretch();
    side.count = plainLabel();
    side.count->setObjectName(title.toLower() + QStringLiteral("Count"));
    side.count->setFont(Theme::monospacedDigits(Theme::font(Theme::TextStyle::caption)));
    setForeground(side.count, Theme::secondaryLabel());
    header->addWidget(side.count);
    layout->addLayout(header);

    side.panel = new SectionCard;
    auto *panelLayout = new QVBoxLayout(side.panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    side.model = new LabelRowsModel(LabelRowsModel::rowsFor(ports), this);
    side.delegate = new LabelRowDelegate(this);
    auto *view = new LabelRowsView;
    view->setObjectName(title.toLower() + QStringLiteral("List"));
    view->setAccessibleName(title);
    view->setItemDelegate(side.delegate);
    view->setModel(side.model);
    view->setRowHeight(side.delegate->rowHeight());
    side.view = view;
    panelLayout->addWidget(view);
    layout->addWidget(side.panel);

    // Keyboard moves through the rows inside the sheet's scroll area, so follow them there.
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this, view](const QModelIndex &current) {
                if (!current.isValid())
                    return;
                const QRect row = view->visualRect(current);
                const QPoint centre = view->viewport()->mapTo(m_form, row.center());
                m_scroll->ensureVisible(centre.x(), centre.y(), 0, row.height());
            });
    syncSide(side);
    return block;
}

void LabelsEditor::syncSide(Side &side)
{
    static_cast<LabelRowsView *>(side.view)->fitRows();
    side.count->setText(QString::number(side.model->rowCount()));
    side.panel->setVisible(side.model->rowCount() > 0);
}

void LabelsEditor::showPasteSheet()
{
    auto *sheet = new PasteLabelsSheet(
        [editor = QPointer(this)](const ParsedLabels &labels, const LabelImport::Notes &notes) {
            if (editor)
                editor->mergeImported(labels, notes, QStringLiteral("spreadsheet"));
        },
        this);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void LabelsEditor::chooseImportFile()
{
    if (m_options.chooseFile) {
        const QString path = m_options.chooseFile();
        if (!path.isEmpty())
            importFile(path);
        return;
    }
    auto *dialog = new QFileDialog(this);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters({ QStringLiteral("Label files (*.xml *.txt *.csv *.tsv)"),
                             QStringLiteral("All files (*)") });
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, &LabelsEditor::importFile);
    dialog->open();
}

void LabelsEditor::importFile(const QString &path)
{
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    const auto refuse = [&](const QString &reason) {
        setBanner(
            QStringLiteral("Couldn't read %1. %2").arg(Text::isolated(fileName), sentence(reason)),
            true);
    };
    const auto file = LabelImport::openFile(path);
    if (!file) {
        refuse(file.error());
        return;
    }
    // Read a piece at a time. An XML document that breaks off still gives what was read
    // before the break; a file that isn't text gives nothing.
    LabelImport::Notes notes;
    const LabelImport::FileLabels parsed = info.suffix().toLower() == QLatin1String("xml")
        ? LabelXMLDelegate::parse(**file, &notes)
        : LabelImport::parseDelimitedFile(**file, DelimitedTarget::both, &notes);
    if (!parsed) {
        refuse(parsed.error());
        return;
    }
    mergeImported(*parsed, notes, Text::isolated(fileName));
}

void LabelsEditor::mergeImported(ParsedLabels labels, LabelImport::Notes notes, const QString &from)
{
    notes.cutLabels = LabelImport::cutLongLabels(labels);
    const auto failure = m_controller.labelStore().merge(labels, m_controller.id());
    m_controller.applyLabelOverrides();
    if (failure && failure->kind == StoreFailure::Kind::refused) {
        setBanner(failure->message({}, QStringLiteral("Nothing was imported from %1").arg(from)),
                  true);
        return;
    }
    // Counted before the store drops blank names, as the operator pasted them.
    const qsizetype count = labels.sources.size() + labels.destinations.size();
    reloadBuffers(labels);
    QStringList left;
    const QString done = importedText(count, notes, from, left);
    if (failure && left.isEmpty())
        setBanner(failure->message(done, {}), true);
    else if (failure)
        setBanner(QStringLiteral("%1 The labels file couldn't be written either, so the change "
                                 "is lost when Quorvel quits. %2")
                      .arg(sentence(done), sentence(failure->reason)),
                  true);
    else // nothing imported is no success either
        setBanner(sentence(done), !left.isEmpty() || count == 0);
}

void LabelsEditor::copyAsXml()
{
    qsizetype changed = 0;
    const QString text = LabelExport::xml(m_controller.state(), &changed);
    copyExport(text, u"Copied XML to clipboard"_s, changed,
               u"characters XML can't hold became “\uFFFD” in %1"_s);
}

void LabelsEditor::copyAsSpreadsheet()
{
    qsizetype changed = 0;
    const QString text = LabelExport::tsv(m_controller.state(), &changed);
    copyExport(text, u"Copied TSV to clipboard"_s, changed,
               u"tabs and line breaks became spaces in %1: a spreadsheet cell can't hold them"_s);
}

void LabelsEditor::copyExport(const QString &text, const QString &copied, qsizetype changed,
                              const QString &changedNote)
{
    QGuiApplication::clipboard()->setText(text);
    if (changed > 0)
        setBanner(copied + u", but "_s + changedNote.arg(plural(changed, u"name"_s)) + u'.', true);
    else
        setBanner(copied + u'.');
}

void LabelsEditor::resetToDeviceNames()
{
    const auto failure = m_controller.labelStore().removeAll(m_controller.id());
    m_controller.applyLabelOverrides();
    reloadBuffers(std::nullopt);
    if (failure)
        setBanner(failure->message(QStringLiteral("Reset to device names"),
                                   QStringLiteral("The names weren't reset")),
                  true);
    else
        setBanner(QStringLiteral("Reset to device names."));
}

void LabelsEditor::applyAll()
{
    // One write of the label store for every changed row, sources first.
    QList<LabelStore::Edit> renames;
    ParsedLabels renamed;
    qsizetype sent = 0;
    for (const Side *side : { &m_sources, &m_dests }) {
        for (const Editable &row : side->model->rows()) {
            if (!row.changed())
                continue;
            renames.append({ row.kind, row.index, row.name });
            (row.kind == PortKind::source ? renamed.sources : renamed.destinations)
                .insert(row.index, row.name);
            if (!row.name.trimmed().isEmpty())
                ++sent;
        }
    }
    // After a failed write the names are live but not saved: "Done" writes them again.
    if (renames.isEmpty() && m_unsaved) {
        if (const auto failure = m_controller.labelStore().save()) {
            setBanner(failure->message(QStringLiteral("The names are live"), {}), true);
            return;
        }
    }
    if (renames.isEmpty()) {
        accept();
        return;
    }
    const bool connected = m_controller.status().isConnected();
    // A failed write keeps the sheet open to say so; "Done" again tries again.
    if (const auto failure = m_controller.rename(renames)) {
        // Refused, nothing was renamed: the rows keep what was typed.
        if (failure->kind == StoreFailure::Kind::refused) {
            setBanner(failure->message({}, QStringLiteral("No port was renamed")), true);
            return;
        }
        m_unsaved = true;
        // The names are on the ports (and sent to the router) already: the rows show them as
        // they stand, with nothing left to revert or to send again.
        reloadBuffers(renamed);
        QString done = QStringLiteral("Renamed %1").arg(plural(renames.size(), u"port"_s));
        if (connected && sent > 0)
            done += QStringLiteral(" and sent the names to the router");
        setBanner(failure->message(done, {}), true);
        return;
    }
    accept();
}

void LabelsEditor::reloadBuffers(const std::optional<ParsedLabels> &imported)
{
    const auto rebuild = [this](Side &side, const QList<Port> &ports,
                                const QMap<qint64, QString> *importedIndices) {
        QHash<int, QString> edits;
        for (const Editable &row : side.model->rows()) {
            if (row.changed())
                edits.insert(row.index, row.name);
        }
        QList<Editable> rows = LabelRowsModel::rowsFor(ports);
        if (!edits.isEmpty()) {
            for (Editable &row : rows) {
                const auto edit = edits.constFind(row.index);
                if (edit != edits.constEnd()
                    && !(importedIndices && importedIndices->contains(row.index)))
                    row.name = *edit;
            }
        }
        side.model->replaceRows(std::move(rows));
        side.delegate->refreshEditor();
        syncSide(side);
    };
    rebuild(m_sources, m_controller.state().sources, imported ? &imported->sources : nullptr);
    rebuild(m_dests, m_controller.state().destinations,
            imported ? &imported->destinations : nullptr);
}

void LabelsEditor::setBanner(const QString &text, bool failure)
{
    const QColor color = failure ? Theme::red() : Theme::green();
    const QString symbol = failure ? QStringLiteral("exclamationmark.triangle.fill")
                                   : QStringLiteral("checkmark.circle.fill");
    m_bannerSymbol->setPixmap(
        Symbols::pixmap(symbol, m_bannerSymbol->width(), color, devicePixelRatioF()));
    m_bannerSymbol->setAccessibleName(failure ? QStringLiteral("Failed") : QString());
    m_bannerText->setText(text);
    // The scroll area sizes the form from size hints, which don't know how many lines a
    // wrapped text takes at the width it gets: a reason can take three.
    const QMargins form = m_form->layout()->contentsMargins();
    const QMargins banner = m_banner->layout()->contentsMargins();
    const int width = m_form->width() - form.left() - form.right() - banner.left() - banner.right()
        - m_bannerSymbol->width() - m_banner->layout()->spacing();
    m_bannerText->setMinimumHeight(0); // or the label answers no less than it
    m_bannerText->setMinimumHeight(width > 0 ? m_bannerText->heightForWidth(width) : 0);
    setForeground(m_bannerText, color);
    m_banner->setProperty("failure", failure);
    m_banner->show();
}
