#include "Views/QuorvelView.h"

#include "Controllers/RouterController.h"
#include "Theme/Controls.h"
#include "Theme/StatusDot.h"
#include "Theme/Theme.h"
#include "Theme/VendorTile.h"

#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

QuorvelView::QuorvelView(std::shared_ptr<RouterController> controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(10);
    column->addStretch(1);

    m_tile = new VendorTile(QString(), QColor(), 56, 30);
    column->addWidget(m_tile, 0, Qt::AlignHCenter);
    column->addSpacing(4);

    m_name = plainLabel();
    m_name->setObjectName(QStringLiteral("routerName"));
    Theme::apply(m_name, Theme::TextStyle::title2, QFont::DemiBold);
    m_name->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_name);

    m_endpoint = plainLabel();
    m_endpoint->setObjectName(QStringLiteral("routerEndpoint"));
    Theme::applySecondary(m_endpoint, Theme::TextStyle::callout);
    m_endpoint->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_endpoint);

    m_status = new StatusPill;
    column->addWidget(m_status, 0, Qt::AlignHCenter);

    // Status messages come from routers and drivers: plain text, wrapped.
    m_message = plainLabel();
    m_message->setObjectName(QStringLiteral("statusMessage"));
    Theme::applySecondary(m_message, Theme::TextStyle::footnote);
    m_message->setAlignment(Qt::AlignHCenter);
    m_message->setWordWrap(true);
    column->addWidget(m_message);
    column->addStretch(1);

    bind();
}

QuorvelView::~QuorvelView() = default;

void QuorvelView::setController(std::shared_ptr<RouterController> controller)
{
    if (controller == m_controller)
        return;
    if (m_controller)
        QObject::disconnect(m_controller.get(), nullptr, this, nullptr);
    m_controller = std::move(controller);
    bind();
}

void QuorvelView::bind()
{
    if (!m_controller)
        return;
    RouterController *controller = m_controller.get();
    connect(controller, &RouterController::statusChanged, this, &QuorvelView::refresh);
    connect(controller, &RouterController::statusMessageChanged, this, &QuorvelView::refresh);
    refresh();
}

void QuorvelView::refresh()
{
    const RouterConnection &connection = m_controller->connection();
    m_tile->setSymbol(connection.vendor.systemImage(), connection.tint());
    m_name->setText(connection.name);
    m_endpoint->setText(connection.endpointDescription());
    const ConnectionStatus &status = m_controller->status();
    m_status->setStatus(status);
    QString message = m_controller->statusMessage();
    if (status.kind() == ConnectionStatus::failed && !status.message().isEmpty())
        message = status.message();
    m_message->setText(message);
    m_message->setVisible(!message.isEmpty());
}

void QuorvelView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Posted, so the view is on screen before the connect starts; the status is read when
    // the task runs, not when it was posted.
    QTimer::singleShot(0, this, [this] {
        if (m_controller && m_controller->status().kind() == ConnectionStatus::disconnected)
            m_controller->connect();
    });
}
