#include "Views/Shell/RouterEditor.h"

#include "Controllers/ConnectionStore.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/FocusOrder.h"
#include "Theme/SectionCard.h"
#include "Theme/SheetFit.h"
#include "Theme/Theme.h"
#include "Views/Shell/AccentSwatches.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int sheetWidth = 440;
constexpr int sheetHeight = 460;
constexpr int rowTitleWidth = 128;
constexpr int symbolSize = 16;

// A row's padding inside its panel.
QWidget *paddedRow(QLayout *content)
{
    auto *row = new QWidget;
    content->setContentsMargins(12, 7, 12, 7);
    row->setLayout(content);
    row->setMinimumHeight(38);
    return row;
}

// A titled row: the title on the leading side, the control filling the rest.
QWidget *formRow(const QString &title, QWidget *control)
{
    auto *layout = new QHBoxLayout;
    layout->setSpacing(10);
    auto *label = plainLabel(title);
    label->setMinimumWidth(rowTitleWidth);
    label->setBuddy(control);
    layout->addWidget(label);
    layout->addWidget(control, 1);
    return paddedRow(layout);
}

// A section: its header in small capitals, the grouped panel, and an optional footer.
QWidget *section(const QString &header, SectionCard *panel, const QString &footer = {},
                 QLabel **headerLabel = nullptr)
{
    auto *block = new QWidget;
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    auto *title = sectionTitle(header);
    title->setContentsMargins(12, 0, 12, 0);
    layout->addWidget(title);
    layout->addWidget(panel);
    if (!footer.isEmpty()) {
        auto *note = plainLabel(footer);
        note->setWordWrap(true);
        Theme::applySecondary(note, Theme::TextStyle::caption);
        note->setContentsMargins(12, 0, 12, 0);
        layout->addWidget(note);
    }
    if (headerLabel)
        *headerLabel = title;
    return block;
}

QLocale portLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

// A spin box that takes a typed number past its end as that end, shown at once: a plain one
// refuses the keystroke, so typing 70 against a maximum of 64 silently left 7.
class ClampingSpinBox final : public QSpinBox
{
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString &input, int &pos) const override
    {
        const QValidator::State state = QSpinBox::validate(input, pos);
        if (state != QValidator::Invalid)
            return state;
        QString number = input;
        if (number.startsWith(prefix()))
            number.remove(0, prefix().size());
        if (number.endsWith(suffix()))
            number.chop(suffix().size());
        bool ok = false;
        const qlonglong typed = locale().toLongLong(number.trimmed(), &ok);
        if (!ok || typed <= maximum())
            return state;
        input = prefix() + textFromValue(maximum()) + suffix();
        pos = int(input.size() - suffix().size());
        return QSpinBox::validate(input, pos);
    }
};

// A matrix-size stepper titled "<prefix><count>".
QSpinBox *countStepper(const QString &prefix, const QString &name)
{
    auto *box = new ClampingSpinBox;
    box->setObjectName(name);
    box->setPrefix(prefix);
    box->setSingleStep(1);
    box->setGroupSeparatorShown(false);
    box->setAccelerated(true);
    return box;
}

// Shows a stored count faithfully even outside the stepper's range; stepping brings it back.
void syncStepper(QSpinBox *stepper, int value, int minimum, int maximum)
{
    const QSignalBlocker blocker(stepper);
    const int low = std::min(minimum, value);
    const int high = std::max(maximum, value);
    if (stepper->minimum() != low || stepper->maximum() != high)
        stepper->setRange(low, high);
    if (stepper->value() != value)
        stepper->setValue(value);
}

} // namespace

