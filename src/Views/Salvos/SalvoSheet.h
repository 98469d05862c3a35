#pragma once

#include "Controllers/RouterController.h"
#include "Model/RouterModels.h"

#include <QDateTime>
#include <QDialog>
#include <QFrame>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;
class QHBoxLayout;
class QScrollArea;

namespace Motion {
class RevealBox;
}

// The salvo views: the workspace's strip of salvo chips, the salvo manager sheet, one salvo's
// row with its change preview, and the fire confirmation both hosts use. No view fires a
// salvo itself: hosts open a SalvoFireConfirmation, and only its Fire button calls
// RouterController::fireSalvo. All of them read the controller's observed state and redraw
// when it changes; none keeps salvo data of its own.

// Rules and texts the salvo views share. Pure: they only read the controller.
namespace SalvoViews {

// Matches the live routing: nothing to change, no locked route differs, at least one match.
bool isActive(const RouterController::SalvoDiff &diff);
// Connected, and firing would send at least one route.
bool canFire(const RouterController &controller, const RouterController::SalvoDiff &diff);
// The distinct destinations of the diff's locked routes, ascending.
QList<int> lockedDestinations(const RouterController::SalvoDiff &diff);
// "Salvo N" for the first free N from the number of `visible` salvos plus 1, ignoring case.
QString proposedName(const QList<Salvo> &visible);
// Saves the typed name (trimmed; blank saves nothing) in `scope`. A salvo of the same scope
// whose name differs only in letter case is updated under its stored name instead.
void saveTypedName(RouterController &controller, const QString &typed,
                   const std::optional<QUuid> &scope);
// `count` and the English noun, plural unless the count is 1: "1 route", "0 changes".
QString counted(qsizetype count, const QString &noun);
// The saved time relative to `now` in full words: "now", "5 minutes ago", "yesterday".
QString relativeTime(const QDateTime &then, const QDateTime &now);

// The fire confirmation's texts for a salvo against the live state.
QString fireTitle(const Salvo &salvo);
// None when no route of the salvo would be sent.
std::optional<QString> fireButtonTitle(const RouterController::SalvoDiff &diff);
QString fireMessage(const RouterController &controller, const Salvo &salvo);

} // namespace SalvoViews

// Asks before a salvo fires. Shown window-modal over `parent` with open(); its title, message
// and Fire button follow routing, lock and label changes while it is up. Fire exists only
// while some route of the salvo applies. Closing it in any way emits `concluded`, after
// Fire has called RouterController::fireSalvo with the salvo given here.
class SalvoFireConfirmation final : public QMessageBox
{
    Q_OBJECT

public:
    SalvoFireConfirmation(RouterController &controller, const Salvo &salvo,
                          QWidget *parent = nullptr);

    const Salvo &salvo() const { return m_salvo; }
    // Hidden while there is nothing to fire.
    QPushButton *fireButton() const { return m_fire; }

signals:
    void concluded(bool fired);

private:
    void refresh();

    RouterController &m_controller;
    const Salvo m_salvo;
    QPointer<RouterController> m_alive;
    QPushButton *m_fire = nullptr;
};

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
    // What a screen reader says for the row: the name and the status line; the preview's
    // lines while it is open.
    QString spokenSummary() const;
    QString spokenPreview() const;
    bool isExpanded() const { return m_expanded; }
    // Opens or closes the preview, growing or shrinking on the selection spring while it
    // fades when `animated`.
    void setExpanded(bool expanded, bool animated = false);

signals:
    // A click on the header line outside the buttons.
    void toggleRequested();
    void fireRequested();
    void updateRequested();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    // Space or Return on the focused row opens or closes its preview.
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();
    void rebuildStatus(const RouterController::SalvoDiff &diff, bool active);
    void rebuildPreview(const RouterController::SalvoDiff &diff, bool active);
    QWidget *changeLine(const Route &route);

    RouterController &m_controller;
    const Salvo m_salvo;
    bool m_expanded = false;
    QWidget *m_header = nullptr;
    QLabel *m_icon = nullptr;
    QHBoxLayout *m_status = nullptr;
    QPushButton *m_update = nullptr;
    QPushButton *m_fire = nullptr;
    QWidget *m_preview = nullptr;
    Motion::RevealBox *m_reveal = nullptr;
    QTimer *m_clock = nullptr; // keeps the saved-time wording current
    bool m_refreshQueued = false;
    bool m_keyboardFocus = false;
};

