#include "Views/Panels/PanelEditor.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/SectionCard.h"
#include "Theme/SheetFit.h"
#include "Theme/Theme.h"
#include "Views/Panels/PanelSheetKit.h"
#include "Views/Panels/PortRowsView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace PanelSheet;

namespace {

constexpr int editorWidth = 640;
constexpr int editorHeight = 640;

// A field with a magnifier drawn at its leading edge. Drawn, not an icon action: that would be
// a nameless button to a screen reader.
class SearchField final : public QLineEdit
{
public:
    SearchField()
    {
        setTextMargins(glyph + 4, 0, 0, 0);
        setClearButtonEnabled(true);
        // Qt's clear button has no name of its own.
        for (auto *button : findChildren<QToolButton *>())
            button->setAccessibleName(QStringLiteral("Clear"));
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QLineEdit::paintEvent(event);
        QPainter painter(this);
        painter.drawPixmap(6, (height() - glyph) / 2,
                           Symbols::pixmap(QStringLiteral("magnifyingglass"), glyph,
                                           Theme::secondaryLabel(), devicePixelRatioF()));
    }

private:
    static constexpr int glyph = 14;
};

} // namespace

// One axis: the chosen ports, then the available ones under "Available (<a> of <b>)" with its
// "All" and "None" buttons, scrolling together.
class PanelEditor::AxisList final : public QScrollArea
{
public:
    std::function<void(int)> onRemove;
    std::function<void(int)> onAdd;
    std::function<void()> onAll;
    std::function<void()> onNone;

    explicit AxisList(PortKind kind, QWidget *parent = nullptr)
        : QScrollArea(parent)
    {
        const bool sources = kind == PortKind::source;
        const QString axis = sources ? QStringLiteral("source") : QStringLiteral("destination");
        setObjectName(axis + QStringLiteral("Axis"));
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFrameShape(QFrame::NoFrame);
        setFocusPolicy(Qt::NoFocus); // its lists take the keyboard and scroll it into view

        auto *content = new QWidget;
        auto *column = new QVBoxLayout(content);
        column->setContentsMargins(4, 8, 4, 12);
        column->setSpacing(2);

        auto *chosenHeader = new QHBoxLayout;
        chosenHeader->setContentsMargins(12, 0, 12, 2);
        chosenHeader->setSpacing(5);
        chosenHeader->addWidget(
            symbolLabel(sources ? QStringLiteral("arrow.right") : QStringLiteral("arrow.down"), 12,
                        axisColor(kind), this));
        auto *chosenTitle = plainLabel(sources ? QStringLiteral("Sources in panel")
                                               : QStringLiteral("Destinations in panel"));
        chosenTitle->setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
        setForeground(chosenTitle, axisColor(kind));
        chosenHeader->addWidget(chosenTitle, 1);
        column->addLayout(chosenHeader);
        m_chosen = new PortRowsView(kind, true, axis + QStringLiteral("Chosen"));
        m_chosen->setAccessibleName(chosenTitle->text());
        column->addWidget(m_chosen);

        column->addSpacing(12);
        auto *availableHeader = new QHBoxLayout;
        availableHeader->setContentsMargins(12, 0, 8, 2);
        availableHeader->setSpacing(4);
        m_availableTitle = plainLabel();
        m_availableTitle->setObjectName(axis + QStringLiteral("AvailableTitle"));
        m_availableTitle->setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
        setForeground(m_availableTitle, Theme::secondaryLabel());
        availableHeader->addWidget(m_availableTitle, 1);
        m_allButton = headerButton(QStringLiteral("All"), axis + QStringLiteral("All"));
        m_noneButton = headerButton(QStringLiteral("None"), axis + QStringLiteral("None"));
        availableHeader->addWidget(m_allButton);
        availableHeader->addWidget(m_noneButton);
        column->addLayout(availableHeader);
        m_available = new PortRowsView(kind, false, axis + QStringLiteral("Available"));
        m_available->setAccessibleName(sources ? QStringLiteral("Available sources")
                                               : QStringLiteral("Available destinations"));
        column->addWidget(m_available);
        column->addStretch();
        setWidget(content);

        m_chosen->activate = [this](int index) {
            if (onRemove)
                onRemove(index);
        };
        m_available->activate = [this](int index) {
            if (onAdd)
                onAdd(index);
        };
        connect(m_allButton, &QPushButton::clicked, this, [this] {
            if (onAll)
                onAll();
        });
        connect(m_noneButton, &QPushButton::clicked, this, [this] {
            if (onNone)
                onNone();
        });
    }

