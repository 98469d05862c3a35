#include "Views/Labels/LabelRowsModel.h"
#include "Platform/Text.h"

#include <QKeySequence>

LabelRowsModel::LabelRowsModel(QList<Editable> rows, QObject *parent)
    : QAbstractListModel(parent)
    , m_rows(std::move(rows))
{ }

QList<LabelRowsModel::Editable> LabelRowsModel::rowsFor(const QList<Port> &ports)
{
    QList<Editable> rows;
    rows.reserve(ports.size());
    for (const Port &port : ports)
        rows.append({ port.kind, port.index, port.label, port.label });
    return rows;
}

void LabelRowsModel::replaceRows(QList<Editable> rows)
{
    const auto samePorts = [&] {
        if (rows.size() != m_rows.size())
            return false;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            if (rows.at(i).kind != m_rows.at(i).kind || rows.at(i).index != m_rows.at(i).index)
                return false;
        }
        return true;
    };
    if (!samePorts()) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        return;
    }
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i) == m_rows.at(i))
            continue;
        if (first < 0)
            first = i;
        last = i;
    }
    m_rows = std::move(rows);
    if (first >= 0)
        emit dataChanged(index(int(first)), index(int(last)));
}

void LabelRowsModel::revert(int row)
{
    if (row >= 0 && row < m_rows.size())
        setData(index(row), m_rows.at(row).original, Qt::EditRole);
}

int LabelRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant LabelRowsModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Editable &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.name;
    case Qt::AccessibleTextRole:
        return row.name.isEmpty()
            ? QString::number(qint64(row.index) + 1)
            : Text::format(QStringLiteral("%1 %2"), qint64(row.index) + 1, Text::spoken(row.name));
    case Qt::AccessibleDescriptionRole:
        if (!row.changed())
            return QString();
        return QStringLiteral("Changed from \u201c%1\u201d. %2 reverts it.")
            .arg(Text::spoken(row.original),
                 QKeySequence(revertKey).toString(QKeySequence::NativeText));
    case originalRole:
        return row.original;
    case portIndexRole:
        return row.index;
    case changedRole:
        return row.changed();
    default:
        return {};
    }
}

bool LabelRowsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    QString &name = m_rows[index.row()].name;
    const QString text = value.toString();
    if (name == text)
        return true;
    name = text;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags LabelRowsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemNeverHasChildren;
}
