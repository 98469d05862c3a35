#pragma once

#include "Controllers/RouterDiscovery.h"
#include "Model/RouterModels.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

// The router editor's logic without its widgets: the draft being edited, the vendor-default
// port rule, the matrix-size bounds, the Save condition and the filling of the draft from a
// discovered device.
class RouterEditorModel final : public QObject
{
    Q_OBJECT

public:
    using Resolver = std::function<void(const RouterDiscovery::Device &, double timeoutSeconds,
                                        QObject *context, RouterDiscovery::ResolveCompletion)>;

    static constexpr double resolveTimeoutSeconds = 5.0;
    static constexpr int minimumMatrixSize = 2;
    // Colour hues offered beside the vendor's own colour, in display order.
    static const QList<double> &accentHues();

    // Without `existing` the draft is a new Videohub router named "New Router" on port 9990.
    // `resolver` defaults to the Bonjour resolution of RouterDiscovery.
    explicit RouterEditorModel(const std::optional<RouterConnection> &existing,
                               Resolver resolver = {}, QObject *parent = nullptr);
    ~RouterEditorModel() override;

    const RouterConnection &draft() const { return m_draft; }
    bool isNew() const { return m_isNew; }
    QString title() const;

    // Save needs a name that is not blank (only space-like characters count as blank, not
    // line breaks; the name itself is stored untrimmed) and, where the address is edited, a
    // host without a problem.
    bool canSave() const;
    static bool isBlankName(const QString &name);
    // Why `host` can't be a router's address, or none: a host is a name or an address, and
    // one holding white space or any of / ? # @ would be read as a path, a query or a user
    // when it is made into a web address.
    static std::optional<QString> hostProblem(const QString &host);
    std::optional<QString> hostProblem() const;

    void setName(const QString &name);
    // Changing the vendor moves the port to the new vendor's default when it still held the
    // old vendor's default; nothing else follows the vendor.
    void setVendor(RouterVendor vendor);
    void setHost(const QString &host);
    void setPort(int port);
    void setAccentHue(std::optional<double> hue);

    bool showsSizeSection() const { return m_draft.vendor.needsMatrixSize(); }
    bool showsNetworkSection() const { return m_draft.vendor != RouterVendor::simulator; }
    QString sizeSectionTitle() const;
    int maximumMatrixSize() const;
    // The steppers move one step within 2…maximum; a stored count outside it is left alone
    // until it is stepped.
    void stepSourceCount(int delta);
    void stepDestinationCount(int delta);
    bool canStepSourceCount(int delta) const;
    bool canStepDestinationCount(int delta) const;

    // The service name of the device whose resolution runs; empty when none.
    QString resolvingDevice() const { return m_resolvingDevice; }
    // Resolves a discovered device and fills the draft from it. Ignored while another device
    // resolves.
    void use(const RouterDiscovery::Device &device);
    // The editor is going away: a resolution still running changes nothing when it returns.
    void cancelResolution();

signals:
    void draftChanged();
    void vendorChanged();
    void resolvingDeviceChanged();

private:
    void finishUse(const RouterDiscovery::Device &device,
                   const std::optional<RouterDiscovery::Endpoint> &endpoint);
    void changeVendor(RouterVendor vendor, bool keepPort);
    void step(int &count, int delta);
    bool canStep(int count, int delta) const;
    void setResolvingDevice(const QString &name);

    RouterConnection m_draft;
    bool m_isNew = false;
    Resolver m_resolver;
    QString m_resolvingDevice;
    std::shared_ptr<bool> m_resolveCancelled;
};