    void setRows(QList<PortRow> chosen, QList<PortRow> available, int total, bool canClear,
                 bool animated)
    {
        m_availableTitle->setText(
            Text::format(QStringLiteral("Available (%1 of %2)"), available.size(), total));
        m_allButton->setVisible(!available.isEmpty());
        m_noneButton->setVisible(canClear);
        int widest = total;
        for (const PortRow &row : std::as_const(chosen))
            widest = std::max(widest, row.index + 1); // a saved port beyond the router's
        m_chosen->setWidestNumber(widest);
        m_available->setWidestNumber(widest);
        m_chosen->setRows(std::move(chosen), animated);
        m_available->setRows(std::move(available), animated);
    }

private:
    PortRowsView *m_chosen = nullptr;
    PortRowsView *m_available = nullptr;
    QLabel *m_availableTitle = nullptr;
    QPushButton *m_allButton = nullptr;
    QPushButton *m_noneButton = nullptr;
};

namespace {

QList<int> normalised(QList<int> indices)
{
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

} // namespace

PanelEditor::PanelEditor(RouterController &controller, const SubPanel &panel, bool isNew,
                         QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_panel(panel)
    , m_isNew(isNew)
{
    const QString title = isNew ? QStringLiteral("New Panel") : QStringLiteral("Edit Panel");
    setWindowTitle(title);
    SheetFit::apply(this, { editorWidth, editorHeight });
    m_panel.sourceIndices = normalised(m_panel.sourceIndices);
    m_panel.destinationIndices = normalised(m_panel.destinationIndices);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(16, 14, 16, 0);
    auto *heading = plainLabel(title);
    Theme::apply(heading, Theme::TextStyle::title3, QFont::DemiBold);
    bar->addWidget(heading);
    bar->addStretch();
    m_searchField = new SearchField;
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setPlaceholderText(QStringLiteral("Filter ports"));
    m_searchField->setAccessibleName(QStringLiteral("Filter ports"));
    m_searchField->setFixedWidth(220);
    bar->addWidget(m_searchField);
    column->addLayout(bar);

    auto *nameRow = new QHBoxLayout;
    nameRow->setContentsMargins(16, 12, 16, 0);
    m_nameField = new QLineEdit(m_panel.name);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("Panel Name"));
    m_nameField->setAccessibleName(QStringLiteral("Panel Name"));
    m_nameField->setFont(Theme::font(Theme::TextStyle::body, QFont::Medium));
    m_nameField->setMinimumHeight(28);
    nameRow->addWidget(m_nameField);
    column->addLayout(nameRow);

    m_warning = new QWidget;
    m_warning->setObjectName(QStringLiteral("missingWarning"));
    auto *warningRow = new QHBoxLayout(m_warning);
    warningRow->setContentsMargins(16, 8, 16, 0);
    warningRow->setSpacing(5);
    warningRow->addWidget(
        symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 12, Theme::orange(), this));
    m_warningText = plainLabel();
    m_warningText->setObjectName(QStringLiteral("missingWarningText"));
    m_warningText->setWordWrap(true);
    m_warningText->setFont(Theme::font(Theme::TextStyle::caption));
    setForeground(m_warningText, Theme::orange());
    warningRow->addWidget(m_warningText, 1);
    column->addWidget(m_warning);

    auto *lists = new QHBoxLayout;
    lists->setContentsMargins(0, 4, 0, 0);
    lists->setSpacing(0);
    m_sources = new AxisList(PortKind::source);
    m_destinations = new AxisList(PortKind::destination);
    auto *divider = new QWidget;
    divider->setFixedWidth(1);
    divider->setAutoFillBackground(true);
    QPalette pal = divider->palette();
    pal.setColor(QPalette::Window, Theme::separator());
    divider->setPalette(pal);
    lists->addWidget(m_sources, 1);
    lists->addWidget(divider);
    lists->addWidget(m_destinations, 1);
    column->addSpacing(8);
    column->addWidget(hairline());
    column->addLayout(lists, 1);

    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_saveButton = new QPushButton;
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &PanelEditor::commit);
    addSheetButtons(column, { cancel, m_saveButton });

    connect(m_nameField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_panel.name = text;
        refresh();
    });
    connect(m_searchField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_search = text;
        refresh();
    });
    for (AxisList *list : { m_sources, m_destinations }) {
        const PortKind kind = list == m_sources ? PortKind::source : PortKind::destination;
        list->onRemove = [this, kind](int index) {
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            indices.removeAll(index);
            setIndices(kind, indices);
        };
        list->onAdd = [this, kind](int index) {
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            indices.append(index);
            setIndices(kind, indices);
        };
        list->onAll = [this, kind] {
            const QList<Port> &all = kind == PortKind::source ? m_controller.state().sources
                                                              : m_controller.state().destinations;
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            for (const Port &port : all) {
                if (!indices.contains(port.index) && matchesSearch(port))
                    indices.append(port.index);
            }
            setIndices(kind, indices);
        };
        list->onNone = [this, kind] {
            const QList<Port> &all = kind == PortKind::source ? m_controller.state().sources
                                                              : m_controller.state().destinations;
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            for (const Port &port : all) {
                if (matchesSearch(port))
                    indices.removeAll(port.index);
            }
            setIndices(kind, indices);
        };
    }
    // Labels and port lists may change while the sheet is open.
    connect(&controller, &RouterController::stateChanged, this, [this] {
        const RouterState &state = m_controller.state();
        if (state.sources != m_shownSources || state.destinations != m_shownDestinations)
            refresh();
    });

    refresh();
    m_nameField->setFocus();
}

