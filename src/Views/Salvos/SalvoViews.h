#pragma once

#include "Controllers/RouterController.h"
#include "Model/RouterModels.h"
#include "Theme/SectionCard.h"

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QPointer>

#include <optional>

class QDialog;
class QLabel;
class QWidget;

// The salvo views: the workspace's strip of salvo chips (SalvoStrip), the salvo manager sheet
// (SalvoSheet), one salvo's row with its change preview (SalvoRow), and the fire confirmation
// both hosts use (SalvoFireConfirmation). No view fires a salvo itself: hosts open a
// SalvoFireConfirmation, and only its Fire button calls RouterController::fireSalvo. All of
// them read the controller's observed state and redraw when it changes; none keeps salvo data
// of its own.

// Rules and texts the salvo views share, and the small pieces they are built from. The rules
// are pure: they only read the controller.
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
// whose name differs only in letter case is updated under its stored name instead. `saved`
// is set to the name it was saved under.
StoreOutcome saveTypedName(RouterController &controller, const QString &typed,
                           const std::optional<QUuid> &scope, QString *saved = nullptr);
// `count` and the English noun, plural unless the count is 1: "1 route", "0 changes".
QString counted(qsizetype count, const QString &noun);
// The saved time relative to `now` in full words: "now", "5 minutes ago", "yesterday".
QString relativeTime(const QDateTime &then, const QDateTime &now);

// The fire confirmation's texts for a salvo against the live state.
QString fireTitle(const Salvo &salvo);
// None when no route of the salvo would be sent.
std::optional<QString> fireButtonTitle(const RouterController::SalvoDiff &diff);
QString fireMessage(const RouterController &controller, const Salvo &salvo);

// The name as shown (shownName) in curly quotes: “name”.
QString quoted(const QString &name);
QColor indigo();
std::optional<SubPanel> panelWithId(const RouterController &controller,
                                    const std::optional<QUuid> &id);
// Sets the text colour of a label or field.
void colorize(QWidget *widget, const QColor &color);
// Plain-text labels in `font`, in `color` when it is valid.
QLabel *textLabel(const QString &text, const QFont &font, const QColor &color = {});
QLabel *wrappedLabel(const QString &text, const QFont &font, const QColor &color = {});
// A symbol followed by a text, both in one colour: "lock.fill 2", "checkmark Active".
QWidget *symbolText(const QString &symbol, const QString &text, const QFont &font,
                    const QColor &color);

// The texts of the delete and update confirmations and of the full router's new salvo.
QString deleteTitle(const Salvo &salvo);
QString updateTitle(const Salvo &salvo);
inline const QString deleteMessage = QStringLiteral("This salvo cannot be recovered.");
inline const QString updateMessage = QStringLiteral(
    "Replaces its saved snapshot with the current routing. The old snapshot cannot be "
    "recovered.");
inline const QString fullRouterNewMessage = QStringLiteral(
    "Captures every destination's current source on all levels. Saving with an existing name "
    "updates that salvo.");

// Opens `dialog` as the host's one open prompt. The host forgets it as soon as it closes
// (accepted and rejected come before finished), so closing handlers may open the next one.
void present(QObject *host, QPointer<QDialog> &slot, QDialog *dialog);
// A write that failed, told as the host's one open prompt (over the prompt that made the
// edit, which is closing): what happened to the salvo `name` ("captured", "deleted") and the
// reason. Nothing for a saved change.
void tellOutcome(QObject *host, QPointer<QDialog> &slot, QWidget *parent,
                 const StoreOutcome &outcome, const QString &name, const QString &done);

} // namespace SalvoViews
