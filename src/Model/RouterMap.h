#pragma once

#include "Model/Json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>

#include <utility>

// The per-router maps of the stores: JSON objects keyed by the upper-case UUID text of each
// saved router, read and written whole. Reading is strict: the first member that does not
// decode fails the whole map with its error.
namespace RouterMap {

// Every member of `object`, each decoded by `read(value, key)` returning Json::Decoded<T>.
template<typename T, typename Read>
Json::Decoded<QMap<QString, T>> read(const QJsonObject &object, Read read)
{
    QMap<QString, T> map;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        auto value = read(it.value(), it.key());
        if (!value)
            return std::unexpected(value.error());
        map.insert(it.key(), std::move(*value));
    }
    return map;
}

// One record read by T::fromJson; `key` names it in the error when it is not an object.
template<typename T>
Json::Decoded<T> readRecord(const QJsonValue &value, const QString &key)
{
    auto object = Json::toObject(value, key);
    if (!object)
        return std::unexpected(object.error());
    return T::fromJson(*object);
}

// An array of records read by T::fromJson; `key` names the array in errors.
template<typename T>
Json::Decoded<QList<T>> readList(const QJsonValue &value, const QString &key)
{
    if (!value.isArray())
        return std::unexpected(QStringLiteral("“%1” is not an array").arg(key));
    QList<T> list;
    for (const QJsonValue &item : value.toArray()) {
        auto record = readRecord<T>(item, key);
        if (!record)
            return std::unexpected(record.error());
        list.append(std::move(*record));
    }
    return list;
}

// Every entry of `map`, each encoded by `write(value)`.
template<typename T, typename Write>
QJsonObject write(const QMap<QString, T> &map, Write write)
{
    QJsonObject object;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        object.insert(it.key(), write(it.value()));
    return object;
}

// The records in order, each written by T::toJson.
template<typename T>
QJsonArray writeList(const QList<T> &list)
{
    QJsonArray array;
    for (const T &record : list)
        array.append(record.toJson());
    return array;
}

} // namespace RouterMap