// The workspace's one-line strip of the current scope's salvos. A chip offers to fire its
// salvo (through SalvoFireConfirmation) and its context menu updates or deletes it after
// confirmation; a "+" button saves a new salvo from the current routing and a second one asks
// for the salvo manager. The workspace shows it while RouterController::showsSalvoStrip().
//
//     auto *strip = new SalvoStrip(controller);
//     connect(strip, &SalvoStrip::openManager, this, &Workspace::showSalvos);
class SalvoStrip final : public QWidget
{
    Q_OBJECT

public:
    explicit SalvoStrip(RouterController &controller, QWidget *parent = nullptr);

    // As tall as its row of chips and buttons with the margins around it, so none is cut;
    // any width, as the row scrolls.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return { 0, sizeHint().height() }; }

signals:
    // The "Manage salvos" button was pressed.
    void openManager();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();
    void restyle();
    void restyleChip(int position);
    void stateChanged();
    void beginNew();
    void fire(const Salvo &salvo);
    void confirmDelete(const Salvo &salvo);
    void confirmUpdate(const Salvo &salvo);
    void chipMenu(const Salvo &salvo, const QPoint &globalPos);

    // What a chip's salvo touches, so that a route or lock restyles only the chips it
    // concerns.
    struct ChipReach
    {
        QSet<quint64> crosspoints; // level and destination
        QSet<int> destinations;
    };

    RouterController &m_controller;
    QList<ChipReach> m_reach; // one per chip
    // Changes seen since the last stateChanged.
    QSet<quint64> m_changedCrosspoints;
    QSet<int> m_changedLocks;
    bool m_sawDetail = false;
    bool m_sawPortsChange = false;
    QScrollArea *m_scroll = nullptr;
    QHBoxLayout *m_row = nullptr;
    QList<QPushButton *> m_chips;
    QLabel *m_emptyText = nullptr;
    QPushButton *m_new = nullptr;
    QPushButton *m_manage = nullptr;
    // At most one confirmation or prompt is up at a time; each is window-modal.
    QPointer<QDialog> m_open;
};

// The "Salvos" manager, a window-modal sheet of 520 × 560 points: the current scope's salvos
// and, while a sub-panel is active, the full-router ones, each a SalvoRow. Salvos are created,
// renamed, recaptured and deleted here, each destructive step after a confirmation; a
// confirmed fire also closes the sheet. The workspace presents it:
//
//     auto *sheet = new SalvoSheet(controller, window());
//     sheet->setWindowModality(Qt::WindowModal);
//     sheet->setAttribute(Qt::WA_DeleteOnClose);
//     sheet->open();
class SalvoSheet final : public QDialog
{
    Q_OBJECT

public:
    explicit SalvoSheet(RouterController &controller, QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();
    QWidget *section(const QString &header, const QList<Salvo> &salvos, const QString &footer);
    QWidget *emptyScope(const QString &panelName);
    QWidget *emptyState();
    void toggleExpansion(const Salvo &salvo);
    void rowMenu(SalvoRow *row, const QPoint &globalPos);

    void beginNew();
    QString newSalvoMessage() const;
    void beginRename(const Salvo &salvo);
    void commitRename(const Salvo &salvo, const QString &draft);
    void fire(const Salvo &salvo);
    void confirmDelete(const Salvo &salvo);
    void confirmUpdate(const Salvo &salvo);
    void showConflict(const QString &name);

    RouterController &m_controller;
    QScrollArea *m_scroll = nullptr;
    std::optional<QUuid> m_expandedID;
    std::optional<QUuid> m_draftScope;
    QPointer<QDialog> m_open;
};