// One discovered router: antenna, service name and, at the end, a spinner while it resolves
// or the "fill in" glyph.
class RouterEditor::DeviceButton final : public QAbstractButton
{
public:
    DeviceButton(const RouterDiscovery::Device &device, QWidget *parent = nullptr)
        : QAbstractButton(parent)
        , m_device(device)
    {
        setObjectName(QStringLiteral("deviceButton"));
        setAccessibleName(device.serviceName);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(12, 8, 12, 8);
        row->setSpacing(10);
        row->addWidget(symbolLabel(QStringLiteral("antenna.radiowaves.left.and.right"), symbolSize,
                                   Theme::accent(), this));
        auto *name = plainLabel(device.serviceName);
        name->setObjectName(QStringLiteral("deviceName"));
        name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(name, 1);
        m_spinner = new BusyIndicator;
        m_spinner->setObjectName(QStringLiteral("deviceSpinner"));
        m_spinner->hide();
        row->addWidget(m_spinner);
        m_glyph
            = symbolLabel(QStringLiteral("arrow.down.doc.fill"), symbolSize, Theme::accent(), this);
        m_glyph->setObjectName(QStringLiteral("deviceGlyph"));
        row->addWidget(m_glyph);
        for (QWidget *child : findChildren<QWidget *>())
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    const RouterDiscovery::Device &device() const { return m_device; }

    void setResolving(bool resolving)
    {
        m_spinner->setVisible(resolving);
        m_glyph->setVisible(!resolving);
    }

    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!isEnabled())
            return;
        const bool hovered = underMouse();
        if (!hovered && !isDown() && !hasFocus())
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(3, 2, -3, -2), 6, 6);
        painter.fillPath(path, Theme::withAlpha(Theme::label(), isDown() ? 0.12 : 0.05));
        if (hasFocus()) {
            painter.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.5), 1.5));
            painter.drawPath(path);
        }
    }
    void enterEvent(QEnterEvent *event) override
    {
        QAbstractButton::enterEvent(event);
        update();
    }
    void leaveEvent(QEvent *event) override
    {
        QAbstractButton::leaveEvent(event);
        update();
    }

private:
    RouterDiscovery::Device m_device;
    BusyIndicator *m_spinner = nullptr;
    QLabel *m_glyph = nullptr;
};

RouterEditor::RouterEditor(ConnectionStore &store, const std::optional<RouterConnection> &existing,
                           Options options, QWidget *parent)
    : QDialog(parent)
    , m_store(store)
    , m_model(new RouterEditorModel(existing, std::move(options.resolver), this))
    , m_discovery(new RouterDiscovery(std::move(options.browserFactory), this))
{
    setWindowTitle(m_model->title());
    SheetFit::apply(this, { sheetWidth, sheetHeight });

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    addSheetTitle(column, windowTitle());

    auto *form = new QWidget;
    form->setObjectName(QStringLiteral("editorForm"));
    auto *sections = new QVBoxLayout(form);
    sections->setContentsMargins(20, 16, 20, 20);
    sections->setSpacing(18);
    sections->addWidget(buildDiscoverySection());
    sections->addWidget(buildNameSection());
    sections->addWidget(buildTypeSection());
    sections->addWidget(buildColorSection());
    sections->addWidget(buildSizeSection());
    sections->addWidget(buildNetworkSection());
    sections->addStretch();

    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("editorScroll"));
    scroll->setFocusPolicy(Qt::NoFocus); // the fields take the focus; the form follows it
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(form);
    column->addWidget(scroll, 1);

    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_saveButton = new QPushButton(QStringLiteral("Save"));
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &RouterEditor::save);
    addSheetButtons(column, { cancel, m_saveButton });

    connect(m_model, &RouterEditorModel::draftChanged, this, &RouterEditor::syncFields);
    connect(m_model, &RouterEditorModel::vendorChanged, this, &RouterEditor::syncVendor);
    connect(m_model, &RouterEditorModel::resolvingDeviceChanged, this,
            &RouterEditor::syncResolving);
    const auto rebuild = &RouterEditor::rebuildDevices;
    connect(m_discovery, &RouterDiscovery::devicesChanged, this, rebuild);
    connect(m_discovery, &RouterDiscovery::browseErrorChanged, this, rebuild);

    syncVendor();
    syncFields();
    rebuildDevices();
    // Found routers come and go as the form is open; they keep their place for Tab.
    FocusOrder::keep(this);
    m_nameField->setFocus();
}

RouterEditor::~RouterEditor()
{
    // Stopping clears the device list; there is no form left to show that in.
    m_discovery->disconnect(this);
    endDiscovery();
}

