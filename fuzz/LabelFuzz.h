#pragma once

#include "FuzzSupport.h"
#include "Model/LabelIO.h"

// Helpers of the two label import targets.
namespace LabelFuzz {

// A router whose port labels are the lines of the text (sources first, then destinations at
// the split point), so that an export of arbitrary labels can be read back.
inline RouterState stateFromLines(const QString &text, int split)
{
    RouterState state;
    state.deviceName = QStringLiteral("Fuzz & \"Co\" <1>");
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (i < split)
            state.sources.append({ int(state.sources.size()), PortKind::source, lines.at(i) });
        else
            state.destinations.append(
                { int(state.destinations.size()), PortKind::destination, lines.at(i) });
    }
    return state;
}

inline void checkParsed(const ParsedLabels &parsed)
{
    for (const auto *map : { &parsed.sources, &parsed.destinations }) {
        for (auto it = map->constBegin(); it != map->constEnd(); ++it) {
            FUZZ_CHECK_MSG(it.key() >= 0 && it.key() < LabelImport::maxPortNumber,
                           QString::number(it.key()));
            FUZZ_CHECK(!it.value().isEmpty());
        }
    }
}

} // namespace LabelFuzz
