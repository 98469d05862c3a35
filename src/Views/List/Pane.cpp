#include "Views/List/Pane.h"

#include "Theme/Theme.h"
#include "Views/List/PaneHeader.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <utility>

namespace DestinationList {

namespace {

// The 1-point line under a pane's header.
class Divider final : public QWidget
{
public:
    explicit Divider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        // The theme's separator is already a light one; used as it is it reads as a hairline.
        QPainter(this).fillRect(rect(), Theme::separator());
    }
};

} // namespace

Pane::Pane(RouterController &controller, PortKind kind, const QString &title, QColor tint,
           bool subtitleIsPriority, PortListView::Handlers handlers, QWidget *parent)
    : QWidget(parent)
    , m_model(new PortRowsModel(controller, kind, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(0);
    m_header = new PaneHeader(title, tint, subtitleIsPriority, this);
    column->addWidget(m_header);
    column->addWidget(new Divider(this));
    m_list = new PortListView(m_model, tint, std::move(handlers), this);
    m_list->setObjectName(kind == PortKind::source ? QStringLiteral("sources")
                                                   : QStringLiteral("destinations"));
    m_list->setAccessibleName(title);
    column->addWidget(m_list, 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void Pane::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(card, 18, 18);
    painter.fillPath(shape, Theme::withAlpha(Theme::controlBackground(), 0.72));
    painter.setPen(QPen(Theme::separator(), 1));
    painter.drawPath(shape);
}

} // namespace DestinationList
