#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class RouterController;
class StatusPill;
class VendorTile;

// The selected router's routing workspace, bound to that router's cached controller. Showing
// it connects the router when, and only when, the controller is disconnected: a router that
// is connecting, online or has failed is left as it is.
class QuorvelView final : public QWidget
{
    Q_OBJECT

public:
    explicit QuorvelView(std::shared_ptr<RouterController> controller, QWidget *parent = nullptr);
    ~QuorvelView() override;

    const std::shared_ptr<RouterController> &controller() const { return m_controller; }
    // Rebinds the view to another controller of the same router (after the router was
    // edited) while keeping the view's own state; it does not connect by itself.
    void setController(std::shared_ptr<RouterController> controller);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void bind();
    void refresh();

    std::shared_ptr<RouterController> m_controller;
    VendorTile *m_tile = nullptr;
    QLabel *m_name = nullptr;
    QLabel *m_endpoint = nullptr;
    StatusPill *m_status = nullptr;
    QLabel *m_message = nullptr;
};