PanelEditor::~PanelEditor() = default;

int PanelEditor::missingCount() const
{
    QSet<int> sources;
    for (const Port &port : m_controller.state().sources)
        sources.insert(port.index);
    QSet<int> destinations;
    for (const Port &port : m_controller.state().destinations)
        destinations.insert(port.index);
    const auto missing = [](const QList<int> &indices, const QSet<int> &present) {
        return int(std::count_if(indices.begin(), indices.end(),
                                 [&](int index) { return !present.contains(index); }));
    };
    return missing(m_panel.sourceIndices, sources)
        + missing(m_panel.destinationIndices, destinations);
}

bool PanelEditor::isSavable() const
{
    return !m_panel.name.trimmed().isEmpty() && !m_panel.sourceIndices.isEmpty()
        && !m_panel.destinationIndices.isEmpty();
}

bool PanelEditor::matchesSearch(const Port &port) const
{
    if (m_search.isEmpty())
        return true;
    if (port.label.contains(m_search, Qt::CaseInsensitive))
        return true;
    return QString::number(port.index + 1) == m_search;
}

void PanelEditor::setIndices(PortKind kind, QList<int> indices)
{
    std::sort(indices.begin(), indices.end());
    (kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices)
        = std::move(indices);
    refresh(true);
}

void PanelEditor::refresh(bool animated)
{
    m_shownSources = m_controller.state().sources;
    m_shownDestinations = m_controller.state().destinations;
    const int missing = missingCount();
    m_warning->setVisible(missing > 0);
    m_warningText->setText(
        QStringLiteral("%1 not on this router \u2014 kept for when it returns.")
            .arg(counted(missing, QStringLiteral("saved port"), QStringLiteral("saved ports"))));
    m_saveButton->setText(Text::format(QStringLiteral("Save (%1\u00d7%2)"),
                                       m_panel.sourceIndices.size(),
                                       m_panel.destinationIndices.size()));
    m_saveButton->setEnabled(isSavable());

    for (const PortKind kind : { PortKind::source, PortKind::destination }) {
        const QList<Port> &all = kind == PortKind::source ? m_controller.state().sources
                                                          : m_controller.state().destinations;
        const QList<int> &chosen
            = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
        QHash<int, const Port *> byIndex;
        for (const Port &port : all)
            byIndex.insert(port.index, &port);

        QList<PortRow> chosenRows;
        bool canClear = false;
        for (const int index : chosen) {
            const Port *port = byIndex.value(index);
            chosenRows.append({ index, port ? std::optional(port->label) : std::nullopt });
            canClear = canClear || (port && matchesSearch(*port));
        }
        const QSet<int> chosenSet(chosen.begin(), chosen.end());
        QList<PortRow> availableRows;
        for (const Port &port : all) {
            if (!chosenSet.contains(port.index) && matchesSearch(port))
                availableRows.append({ port.index, port.label });
        }
        AxisList *list = kind == PortKind::source ? m_sources : m_destinations;
        list->setRows(std::move(chosenRows), std::move(availableRows), int(all.size()), canClear,
                      animated);
    }
}

void PanelEditor::commit()
{
    if (!isSavable())
        return;
    m_panel.name = m_panel.name.trimmed();
    const StoreOutcome outcome = m_controller.savePanel(m_panel, m_isNew);
    if (!outcome) {
        accept();
        return;
    }
    // Told over the editor; a refused panel keeps the editor open with the operator's copy.
    QMessageBox *box
        = notSaved(*outcome, m_panel.name,
                   m_isNew ? QStringLiteral("created") : QStringLiteral("changed"), this);
    if (outcome->kind == StoreFailure::Kind::notWritten)
        connect(box, &QDialog::finished, this, &QDialog::accept);
    box->open();
}
