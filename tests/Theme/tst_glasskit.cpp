#include "Platform/Gui/Symbols.h"
#include "SteppedAnimations.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"

#include <QAbstractButton>
#include <QPainter>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace GlassKit;
using namespace std::chrono_literals;

namespace {

RouterLevel level(int index, LevelKind kind)
{
    return RouterLevel { index, QStringLiteral("L"), kind };
}

// Presses a zoom button `times` times and returns the sizes it produced.
QList<double> press(QAbstractButton *button, MatrixCellSize &size, int times)
{
    QList<double> seen;
    for (int i = 0; i < times && button->isEnabled(); ++i) {
        QTest::mouseClick(button, Qt::LeftButton);
        seen.append(size.value());
    }
    return seen;
}

// A plain colour behind whatever is laid on it.
class Ground final : public QWidget
{
public:
    QColor color;

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), color); }
};

} // namespace

class TestGlassKit : public QObject
{
    Q_OBJECT

private slots:
    void levelTintByIndexNotPosition();

    void zoomStepsAndClamps_data();
    void zoomStepsAndClamps();
    void zoomOutsideTheBoundsClampsOnTheFirstStep();
    void zoomFollowsChangesMadeElsewhere();
    void zoomCapsuleKeepsItsInsets();
    void cellSizeIsKeptUnderItsKey();

    void wrappedLinesLimitAndElide();

    void bannerShowsTheMessageVerbatim();
    void bannerHidesWhatLiesBehindIt();
    void bannerDismissesOnClickOnce();
    void bannerWaitRunsOnlyWhileShown();
    void bannerWaitRestartsOnlyForANewText();

    void backdropWashesTheTopHalfOnly();
    void floatingPanelOutlinesInsideTheEdge();
    void kitSymbolsExist();

    void springsComeToRestWhereTheyAim_data();
    void springsComeToRestWhereTheyAim();
    void springAnimationFollowsItsSpringAndEnds();
    void transitionsMoveOnlyWhatChangedThenStop();
};

void TestGlassKit::levelTintByIndexNotPosition()
{
    RouterState state;
    QCOMPARE(levelTint(state, 0), Theme::accent());
    state.levels = { level(4, LevelKind::audio), level(1, LevelKind::data),
                     level(4, LevelKind::multi), level(2, LevelKind::video) };
    QCOMPARE(levelTint(state, 4), Theme::green()); // the first level with index 4
    QCOMPARE(levelTint(state, 1), Theme::orange());
    QCOMPARE(levelTint(state, 2), Theme::blue());
    QCOMPARE(levelTint(state, 0), Theme::accent()); // position 0 is not index 0
    state.levels.append(level(7, LevelKind::multi));
    QCOMPARE(levelTint(state, 7), Theme::purple());
}

void TestGlassKit::zoomStepsAndClamps_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<bool>("larger");
    QTest::addColumn<QList<double>>("steps");
    QTest::newRow("44 up") << 44.0 << true << QList<double> { 50, 56, 62, 68 };
    QTest::newRow("44 down, clamped at 30") << 44.0 << false << QList<double> { 38, 32, 30 };
    QTest::newRow("30 up, clamped at 68")
        << 30.0 << true << QList<double> { 36, 42, 48, 54, 60, 66, 68 };
}

void TestGlassKit::zoomStepsAndClamps()
{
    QFETCH(double, start);
    QFETCH(bool, larger);
    QFETCH(QList<double>, steps);
    MatrixCellSize size(QString(), start);
    MatrixZoomControl zoom(true, size, 30, 68);
    QAbstractButton *button = larger ? zoom.largerButton() : zoom.smallerButton();
    QAbstractButton *other = larger ? zoom.smallerButton() : zoom.largerButton();
    QCOMPARE(press(button, size, 20), steps);
    QVERIFY(!button->isEnabled()); // at the bound
    QVERIFY(other->isEnabled());
}

void TestGlassKit::zoomOutsideTheBoundsClampsOnTheFirstStep()
{
    MatrixCellSize size(QString(), 100);
    MatrixZoomControl zoom(false, size, 30, 68);
    QCOMPARE(size.value(), 100.0); // shown unchanged
    QVERIFY(!zoom.largerButton()->isEnabled());
    QTest::mouseClick(zoom.smallerButton(), Qt::LeftButton);
    QCOMPARE(size.value(), 94.0);

    size.setValue(12);
    QVERIFY(!zoom.smallerButton()->isEnabled());
    QTest::mouseClick(zoom.largerButton(), Qt::LeftButton);
    QCOMPARE(size.value(), 18.0);
}

