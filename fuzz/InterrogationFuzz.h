#pragma once

#include "DriverFuzz.h"
#include "Drivers/Interrogation.h"

#include <functional>
#include <utility>

namespace InterrogationFuzz {

// The timers of an interrogated router's parser (Quartz, SW-P-08) under the fuzzer: once
// armed, the quiet period falls due between chunks when the input asks for it, and at the
// end, after the no-answer check.
struct Timers
{
    bool finalizeArmed = false;
    const bool quietBetweenChunks;

    explicit Timers(const Fuzz::Input &input)
        : quietBetweenChunks((input.options & 4) != 0)
    { }

    std::function<void(Interrogation::Timer)> arm()
    {
        return [this](Interrogation::Timer timer) {
            if (timer == Interrogation::Timer::finalize)
                finalizeArmed = true;
        };
    }

    template<typename Parser>
    void afterChunk(Parser &parser)
    {
        if (quietBetweenChunks && std::exchange(finalizeArmed, false))
            parser.finalize();
    }

    template<typename Parser>
    void atEnd(Parser &parser)
    {
        parser.checkAnswered();
        if (finalizeArmed)
            parser.finalize();
    }
};

} // namespace InterrogationFuzz
