#pragma once

#include <QAccessible>
#include <QHash>
#include <QPoint>
#include <QSet>

class CrosspointMatrixView;

namespace Crosspoint {

// The screen-reader elements of one matrix: a source or destination header, or a crosspoint,
// named by its ports, not its place. They are made only when a reader asks for one, so a
// router of 1024 × 1024 ports costs nothing until it is read, and readers are told of changes
// only to the elements they were given: once per burst, and only what changed in them.
class AccessibleElements final
{
public:
    enum Kind : quint8 { sourceHeader, destinationHeader, crosspoint };

    explicit AccessibleElements(CrosspointMatrixView &view);
    ~AccessibleElements();
    AccessibleElements(const AccessibleElements &) = delete;
    AccessibleElements &operator=(const AccessibleElements &) = delete;

    // The element of these port indices (-1 for a header's other axis), made on first ask.
    QAccessibleInterface *element(Kind kind, int source, int destination);
    // The element at a keyboard position, as CrosspointMatrixView::keyboardCell() gives it.
    QAccessibleInterface *at(QPoint position);
    // Whether `iface` is one of this matrix's elements, and which.
    bool owns(const QAccessibleInterface *iface) const;

    // A destination's row changed (route, lock, staging); a source's header changed (signal,
    // arming); anything may have changed (labels, ports, level).
    void rowChanged(int destination);
    void sourceChanged(int source);
    void allChanged();
    // The keyboard moved, or the matrix took the focus: readers hear the element it is on.
    void focusMoved();

private:
    static quint64 key(Kind kind, int source, int destination);
    void markDirty(quint64 key);
    void flush();
    void dropStaleElements();

    CrosspointMatrixView &m_view;
    QHash<quint64, QAccessible::Id> m_ids;
    // The sources of each destination row that have a crosspoint element.
    QHash<int, QSet<int>> m_rowCells;
    qsizetype m_dropStaleAt = 4096;
    QSet<quint64> m_dirty;
    bool m_allDirty = false;
    bool m_focusMoved = false;
    bool m_flushQueued = false;
};

// Makes the matrix's headers and crosspoints known to screen readers; once is enough.
void installAccessibility();

} // namespace Crosspoint