void TestGlassKit::zoomFollowsChangesMadeElsewhere()
{
    MatrixCellSize size { QString() };
    MatrixZoomControl first(true, size);
    MatrixZoomControl second(false, size);
    QCOMPARE(first.smallerButton()->accessibleName(), QStringLiteral("Smaller cells"));
    QCOMPARE(first.largerButton()->accessibleName(), QStringLiteral("Larger cells"));
    QCOMPARE(size.value(), defaultMatrixCellSize);

    QSignalSpy changed(&size, &MatrixCellSize::valueChanged);
    press(first.largerButton(), size, 10);
    QCOMPARE(size.value(), maximumMatrixCellSize);
    QCOMPARE(changed.size(), 4); // 50, 56, 62, 68
    QVERIFY(!second.largerButton()->isEnabled());
    QTest::mouseClick(second.smallerButton(), Qt::LeftButton);
    QVERIFY(first.largerButton()->isEnabled());
}

void TestGlassKit::zoomCapsuleKeepsItsInsets()
{
    MatrixCellSize size { QString() };
    MatrixZoomControl bare(true, size);
    MatrixZoomControl capsule(false, size);
    QCOMPARE(bare.sizeHint().height(), 34);
    QCOMPARE(capsule.sizeHint() - bare.sizeHint(), QSize(32, 18));
    QVERIFY(bare.isEmbedded());
    QVERIFY(!capsule.isEmbedded());
}

void TestGlassKit::cellSizeIsKeptUnderItsKey()
{
    const QString key = QStringLiteral("test/cellSize");
    QSettings settings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    settings.setValue(key, QStringLiteral("wide"));
    settings.sync();
    {
        MatrixCellSize stored(key);
        QCOMPARE(stored.value(), defaultMatrixCellSize); // not a number: the default
        stored.setValue(56);
        stored.setValue(qQNaN()); // refused
        QCOMPARE(stored.value(), 56.0);
    }
    MatrixCellSize again(key);
    QCOMPARE(again.value(), 56.0);
    MatrixCellSize memoryOnly(QString(), 38);
    memoryOnly.setValue(62);
    QVERIFY(!settings.contains(QString()));
    QCOMPARE(MatrixCellSize(QString(), 38).value(), 38.0);
}

void TestGlassKit::wrappedLinesLimitAndElide()
{
    const QFont font = Theme::font(Theme::TextStyle::callout);
    const QFontMetricsF metrics(font);
    QCOMPARE(wrappedLines(QStringLiteral("Short"), font, 400, 2), QStringList { "Short" });
    QVERIFY(wrappedLines(QString(), font, 400, 2).isEmpty());

    const QString words = QStringLiteral("Destination Stage Left Program is locked and cannot "
                                         "take a new source until it is unlocked again");
    const QStringList two = wrappedLines(words, font, 160, 2);
    QCOMPARE(two.size(), 2);
    QVERIFY(two.last().endsWith(QChar(0x2026)));
    for (const QString &line : two)
        QVERIFY2(metrics.horizontalAdvance(line) <= 160.5, qPrintable(line));
    QCOMPARE(wrappedLines(words, font, 160, 5).join(' ').simplified(), words);

    // A break in the text starts a new line; one word wider than a line is split.
    QCOMPARE(wrappedLines(QStringLiteral("One\nTwo"), font, 400, 3),
             (QStringList { "One", "Two" }));
    const QString longWord(60, QLatin1Char('W'));
    const QStringList split = wrappedLines(longWord, font, 80, 20);
    QVERIFY(split.size() > 1);
    QCOMPARE(split.join(QString()), longWord);
}

void TestGlassKit::bannerShowsTheMessageVerbatim()
{
    const QString message = QStringLiteral("<b>Stage &amp; Screen</b> is locked.");
    ErrorBanner banner(message);
    QCOMPARE(banner.message(), message);
    QCOMPARE(banner.accessibleName(), message);
    banner.resize(banner.sizeHint());
    QCOMPARE(banner.lines(), QStringList { message }); // markup stays text, on one line

    banner.setMessage(QString(200, QLatin1Char('x')).replace(QLatin1Char('x'), "word "));
    banner.resize(300, banner.heightForWidth(300));
    QCOMPARE(banner.lines().size(), 2);
    QVERIFY(banner.heightForWidth(300) > ErrorBanner(QStringLiteral("Short.")).heightForWidth(300));
}

