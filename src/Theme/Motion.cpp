#include "Theme/Motion.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHash>
#include <QMutex>
#include <QPointF>

#include <cmath>

namespace Motion {

namespace {

constexpr double restTolerance = 0.001;
constexpr int longestSettleMs = 10'000;

} // namespace

double springValue(const Spring &spring, double seconds)
{
    const double zeta = spring.dampingFraction;
    if (!(seconds > 0))
        return 0;
    if (!(spring.response > 0) || !(zeta > 0))
        return 1;
    const double omega = 2 * M_PI / spring.response;
    const double t = seconds;
    if (zeta < 1) {
        const double damped = omega * std::sqrt(1 - zeta * zeta);
        return 1
            - std::exp(-zeta * omega * t)
            * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
    }
    if (zeta == 1)
        return 1 - (1 + omega * t) * std::exp(-omega * t);
    const double root = std::sqrt(zeta * zeta - 1);
    const double fast = -omega * (zeta + root);
    const double slow = -omega * (zeta - root);
    return 1 - (fast * std::exp(slow * t) - slow * std::exp(fast * t)) / (fast - slow);
}

std::chrono::milliseconds settleTime(const Spring &spring)
{
    // Springs are few and fixed; each is measured once, by the last moment it was still
    // outside the tolerance.
    static QMutex lock;
    static QHash<QPair<double, double>, int> measured;
    const QPair<double, double> key(spring.response, spring.dampingFraction);
    QMutexLocker locker(&lock);
    if (const auto found = measured.constFind(key); found != measured.cend())
        return std::chrono::milliseconds(*found);
    int lastOutside = 0;
    for (int ms = 1; ms <= longestSettleMs; ++ms) {
        if (std::abs(1 - springValue(spring, ms / 1000.0)) >= restTolerance)
            lastOutside = ms;
    }
    const int settled = std::min(longestSettleMs, lastOutside + 1);
    measured.insert(key, settled);
    return std::chrono::milliseconds(settled);
}

QEasingCurve easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

QColor blend(const QColor &from, const QColor &to, qreal amount)
{
    const auto mix = [amount](float a, float b) {
        return a + (b - a) * float(amount);
    };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                            mix(from.blueF(), to.blueF()), mix(from.alphaF(), to.alphaF()));
}

double Timing::progress(std::chrono::milliseconds elapsed) const
{
    if (elapsed >= duration || duration.count() <= 0)
        return 1;
    if (spring)
        return springValue(*spring, elapsed.count() / 1000.0);
    static const QEasingCurve curve = easeOut();
    return curve.valueForProgress(double(elapsed.count()) / double(duration.count()));
}

// --- SpringAnimation -------------------------------------------------------------------------

SpringAnimation::SpringAnimation(const Spring &spring, QObject *parent)
    : QVariantAnimation(parent)
{
    setSpring(spring);
}

void SpringAnimation::setSpring(const Spring &spring)
{
    m_spring = spring;
    setDuration(int(settleTime(spring).count()));
}

QVariant SpringAnimation::interpolated(const QVariant &from, const QVariant &to,
                                       qreal progress) const
{
    // Linear progress is time; the spring decides where that time puts the value.
    const qreal along = progress >= 1 ? 1.0 : springValue(m_spring, progress * duration() / 1000.0);
    return QVariantAnimation::interpolated(from, to, along);
}

// --- Transitions -----------------------------------------------------------------------------

// Runs for as long as something moves, and reports how far the animation timer went.
class Transitions::Clock final : public QAbstractAnimation
{
public:
    explicit Clock(Transitions *owner)
        : QAbstractAnimation(owner)
        , m_owner(owner)
    { }

    int duration() const override { return -1; }

protected:
    void updateCurrentTime(int currentTime) override
    {
        const int delta = currentTime - m_last;
        m_last = currentTime;
        if (delta > 0)
            m_owner->tick(std::chrono::milliseconds(delta));
    }

    void updateState(State newState, State oldState) override
    {
        if (oldState == Stopped && newState == Running)
            m_last = 0;
    }

private:
    Transitions *m_owner;
    int m_last = 0;
};

Transitions::Transitions(QObject *parent)
    : QObject(parent)
    , m_clock(new Clock(this))
{ }

Transitions::~Transitions() = default;

double Transitions::value(quint64 key, double target, const Timing &timing)
{
    const auto found = m_tracks.find(key);
    if (found == m_tracks.end()) {
        Track track;
        track.from = track.to = track.now = target;
        track.timing = timing;
        m_tracks.insert(key, track);
        return target;
    }
    if (found->to != target)
        start(key, found->now, target, timing);
    return m_tracks.value(key).now;
}