QWidget *RouterEditor::buildDiscoverySection()
{
    auto *panel = new SectionCard;
    panel->setObjectName(QStringLiteral("discoveryPanel"));
    m_discoveryLayout = panel->rows();
    auto *block = section(QStringLiteral("Found on your network"), panel,
                          QStringLiteral("Blackmagic Videohub routers announce themselves "
                                         "automatically. Tap one to fill in its details."));
    block->setObjectName(QStringLiteral("discoverySection"));
    return block;
}

QWidget *RouterEditor::buildNameSection()
{
    auto *panel = new SectionCard;
    m_nameField = new QLineEdit;
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("Display name"));
    connect(m_nameField, &QLineEdit::textEdited, m_model, &RouterEditorModel::setName);
    panel->addRow(formRow(QStringLiteral("Display name"), m_nameField));
    return section(QStringLiteral("Name"), panel);
}

QWidget *RouterEditor::buildTypeSection()
{
    auto *panel = new SectionCard;
    m_vendorCombo = new QComboBox;
    m_vendorCombo->setObjectName(QStringLiteral("vendorCombo"));
    m_vendorCombo->setIconSize({ symbolSize, symbolSize });
    for (const RouterVendor vendor : RouterVendor::allCases()) {
        m_vendorCombo->addItem(Symbols::entryIcon(vendor.systemImage(), vendor.tint()),
                               vendor.displayName(), int(RouterVendor::Value(vendor)));
    }
    connect(m_vendorCombo, &QComboBox::currentIndexChanged, m_model, [this](int index) {
        if (index >= 0)
            m_model->setVendor(RouterVendor::Value(m_vendorCombo->itemData(index).toInt()));
    });
    panel->addRow(formRow(QStringLiteral("Type"), m_vendorCombo));

    m_vendorSummary = plainLabel();
    m_vendorSummary->setObjectName(QStringLiteral("vendorSummary"));
    m_vendorSummary->setWordWrap(true);
    Theme::applySecondary(m_vendorSummary, Theme::TextStyle::caption);
    auto *summaryRow = new QHBoxLayout;
    summaryRow->addWidget(m_vendorSummary);
    panel->addRow(paddedRow(summaryRow));
    return section(QStringLiteral("Router type"), panel);
}

QWidget *RouterEditor::buildColorSection()
{
    auto *panel = new SectionCard;
    m_swatches = new AccentSwatches;
    m_swatches->setObjectName(QStringLiteral("accentSwatches"));
    connect(m_swatches, &AccentSwatches::selectionEdited, m_model,
            [this] { m_model->setAccentHue(m_swatches->selection()); });
    auto *row = new QHBoxLayout;
    row->addWidget(m_swatches);
    QWidget *padded = paddedRow(row);
    row->setContentsMargins(9, 4, 9, 4);
    panel->addRow(padded);
    return section(QStringLiteral("Color"), panel);
}

QWidget *RouterEditor::buildSizeSection()
{
    auto *panel = new SectionCard;
    m_sourceStepper = countStepper(QStringLiteral("Sources: "), QStringLiteral("sourceStepper"));
    m_destinationStepper
        = countStepper(QStringLiteral("Destinations: "), QStringLiteral("destinationStepper"));
    // The steppers go through the model's step, which keeps its own bounds.
    connect(m_sourceStepper, &QSpinBox::valueChanged, m_model, [this](int value) {
        if (const int delta = value - m_model->draft().simSourceCount)
            m_model->stepSourceCount(delta);
    });
    connect(m_destinationStepper, &QSpinBox::valueChanged, m_model, [this](int value) {
        if (const int delta = value - m_model->draft().simDestinationCount)
            m_model->stepDestinationCount(delta);
    });
    for (QSpinBox *stepper : { m_sourceStepper, m_destinationStepper }) {
        auto *row = new QHBoxLayout;
        row->addWidget(stepper, 1);
        panel->addRow(paddedRow(row));
    }
    m_sizeSection = section(QStringLiteral("Matrix size"), panel, {}, &m_sizeHeader);
    m_sizeSection->setObjectName(QStringLiteral("sizeSection"));
    m_sizeHeader->setObjectName(QStringLiteral("sizeHeader"));
    return m_sizeSection;
}

