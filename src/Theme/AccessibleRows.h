#pragma once

#include <QAccessible>
#include <QModelIndex>
#include <QRect>
#include <QStringList>

#include <optional>

// What screen readers see of a list whose rows a delegate paints: the view is a list with one
// element per model row, named by the row's Qt::AccessibleTextRole (else its text) and
// described by its Qt::AccessibleDescriptionRole, offering the actions its view gives it; a
// row may hold one part of its own that is a target by itself (a badge, say).
//
// A view opts in by deriving from AccessibleRows besides its item view class. Elements are
// made only when a screen reader asks for them.
class AccessibleRows
{
public:
    // A part of a row that takes a click of its own.
    struct Part
    {
        QString name;
        QAccessible::Role role = QAccessible::Button;
        bool checked = false; // for QAccessible::CheckBox
        QRect rect; // in the view's viewport
    };

    virtual ~AccessibleRows() = default;

    virtual QStringList rowActions(const QModelIndex &row) const = 0;
    virtual void doRowAction(const QModelIndex &row, const QString &action) = 0;
    // Added to the element's own state (focus, visibility).
    virtual QAccessible::State rowState(const QModelIndex &) const { return {}; }

    virtual std::optional<Part> rowPart(const QModelIndex &) const { return std::nullopt; }
    virtual void pressRowPart(const QModelIndex &) { }

    // Makes the views that derive from this class read as above; idempotent.
    static void install();
};