void Transitions::start(quint64 key, double from, double target, const Timing &timing)
{
    Track &track = m_tracks[key];
    track.from = from;
    track.to = target;
    track.now = from;
    track.elapsed = std::chrono::milliseconds(0);
    track.timing = timing;
    setMoving(key, track, from != target && timing.duration.count() > 0);
    if (!track.moving)
        track.now = target;
}

double Transitions::current(quint64 key, double otherwise) const
{
    const auto found = m_tracks.constFind(key);
    return found == m_tracks.cend() ? otherwise : found->now;
}

bool Transitions::isMoving(quint64 key) const
{
    const auto found = m_tracks.constFind(key);
    return found != m_tracks.cend() && found->moving;
}

void Transitions::clear()
{
    m_tracks.clear();
    m_moving.clear();
    m_clock->stop();
}

void Transitions::setMoving(quint64 key, Track &track, bool moving)
{
    if (track.moving == moving)
        return;
    track.moving = moving;
    if (moving)
        m_moving.insert(key);
    else
        m_moving.remove(key);
    if (!m_moving.isEmpty() && m_clock->state() != QAbstractAnimation::Running)
        m_clock->start();
    else if (m_moving.isEmpty())
        m_clock->stop();
}

void Transitions::tick(std::chrono::milliseconds delta)
{
    // Receivers repaint, and painting may start new moves: walk a copy.
    const QList<quint64> moved = m_moving.values();
    for (const quint64 key : moved) {
        Track &track = m_tracks[key];
        track.elapsed += delta;
        const double progress = track.timing.progress(track.elapsed);
        track.now = track.from + (track.to - track.from) * progress;
        if (track.elapsed >= track.timing.duration) {
            track.now = track.to;
            setMoving(key, track, false);
        }
    }
    for (const quint64 key : moved)
        emit frame(key);
}

// --- RevealBox -------------------------------------------------------------------------------

RevealBox::RevealBox(QWidget *content, QWidget *parent)
    : QWidget(parent)
    , m_content(content)
    , m_animation(new SpringAnimation(standardSpring, this))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    content->setParent(this);
    content->installEventFilter(this);
    content->hide();
    hide();
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    connect(m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { showAmount(value.toReal()); });
    connect(m_animation, &QAbstractAnimation::finished, this,
            [this] { showAmount(m_revealed ? 1 : 0); });
}

bool RevealBox::isMoving() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void RevealBox::setRevealed(bool revealed, bool animated)
{
    if (revealed == m_revealed && !isMoving())
        return;
    m_revealed = revealed;
    const qreal target = revealed ? 1 : 0;
    m_animation->stop();
    if (!animated || !parentWidget() || !parentWidget()->isVisible()) {
        showAmount(target);
        return;
    }
    m_animation->setStartValue(m_amount);
    m_animation->setEndValue(target);
    m_animation->start();
}

void RevealBox::showAmount(qreal amount)
{
    const bool resting = !isMoving();
    m_amount = amount;
    const bool shown = amount > 0 || !resting;
    m_content->setVisible(shown);
    setVisible(shown);
    if (resting) {
        // At rest the content is drawn as it is, without the fade's offscreen pass.
        if (m_fade) {
            m_content->setGraphicsEffect(nullptr);
            m_fade = nullptr;
        }
    } else {
        if (!m_fade) {
            m_fade = new QGraphicsOpacityEffect(m_content);
            m_content->setGraphicsEffect(m_fade);
        }
        m_fade->setOpacity(std::clamp(amount, 0.0, 1.0));
    }
    updateGeometry();
    placeContent();
}

int RevealBox::contentHeight(int width) const
{
    if (m_content->hasHeightForWidth())
        return m_content->heightForWidth(width);
    return m_content->sizeHint().height();
}

int RevealBox::heightForWidth(int width) const
{
    return std::max(0, int(std::lround(contentHeight(width) * std::max(0.0, m_amount))));
}

QSize RevealBox::sizeHint() const
{
    const QSize content = m_content->sizeHint();
    return { content.width(), heightForWidth(width() > 0 ? width() : content.width()) };
}

QSize RevealBox::minimumSizeHint() const
{
    return { m_content->minimumSizeHint().width(), 0 };
}

void RevealBox::placeContent()
{
    m_content->setGeometry(0, 0, width(), contentHeight(width()));
}

bool RevealBox::event(QEvent *event)
{
    if (event->type() == QEvent::Resize)
        placeContent();
    return QWidget::event(event);
}

bool RevealBox::eventFilter(QObject *watched, QEvent *event)
{
    // New lines in the content change the height the box grows to.
    if (watched == m_content && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        placeContent();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace Motion