// The banner was a 15 % wash only: over the device header, its texts and controls showed
// through and ran into the message.
void TestGlassKit::bannerHidesWhatLiesBehindIt()
{
    Ground ground;
    ground.resize(420, 80);
    auto *banner = new ErrorBanner(QStringLiteral("Dest 3 is locked."), &ground);
    banner->setGeometry(10, 10, 400, banner->heightForWidth(400));
    const QPoint inside = banner->geometry().center() + QPoint(120, 0); // right of the text
    ground.color = Qt::black;
    const QColor overBlack = ground.grab().toImage().pixelColor(inside);
    ground.color = Qt::white;
    const QColor overWhite = ground.grab().toImage().pixelColor(inside);
    QCOMPARE(overBlack, overWhite);
    // Still the red wash over the window colour.
    QVERIFY(overWhite.red() > overWhite.green());
}

void TestGlassKit::bannerDismissesOnClickOnce()
{
    ErrorBanner banner(QStringLiteral("Link dropped."), nullptr, 10min);
    QSignalSpy dismissed(&banner, &ErrorBanner::dismissRequested);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    auto *wait = banner.findChild<QTimer *>();
    QVERIFY(wait->isActive());
    QTest::mouseClick(&banner, Qt::LeftButton, {}, banner.rect().center());
    QCOMPARE(dismissed.size(), 1);
    QVERIFY(!wait->isActive()); // the tap ends the wait: no second dismissal
}

void TestGlassKit::bannerWaitRunsOnlyWhileShown()
{
    ErrorBanner banner(QStringLiteral("Link dropped."), nullptr, 0ms);
    QSignalSpy dismissed(&banner, &ErrorBanner::dismissRequested);
    QCoreApplication::processEvents();
    QCOMPARE(dismissed.size(), 0); // never shown, never waits

    banner.show();
    banner.hide(); // gone before the wait ends: cancelled
    QCoreApplication::processEvents();
    QCOMPARE(dismissed.size(), 0);

    banner.show();
    QTRY_COMPARE(dismissed.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(dismissed.size(), 1); // one wait, one dismissal
}

void TestGlassKit::bannerWaitRestartsOnlyForANewText()
{
    const auto delay = 10min;
    ErrorBanner banner(QStringLiteral("First."), nullptr, delay);
    QCOMPARE(banner.findChild<QTimer *>()->interval(),
             int(std::chrono::milliseconds(delay).count()));
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    auto *wait = banner.findChild<QTimer *>();
    QTest::qWait(200);
    const int left = wait->remainingTime();
    banner.setMessage(QStringLiteral("First."));
    QVERIFY(wait->remainingTime() <= left); // same text: the wait goes on
    banner.setMessage(QStringLiteral("Second."));
    QVERIFY(wait->remainingTime() > left); // new text: waits afresh
    QCOMPARE(banner.message(), QStringLiteral("Second."));
    QCOMPARE(ErrorBanner().findChild<QTimer *>()->interval(), 4000);
}

void TestGlassKit::backdropWashesTheTopHalfOnly()
{
    const QColor tint(255, 0, 0);
    RouterBackdrop backdrop(tint);
    backdrop.resize(200, 400);
    const QImage image = backdrop.grab().toImage();
    const QColor window = Theme::windowBackground();
    const QColor top = image.pixelColor(100, 0);
    QVERIFY(top.red() >= window.red());
    QVERIFY(top.green() < window.green()); // red laid over the window colour
    QCOMPARE(image.pixelColor(100, 399), window);
    QCOMPARE(image.pixelColor(100, 201), window);

    backdrop.setTint(QColor());
    QCOMPARE(backdrop.grab().toImage().pixelColor(100, 0), window);
}

void TestGlassKit::floatingPanelOutlinesInsideTheEdge()
{
    QImage image(120, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::green, 5));
    paintFloatingPanel(painter, QRectF(0, 0, 120, 30));
    QCOMPARE(painter.pen().color(), QColor(Qt::green)); // painter left as it was
    painter.end();
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // a capsule: round ends
    QVERIFY(qAlpha(image.pixel(60, 15)) > 0);
    QCOMPARE(qAlpha(image.pixel(60, 36)), 0); // nothing drawn outside the bounds' shadow

    image.fill(Qt::transparent);
    QPainter corners(&image);
    paintFloatingPanel(corners, QRectF(0, 0, 120, 30), 4.0);
    corners.end();
    QVERIFY(qAlpha(image.pixel(3, 3)) > 0); // a small radius fills most of the corner
}

void TestGlassKit::kitSymbolsExist()
{
    for (const char *name : { "minus", "plus", "square.grid.3x3", "exclamationmark.triangle.fill" })
        QVERIFY2(Symbols::exists(QString::fromLatin1(name)), name);
}

