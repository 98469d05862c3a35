#pragma once

#include "Controllers/RouterDiscovery.h"
#include "Platform/Bonjour.h"
#include "Views/Shell/RouterEditorModel.h"

#include <QDialog>
#include <QList>

#include <optional>

class AccentSwatches;
class ConnectionStore;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

// The sheet in which the operator adds a router or edits a saved one. It edits a draft (see
// RouterEditorModel) and hands it to the store only on "Save"; "Cancel" (Esc) discards it.
// While shown it browses the local network for Videohub-class routers; choosing one fills
// the form from it.
//
// Browsing starts when the sheet is shown and stops, together with any resolution still
// running, when it is hidden or destroyed in any way.
class RouterEditor final : public QDialog
{
    Q_OBJECT

public:
    struct Options
    {
        ServiceBrowserFactory browserFactory; // empty: the real Avahi browser
        RouterEditorModel::Resolver resolver; // empty: RouterDiscovery::resolve
    };

    // Without `existing` it adds a router ("Add Router"), else edits it ("Edit Router").
    // `store` must outlive the editor.
    RouterEditor(ConnectionStore &store, const std::optional<RouterConnection> &existing,
                 Options options = {}, QWidget *parent = nullptr);
    ~RouterEditor() override;

    RouterEditorModel &model() { return *m_model; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    class DeviceButton;

    QWidget *buildDiscoverySection();
    QWidget *buildNameSection();
    QWidget *buildTypeSection();
    QWidget *buildColorSection();
    QWidget *buildSizeSection();
    QWidget *buildNetworkSection();

    void save();
    void endDiscovery();
    // Draft to widgets; each only touches a widget whose value differs.
    void syncFields();
    void syncVendor();
    void rebuildDevices();
    void syncResolving();

    ConnectionStore &m_store;
    RouterEditorModel *m_model = nullptr;
    RouterDiscovery *m_discovery = nullptr;

    QVBoxLayout *m_discoveryLayout = nullptr;
    QList<DeviceButton *> m_deviceButtons;
    QLineEdit *m_nameField = nullptr;
    QComboBox *m_vendorCombo = nullptr;
    QLabel *m_vendorSummary = nullptr;
    AccentSwatches *m_swatches = nullptr;
    QWidget *m_sizeSection = nullptr;
    QLabel *m_sizeHeader = nullptr;
    QSpinBox *m_sourceStepper = nullptr;
    QSpinBox *m_destinationStepper = nullptr;
    QWidget *m_networkSection = nullptr;
    QLineEdit *m_hostField = nullptr;
    QWidget *m_hostProblemRow = nullptr;
    QLabel *m_hostProblem = nullptr;
    QLineEdit *m_portField = nullptr;
    QPushButton *m_saveButton = nullptr;
};
