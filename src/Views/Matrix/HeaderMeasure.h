#pragma once

#include "Model/RouterModels.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QList>
#include <QString>

namespace Crosspoint {

// The widest of the port labels a header band is sized by, at one font, remembering each
// port's width so that a relayout measures only the labels that changed since the last one.
// Widths past `enough` (where the band stops growing) are not told apart, so a huge label
// costs no more to measure than a long one.
class LabelWidths final
{
public:
    LabelWidths(QFont font, double enough);

    // The widest label of `ports`, each rounded up to a whole point; 0 without ports. The
    // result is exact up to `enough`; anything wider reads as at least `enough`, and once a
    // label reaches it the rest are not measured.
    double widest(const QList<Port> &ports);
    // Forget every width (the font or the screen changed).
    void clear() { m_widths.clear(); }

private:
    double measure(const QString &label) const;

    struct Entry
    {
        QString label;
        double width = 0;
    };
    QFontMetricsF m_metrics;
    double m_enough;
    QHash<int, Entry> m_widths; // by port index
};

// The header bands' sizes from their labels, each measured once per text.
class HeaderSizes final
{
public:
    HeaderSizes();

    // Width of the destination header column: the widest label at the row header's font,
    // rounded up, plus 72, within 138…260.
    double destinationColumnWidth(const QList<Port> &destinations);
    // Height of the header row: the widest source label at the column header's font, rounded
    // up, plus 44, within 104…230.
    double headerRowHeight(const QList<Port> &sources);
    void clear();

private:
    LabelWidths m_destinations;
    LabelWidths m_sources;
};

} // namespace Crosspoint