void TestGlassKit::springsComeToRestWhereTheyAim_data()
{
    QTest::addColumn<double>("response");
    QTest::addColumn<double>("damping");
    QTest::addColumn<double>("peak"); // the highest value on the way
    QTest::addColumn<int>("settleFrom"); // ms, bounds of the settle time
    QTest::addColumn<int>("settleTo");
    QTest::newRow("selection spring: overshoots under 1 %") << 0.5 << 0.85 << 1.0063 << 450 << 700;
    QTest::newRow("crosspoint spring: critically damped") << 0.28 << 1.0 << 1.0 << 350 << 450;
    QTest::newRow("overdamped creeps in") << 0.3 << 1.5 << 1.0 << 500 << 1500;
}

void TestGlassKit::springsComeToRestWhereTheyAim()
{
    QFETCH(double, response);
    QFETCH(double, damping);
    QFETCH(double, peak);
    QFETCH(int, settleFrom);
    QFETCH(int, settleTo);
    const Motion::Spring spring { response, damping };
    QCOMPARE(Motion::springValue(spring, 0), 0.0);
    double highest = 0;
    for (int ms = 1; ms < 3000; ++ms)
        highest = std::max(highest, Motion::springValue(spring, ms / 1000.0));
    QVERIFY2(qAbs(highest - peak) < 0.0005, qPrintable(QString::number(highest, 'f', 5)));
    const int settle = int(Motion::settleTime(spring).count());
    QVERIFY2(settle >= settleFrom && settle <= settleTo, qPrintable(QString::number(settle)));
    for (int ms = settle; ms < settle + 2000; ms += 7)
        QVERIFY(qAbs(1 - Motion::springValue(spring, ms / 1000.0)) < 0.001);
    // Nonsense parameters jump to the end instead of dividing by zero.
    QCOMPARE(Motion::springValue({ 0, 0.85 }, 0.1), 1.0);
    QCOMPARE(Motion::settleTime({ -1, 0 }).count(), 1);
}

void TestGlassKit::springAnimationFollowsItsSpringAndEnds()
{
    SteppedAnimations clock;
    Motion::SpringAnimation move(Motion::standardSpring);
    QCOMPARE(move.duration(), int(Motion::settleTime(Motion::standardSpring).count()));
    move.setStartValue(0.0);
    move.setEndValue(100.0);
    move.start();
    clock.step(96);
    QCOMPARE(move.currentTime(), 96);
    QCOMPARE(move.currentValue().toDouble(),
             100 * Motion::springValue(Motion::standardSpring, move.currentTime() / 1000.0));
    clock.settle();
    QCOMPARE(move.state(), QAbstractAnimation::Stopped);
    QCOMPARE(move.currentValue().toDouble(), 100.0);
}

void TestGlassKit::transitionsMoveOnlyWhatChangedThenStop()
{
    SteppedAnimations clock;
    Motion::Transitions transitions;
    QSignalSpy frames(&transitions, &Motion::Transitions::frame);
    const auto spring = Motion::Timing::of(Motion::standardSpring);
    const auto hover = Motion::Timing::easedOut(Motion::hoverDuration);
    // First reads stand where they aim.
    QCOMPARE(transitions.value(1, 1, spring), 1.0);
    QCOMPARE(transitions.value(2, 0, hover), 0.0);
    QCOMPARE(transitions.current(3, 0.5), 0.5);
    QVERIFY(!transitions.isMoving());

    QCOMPARE(transitions.value(2, 1, hover), 0.0); // starts where it stood
    QVERIFY(transitions.isMoving(2));
    clock.step(48);
    const double partway = transitions.current(2, -1);
    QVERIFY2(partway > 0.4 && partway < 1, qPrintable(QString::number(partway)));
    clock.step(100);
    QCOMPARE(transitions.current(2, -1), 1.0);
    QVERIFY(!transitions.isMoving());
    QSet<quint64> moved;
    for (const QList<QVariant> &frame : std::as_const(frames))
        moved.insert(frame.first().toULongLong());
    QCOMPARE(moved, QSet<quint64> { 2 }); // the key at rest never asked for a repaint

    // A new target midway starts from where the value stands.
    transitions.start(1, 1, 0, spring);
    clock.step(64);
    const double between = transitions.current(1, -1);
    QCOMPARE(transitions.value(1, 1, spring), between);
    clock.settle();
    QCOMPARE(transitions.current(1, -1), 1.0);
    QVERIFY(!transitions.isMoving());
}

QTEST_MAIN(TestGlassKit)
#include "tst_glasskit.moc"
