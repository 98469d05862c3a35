#pragma once

#include "Controllers/RouterController.h"
#include "Model/RouterModels.h"

#include <QFrame>

class ElidedLabel;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTimer;

namespace Motion {
class RevealBox;
}

// One salvo of the manager's list: icon, name, one-line status, Update and Fire buttons, and
// while expanded the route-by-route preview of what firing would change. It keeps no state:
// the owner decides expansion and answers the requests. Screen readers see the row as one
// element with the actions "Fire" (offered even while the button is disabled) and "Preview
// Changes" or "Collapse"; the keyboard reaches it with Tab.
class SalvoRow final : public QFrame
{
    Q_OBJECT

public:
    SalvoRow(RouterController &controller, const Salvo &salvo, bool expanded,
             QWidget *parent = nullptr);

    const Salvo &salvo() const { return m_salvo; }
    // Shows the salvo as it is now stored (renamed, recaptured); the row stays the same widget.
    void setSalvo(const Salvo &salvo);
    // What a screen reader says for the row: the name and the status line; the preview's
    // lines while it is open.
    QString spokenSummary() const;
    QString spokenPreview() const;
    bool isExpanded() const { return m_expanded; }
    // Opens or closes the preview, growing or shrinking on the selection spring while it
    // fades when `animated`.
    void setExpanded(bool expanded, bool animated = false);
    // Compares the salvo with the live routing again and shows it.
    void refresh();
    // From now on the owner calls refresh() when a change of the routing may have changed
    // this salvo's comparison (one index for all its rows), instead of the row comparing
    // again on every change.
    void followRoutingFromOwner() { disconnect(m_followRouting); }

signals:
    // A click on the header line outside the buttons.
    void toggleRequested();
    void fireRequested();
    void updateRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    // Space or Return on the focused row opens or closes its preview.
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    bool onHeaderLine(QPoint pos) const;
    void rebuildStatus(const RouterController::SalvoDiff &diff, bool active);
    void rebuildPreview(const RouterController::SalvoDiff &diff, bool active);
    QWidget *changeLine(const Route &route);

    RouterController &m_controller;
    Salvo m_salvo;
    bool m_expanded = false;
    QWidget *m_header = nullptr;
    QLabel *m_icon = nullptr;
    ElidedLabel *m_name = nullptr;
    QHBoxLayout *m_status = nullptr;
    QPushButton *m_update = nullptr;
    QPushButton *m_fire = nullptr;
    QWidget *m_preview = nullptr;
    Motion::RevealBox *m_reveal = nullptr;
    QTimer *m_clock = nullptr; // keeps the saved-time wording current
    bool m_refreshQueued = false;
    QMetaObject::Connection m_followRouting;
    bool m_keyboardFocus = false;
    bool m_pressedOnLine = false; // the left button went down on the line outside its buttons
};
