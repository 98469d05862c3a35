#include "Views/Matrix/HeaderMeasure.h"

#include "Views/Matrix/CrosspointCells.h"

#include <algorithm>
#include <cmath>

namespace Crosspoint {

namespace {

// What the bands add to their widest label, and how far they grow.
constexpr double destinationPadding = 72;
constexpr double destinationMinimum = 138;
constexpr double destinationMaximum = 260;
constexpr double sourcePadding = 44;
constexpr double sourceMinimum = 104;
constexpr double sourceMaximum = 230;

// A long label is measured by its start first: once that alone fills the band, the rest
// cannot narrow it.
constexpr qsizetype measuredStart = 96;

} // namespace

LabelWidths::LabelWidths(QFont font, double enough)
    : m_metrics(font)
    , m_enough(enough)
{ }

double LabelWidths::measure(const QString &label) const
{
    if (label.size() > measuredStart) {
        QString start = label.left(measuredStart);
        if (start.back().isHighSurrogate()) // never half a character
            start.chop(1);
        const double startWidth = std::ceil(m_metrics.horizontalAdvance(start));
        if (startWidth >= m_enough)
            return startWidth;
    }
    return std::ceil(m_metrics.horizontalAdvance(label));
}

double LabelWidths::widest(const QList<Port> &ports)
{
    double widest = 0;
    for (const Port &port : ports) {
        auto entry = m_widths.find(port.index);
        if (entry == m_widths.end())
            entry = m_widths.insert(port.index, Entry { port.label, measure(port.label) });
        else if (entry->label != port.label)
            *entry = Entry { port.label, measure(port.label) };
        widest = std::max(widest, entry->width);
        if (widest >= m_enough) // the band is as large as it gets: the rest cannot widen it
            break;
    }
    return widest;
}

HeaderSizes::HeaderSizes()
    : m_destinations(systemFont(12.5, QFont::DemiBold), destinationMaximum - destinationPadding)
    , m_sources(systemFont(11, QFont::Medium), sourceMaximum - sourcePadding)
{ }

double HeaderSizes::destinationColumnWidth(const QList<Port> &destinations)
{
    return std::clamp(m_destinations.widest(destinations) + destinationPadding, destinationMinimum,
                      destinationMaximum);
}

double HeaderSizes::headerRowHeight(const QList<Port> &sources)
{
    return std::clamp(m_sources.widest(sources) + sourcePadding, sourceMinimum, sourceMaximum);
}

void HeaderSizes::clear()
{
    // The fonts follow the application's font, which may have changed.
    *this = HeaderSizes();
}

} // namespace Crosspoint
