#pragma once

#include <QAbstractAnimation>
#include <QAnimationDriver>
#include <QCoreApplication>

// Runs Qt's animations on a clock the test moves by hand, so a test checks where an animation
// stands after a given time, or that it has come to rest, without waiting in real time. The
// real clock is back when the object goes.
class SteppedAnimations final : public QAnimationDriver
{
public:
    SteppedAnimations() { install(); }
    ~SteppedAnimations() override { uninstall(); }

    qint64 elapsed() const override { return m_elapsed; }

    // Lets `ms` of animation time pass, in frames of at most 16 ms.
    void step(int ms)
    {
        // Animations started a moment ago join the timer through two queued calls.
        for (int pass = 0; pass < 2; ++pass)
            QCoreApplication::processEvents();
        while (ms > 0) {
            const int step = std::min(ms, 16);
            m_elapsed += step;
            ms -= step;
            advanceAnimation();
        }
        // Each pass handles only what was posted before it: let layouts reach the top.
        for (int pass = 0; pass < 8; ++pass)
            QCoreApplication::processEvents();
    }

    // Long enough for every animation of the workspace to come to rest.
    void settle() { step(3000); }

protected:
    // The timer counts from each start of the driver, as the real one does.
    void start() override
    {
        m_elapsed = 0;
        QAnimationDriver::start();
    }

private:
    qint64 m_elapsed = 0;
};
