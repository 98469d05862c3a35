#pragma once

#include "Views/List/PortListView.h"

#include <QWidget>

class RouterController;

namespace DestinationList {

class PaneHeader;

// A titled, scrolling card of rows over one side of the router.
class Pane final : public QWidget
{
public:
    Pane(RouterController &controller, PortKind kind, const QString &title, QColor tint,
         bool subtitleIsPriority, PortListView::Handlers handlers, QWidget *parent);

    PortRowsModel &model() { return *m_model; }
    PaneHeader &header() { return *m_header; }
    void setClearance(int clearance) { m_list->setBottomClearance(clearance); }
    void appear() { m_list->appear(); }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    PortRowsModel *m_model;
    PaneHeader *m_header = nullptr;
    PortListView *m_list = nullptr;
};

} // namespace DestinationList