QWidget *RouterEditor::buildNetworkSection()
{
    auto *panel = new SectionCard;
    m_hostField = new QLineEdit;
    m_hostField->setObjectName(QStringLiteral("hostField"));
    m_hostField->setPlaceholderText(QStringLiteral("Host or IP address"));
    m_hostField->setInputMethodHints(Qt::ImhUrlCharactersOnly | Qt::ImhNoAutoUppercase);
    connect(m_hostField, &QLineEdit::textEdited, m_model, &RouterEditorModel::setHost);
    panel->addRow(formRow(QStringLiteral("Host or IP address"), m_hostField));
    m_hostProblem = plainLabel();
    m_hostProblem->setObjectName(QStringLiteral("hostProblem"));
    m_hostProblem->setWordWrap(true);
    m_hostProblem->setFont(Theme::font(Theme::TextStyle::caption));
    QPalette problemPalette = m_hostProblem->palette();
    problemPalette.setColor(QPalette::WindowText, Theme::red());
    m_hostProblem->setPalette(problemPalette);
    auto *problemRow = new QHBoxLayout;
    problemRow->addWidget(m_hostProblem);
    m_hostProblemRow = paddedRow(problemRow);
    m_hostProblemRow->hide();
    panel->addRow(m_hostProblemRow);

    m_portField = new QLineEdit;
    m_portField->setObjectName(QStringLiteral("portField"));
    m_portField->setPlaceholderText(QStringLiteral("Port"));
    m_portField->setInputMethodHints(Qt::ImhDigitsOnly);
    // Text that does not read as a whole number leaves the port as it was; leaving the field
    // shows the port the draft holds.
    connect(m_portField, &QLineEdit::textEdited, m_model, [this](const QString &text) {
        bool ok = false;
        const int port = portLocale().toInt(text.trimmed(), &ok);
        if (ok)
            m_model->setPort(port);
    });
    connect(m_portField, &QLineEdit::editingFinished, this,
            [this] { m_portField->setText(portLocale().toString(m_model->draft().port)); });
    panel->addRow(formRow(QStringLiteral("Port"), m_portField));

    m_networkSection = section(QStringLiteral("Network"), panel);
    m_networkSection->setObjectName(QStringLiteral("networkSection"));
    return m_networkSection;
}

void RouterEditor::syncFields()
{
    const RouterConnection &draft = m_model->draft();
    if (m_nameField->text() != draft.name)
        m_nameField->setText(draft.name);
    if (m_hostField->text() != draft.host)
        m_hostField->setText(draft.host);
    bool ok = false;
    const int shownPort = portLocale().toInt(m_portField->text().trimmed(), &ok);
    if (!ok || shownPort != draft.port)
        m_portField->setText(portLocale().toString(draft.port));
    const int maximum = m_model->maximumMatrixSize();
    syncStepper(m_sourceStepper, draft.simSourceCount, RouterEditorModel::minimumMatrixSize,
                maximum);
    syncStepper(m_destinationStepper, draft.simDestinationCount,
                RouterEditorModel::minimumMatrixSize, maximum);
    m_swatches->setSelection(draft.accentHue);
    const std::optional<QString> hostProblem = m_model->hostProblem();
    m_hostProblem->setText(hostProblem.value_or(QString()));
    m_hostProblemRow->setVisible(hostProblem.has_value());
    m_hostField->setAccessibleDescription(hostProblem.value_or(QString()));
    m_saveButton->setEnabled(m_model->canSave());
}

void RouterEditor::syncVendor()
{
    const RouterVendor vendor = m_model->draft().vendor;
    const int index = m_vendorCombo->findData(int(RouterVendor::Value(vendor)));
    if (m_vendorCombo->currentIndex() != index)
        m_vendorCombo->setCurrentIndex(index);
    m_vendorSummary->setText(vendor.summary());
    m_swatches->setVendorTint(vendor.tint());
    m_sizeSection->setVisible(m_model->showsSizeSection());
    m_sizeHeader->setText(m_model->sizeSectionTitle());
    m_networkSection->setVisible(m_model->showsNetworkSection());
    syncFields(); // whether the host counts follows the vendor
}

