#pragma once

#include <QAbstractAnimation>
#include <QColor>
#include <QEasingCurve>
#include <QHash>
#include <QSet>
#include <QVariantAnimation>
#include <QWidget>

#include <chrono>
#include <optional>

class QGraphicsOpacityEffect;

// The workspace's motion: damped springs named by response and damping fraction, the short
// hover ease-out and fades. Everything here runs on Qt's animation timer, so it follows the
// installed QAnimationDriver.
namespace Motion {

// A damped spring released at rest: `response` is the period of its undamped oscillation in
// seconds, `dampingFraction` its damping ratio (1 settles without overshoot, below 1 overshoots
// a little, above 1 creeps in).
struct Spring
{
    double response = 0.5;
    double dampingFraction = 0.85;

    bool operator==(const Spring &) const = default;
};

// Selection, staging and panel changes, cell-size changes, expanding rows.
inline constexpr Spring standardSpring { 0.5, 0.85 };
// A crosspoint becoming connected or disconnected.
inline constexpr Spring crosspointSpring { 0.28, 1.0 };

// Hover highlights ease out over this long.
inline constexpr std::chrono::milliseconds hoverDuration { 120 };

// Where a spring released at rest at 0 towards 1 stands `seconds` after its release; may pass
// 1 on the way when under-damped. Parameters that are not positive give 1 at once.
double springValue(const Spring &spring, double seconds);

// How long the spring takes to stay within 0.1 % of its target: the length of an animation
// that follows it. Never below 1 ms.
std::chrono::milliseconds settleTime(const Spring &spring);

// The ease-out curve (cubic Bézier 0, 0, 0.58, 1).
QEasingCurve easeOut();

// The colour `amount` (0…1) of the way from `from` to `to`, every channel alpha included.
QColor blend(const QColor &from, const QColor &to, qreal amount);

// How one value moves: along a spring (its settle time long), or eased out over a duration.
struct Timing
{
    std::optional<Spring> spring;
    std::chrono::milliseconds duration { 0 };

    static Timing of(const Spring &spring) { return { spring, settleTime(spring) }; }
    static Timing easedOut(std::chrono::milliseconds duration)
    {
        return { std::nullopt, duration };
    }

    // Progress (0 at the start, 1 at rest) `elapsed` into the move.
    double progress(std::chrono::milliseconds elapsed) const;
};

// A QVariantAnimation that follows a spring instead of an easing curve. Its duration is the
// spring's settle time; values may pass the end value on the way when under-damped, so
// interpolate only types for which that makes sense (numbers, points, rectangles, colours).
//
//     auto *move = new Motion::SpringAnimation(Motion::standardSpring, this);
//     connect(move, &QVariantAnimation::valueChanged, this, ...);
//     move->setStartValue(from);
//     move->setEndValue(to);
//     move->start();
class SpringAnimation final : public QVariantAnimation
{
public:
    explicit SpringAnimation(const Spring &spring = standardSpring, QObject *parent = nullptr);

    Spring spring() const { return m_spring; }
    void setSpring(const Spring &spring);

protected:
    QVariant interpolated(const QVariant &from, const QVariant &to, qreal progress) const override;

private:
    Spring m_spring;
};

// Many small values (the marks of list rows, the crosspoints of a matrix row) moving at once
// on one ticking animation, each keyed by the caller and with its own start. Values are read
// when painting; after each tick `frame` is emitted once per value still moving, so that the
// caller repaints only what moves. The tick stops by itself when everything is at rest.
class Transitions final : public QObject
{
    Q_OBJECT

public:
    explicit Transitions(QObject *parent = nullptr);
    ~Transitions() override;

    // The value of `key` on its way to `target`. A key read for the first time stands at its
    // target; when the target changes, the key moves there from where it stood.
    double value(quint64 key, double target, const Timing &timing);
    // Moves `key` from `from` to `target`, starting now.
    void start(quint64 key, double from, double target, const Timing &timing);
    // The value of `key` now, or `otherwise` for a key never read or started.
    double current(quint64 key, double otherwise) const;
    bool isMoving(quint64 key) const;
    bool isMoving() const { return !m_moving.isEmpty(); }

    // Forget every key: each stands at its target when next read.
    void clear();

signals:
    void frame(quint64 key);

private:
    struct Track
    {
        double from = 0;
        double to = 0;
        double now = 0;
        std::chrono::milliseconds elapsed { 0 };
        Timing timing;
        bool moving = false;
    };
    class Clock;

    void tick(std::chrono::milliseconds delta);
    void setMoving(quint64 key, Track &track, bool moving);

    QHash<quint64, Track> m_tracks;
    QSet<quint64> m_moving; // a tick walks only these, however many keys have been seen
    Clock *m_clock = nullptr;
};

// Shows or hides one content widget by growing to its height or shrinking away while the
// content fades, on the selection spring. The content keeps its full height meanwhile and is
// clipped, so nothing in it reflows; at rest the box is exactly as tall as its content, or
// hidden together with it.
//
//     m_reveal = new Motion::RevealBox(preview, this);
//     layout->addWidget(m_reveal);
//     m_reveal->setRevealed(true, true); // grows in
class RevealBox final : public QWidget
{
public:
    explicit RevealBox(QWidget *content, QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }
    // Where the box is heading.
    bool isRevealed() const { return m_revealed; }
    // Whether it is still on its way there.
    bool isMoving() const;
    // Hides or shows the content, at once unless `animated` and on screen.
    void setRevealed(bool revealed, bool animated);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int contentHeight(int width) const;
    void showAmount(qreal amount);
    void placeContent();

    QWidget *m_content;
    SpringAnimation *m_animation;
    QGraphicsOpacityEffect *m_fade = nullptr;
    qreal m_amount = 0;
    bool m_revealed = false;
};

} // namespace Motion
