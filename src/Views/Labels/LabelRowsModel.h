#pragma once

#include "Model/RouterModels.h"

#include <QAbstractListModel>
#include <QKeyCombination>
#include <QList>
#include <QString>

// The rows of one side of the labels editor, in the router's port order: each port's index,
// its live label when the rows were built (`original`) and the name being typed (`name`).
// Display and edit roles are the name; screen readers get the port number with it and, on a
// changed row, how to revert it.
class LabelRowsModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        originalRole = Qt::UserRole + 1,
        portIndexRole,
        // True while the typed name differs from the original (exact text comparison).
        changedRole,
    };

    struct Editable
    {
        PortKind kind = PortKind::source;
        int index = 0;
        QString original;
        QString name;

        bool changed() const { return name != original; }
        bool operator==(const Editable &) const = default;
    };

    // Puts a changed row's original name back, from the row's name field or the row itself.
    static constexpr QKeyCombination revertKey { Qt::ControlModifier | Qt::ShiftModifier,
                                                 Qt::Key_Backspace };

    explicit LabelRowsModel(QList<Editable> rows = {}, QObject *parent = nullptr);

    static QList<Editable> rowsFor(const QList<Port> &ports);

    const QList<Editable> &rows() const { return m_rows; }
    // Takes the new rows. When they name the same ports in the same order this is one
    // dataChanged over the rows that differ, so open editors and the current row stay;
    // otherwise a model reset.
    void replaceRows(QList<Editable> rows);
    void revert(int row);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<Editable> m_rows;
};
