#pragma once

#include "Model/RouterModels.h"

#include <QColor>
#include <QMargins>
#include <QObject>
#include <QWidget>

#include <chrono>
#include <optional>

class QAbstractButton;
class QPainter;
class QSpacerItem;
class QTimer;

// Small pieces of look and behaviour that the routing workspace's views share.
namespace GlassKit {

// Bottom space scrolling routing content keeps free under the floating control bar when
// nobody says otherwise.
inline constexpr int defaultControlBarClearance = 96;

// The crosspoint cell size: user default "matrixCellSize", 44 points unless changed, moved in
// steps of 6 within 30…68 by the zoom control.
inline constexpr double defaultMatrixCellSize = 44;
inline constexpr double minimumMatrixCellSize = 30;
inline constexpr double maximumMatrixCellSize = 68;
inline constexpr double matrixCellStep = 6;

// The colour of a signal level by its kind (video blue, audio green, data orange, multi
// purple), looked up by the level's index (not its position); the accent colour when the
// router has no such level. The first level with that index wins.
QColor levelTint(const RouterState &state, int levelIndex);

// A cell size kept under a user-default key. shared() is the one bound to "matrixCellSize"
// that every view of the application shows and changes; other instances (an empty key keeps
// the value in memory only) serve views that want a size of their own.
class MatrixCellSize final : public QObject
{
    Q_OBJECT

public:
    static MatrixCellSize &shared();

    // Reads `settingsKey` at once; a missing or non-numeric value reads as `fallback`.
    explicit MatrixCellSize(const QString &settingsKey, double fallback = defaultMatrixCellSize,
                            QObject *parent = nullptr);

    double value() const { return m_value; }
    // Stored as given; bounds are the zoom control's business.
    void setValue(double value);

signals:
    void valueChanged(double value);

private:
    QString m_key;
    double m_value = defaultMatrixCellSize;
};

// --- Floating panels ---------------------------------------------------------------------
// The one look of the workspace's floating panels (device header, control bar, zoom
// capsule): a nearly opaque fill standing in for the regular material, with a 1-point outline
// inside the edge in the separator colour at 0.6 opacity.

// Insets between a floating panel's edge and its content.
inline constexpr QMargins floatingPanelInsets { 16, 9, 16, 9 };

// The fill of a floating panel, from the current palette.
QColor floatingPanelFill();

// Paints a floating panel filling `bounds`: a capsule without `cornerRadius`, else a rounded
// rectangle with that radius. Leaves the painter's pen, brush and hints as it found them.
void paintFloatingPanel(QPainter &painter, const QRectF &bounds,
                        std::optional<qreal> cornerRadius = std::nullopt);

// `text` broken into at most `maxLines` lines of `width`, wrapping at word boundaries (inside
// a word only when one word is wider than a line); the last line ends in "…" when text is
// left over. Line breaks in `text` are kept. Plain text: nothing is read as markup.
QStringList wrappedLines(const QString &text, const QFont &font, qreal width, int maxLines);

// --- ErrorBanner ---------------------------------------------------------------------------
// The capsule that states an operation's failure: a warning triangle and the message, in red,
// at most two lines, on an opaque capsule (the window colour under a red wash) so it reads
// over anything it floats on. A click anywhere on it, or `dismissDelay` after the message arrived,
// emits dismissRequested(); the creator then clears the error and removes the banner.
//
//     auto *banner = new ErrorBanner(*controller.lastError(), parent);
//     connect(banner, &ErrorBanner::dismissRequested, &controller,
//             [&controller] { controller.setLastError(std::nullopt); });
//
// The wait runs while the banner is shown, starts afresh when the text changes and is
// cancelled when the banner is hidden; setting the same text again does not restart it. Each
// wait ends in at most one dismissRequested(). The message is shown verbatim as plain text.
class ErrorBanner final : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultDismissDelay { 4000 };

    explicit ErrorBanner(const QString &message = {}, QWidget *parent = nullptr,
                         std::chrono::milliseconds dismissDelay = defaultDismissDelay);

    QString message() const { return m_message; }
    void setMessage(const QString &message);

    // The lines drawn at the current width.
    QStringList lines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    void dismissRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QStringList linesFor(int width) const;
    int iconSize() const;
    void dismiss();

    QString m_message;
    QTimer *m_wait = nullptr;
};

// --- MatrixZoomControl ---------------------------------------------------------------------
// "−", a grid symbol and "+": steps a cell size by 6 points within minCell…maxCell. A value
// outside the bounds is shown unchanged; the first step towards the range clamps it. The
// change is written to `cellSize` at once, so every view bound to it redraws.
//
// `embedded` gives the bare row for use inside another floating panel (the control bar);
// otherwise the row sits on its own floating capsule. `cellSize` must outlive the control.
class MatrixZoomControl final : public QWidget
{
    Q_OBJECT

public:
    explicit MatrixZoomControl(bool embedded, MatrixCellSize &cellSize = MatrixCellSize::shared(),
                               double minCell = minimumMatrixCellSize,
                               double maxCell = maximumMatrixCellSize, QWidget *parent = nullptr);

    bool isEmbedded() const { return m_embedded; }
    // "Smaller cells" and "Larger cells".
    QAbstractButton *smallerButton() const { return m_smaller; }
    QAbstractButton *largerButton() const { return m_larger; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void step(double delta);
    void updateButtons();

    bool m_embedded;
    MatrixCellSize &m_cellSize;
    double m_minCell;
    double m_maxCell;
    QAbstractButton *m_smaller = nullptr;
    QAbstractButton *m_larger = nullptr;
    QSpacerItem *m_grid = nullptr;
};

// --- RouterBackdrop ------------------------------------------------------------------------
// The workspace's background: the window colour with a wash of the router colour that fades
// from 0.16 opacity at the top edge to nothing at the middle. Give it a layout and put the
// workspace's content on it; it draws under everything it holds.
class RouterBackdrop final : public QWidget
{
    Q_OBJECT

public:
    explicit RouterBackdrop(const QColor &tint, QWidget *parent = nullptr);

    QColor tint() const { return m_tint; }
    void setTint(const QColor &tint);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_tint;
};

} // namespace GlassKit