void RouterEditor::rebuildDevices()
{
    // The old rows may be in the middle of delivering an event, so they go later.
    while (QLayoutItem *item = m_discoveryLayout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    m_deviceButtons.clear();
    auto *panel = static_cast<SectionCard *>(m_discoveryLayout->parentWidget());

    if (const std::optional<QString> error = m_discovery->browseError()) {
        auto *row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(
            symbolLabel(QStringLiteral("wifi.exclamationmark"), symbolSize, Theme::orange(), this),
            0, Qt::AlignTop);
        auto *text = plainLabel(*error);
        text->setObjectName(QStringLiteral("browseError"));
        text->setWordWrap(true);
        text->setFont(Theme::font(Theme::TextStyle::callout));
        QPalette pal = text->palette();
        pal.setColor(QPalette::WindowText, Theme::orange());
        text->setPalette(pal);
        row->addWidget(text, 1);
        panel->addRow(paddedRow(row));
        return;
    }

    const QList<RouterDiscovery::Device> devices = m_discovery->devices();
    if (devices.isEmpty()) {
        auto *row = new QHBoxLayout;
        row->setSpacing(10);
        row->addWidget(new BusyIndicator);
        auto *text = plainLabel(QStringLiteral("Searching your network\u2026"));
        text->setObjectName(QStringLiteral("searching"));
        Theme::applySecondary(text, Theme::TextStyle::callout);
        row->addWidget(text, 1);
        panel->addRow(paddedRow(row));
        return;
    }

    for (const RouterDiscovery::Device &device : devices) {
        auto *button = new DeviceButton(device);
        connect(button, &QAbstractButton::clicked, m_model, [this, device] {
            // Queued, so that the rows may change under a press that is still being handled;
            // a sheet closed meanwhile starts nothing.
            QMetaObject::invokeMethod(
                m_model,
                [this, device] {
                    if (isVisible())
                        m_model->use(device);
                },
                Qt::QueuedConnection);
        });
        panel->addRow(button);
        m_deviceButtons.append(button);
    }
    syncResolving();
}

void RouterEditor::syncResolving()
{
    const QString resolving = m_model->resolvingDevice();
    for (DeviceButton *button : std::as_const(m_deviceButtons)) {
        button->setEnabled(resolving.isEmpty());
        button->setResolving(!resolving.isEmpty() && button->device().serviceName == resolving);
    }
}

void RouterEditor::save()
{
    if (!m_model->canSave())
        return;
    m_portField->clearFocus();
    const RouterConnection draft = m_model->draft();
    const bool isNew = m_model->isNew();
    const StoreOutcome outcome = isNew ? m_store.add(draft, true) : m_store.update(draft);
    if (!outcome) {
        accept();
        return;
    }
    // Told over the editor. A refused router keeps the editor open with the draft; one that
    // stands for this session closes it once the operator has read why.
    const QString name
        = QStringLiteral("\u201C") + shownName(draft.name) + QStringLiteral("\u201D");
    QMessageBox *box = Alerts::notSaved(
        outcome->message(
            name + (isNew ? QStringLiteral(" was added") : QStringLiteral(" was changed")),
            name + (isNew ? QStringLiteral(" wasn't added") : QStringLiteral(" wasn't changed"))),
        this);
    if (outcome->kind == StoreFailure::Kind::notWritten)
        connect(box, &QDialog::finished, this, &QDialog::accept);
    box->open();
}

void RouterEditor::endDiscovery()
{
    m_discovery->stop();
    m_model->cancelResolution();
}

void RouterEditor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    // Browsing starts once the sheet is up; a sheet closed before that never browses.
    QMetaObject::invokeMethod(
        m_discovery,
        [this] {
            if (isVisible())
                m_discovery->start();
        },
        Qt::QueuedConnection);
}

void RouterEditor::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        endDiscovery();
}
