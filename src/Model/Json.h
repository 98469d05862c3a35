#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <expected>
#include <optional>

// Strict JSON field readers shared by every stored record. A missing key and a key whose
// value is null both read as "absent"; a present value of the wrong type is an error that
// fails the whole document, as the stored forms require.
namespace Json {

template<typename T>
using Decoded = std::expected<T, QString>;

// Canonical upper-case text of a UUID, the key form of every per-router map.
QString uuidText(const QUuid &id);
// Parses canonical UUID text (any letter case, no braces); null when it is not a UUID.
QUuid parseUuid(const QString &text);

Decoded<std::optional<QString>> optString(const QJsonObject &object, const QString &key);
Decoded<std::optional<int>> optInt(const QJsonObject &object, const QString &key);
Decoded<std::optional<double>> optDouble(const QJsonObject &object, const QString &key);
Decoded<std::optional<bool>> optBool(const QJsonObject &object, const QString &key);
Decoded<std::optional<QUuid>> optUuid(const QJsonObject &object, const QString &key);
Decoded<std::optional<QJsonArray>> optArray(const QJsonObject &object, const QString &key);
Decoded<std::optional<QJsonObject>> optObject(const QJsonObject &object, const QString &key);

Decoded<QString> reqString(const QJsonObject &object, const QString &key);
Decoded<int> reqInt(const QJsonObject &object, const QString &key);
Decoded<QUuid> reqUuid(const QJsonObject &object, const QString &key);
Decoded<QJsonArray> reqArray(const QJsonObject &object, const QString &key);

// A JSON number that is a whole value in int range (5.0 passes, 5.5 and "5" fail).
Decoded<int> toInt(const QJsonValue &value, const QString &what);
Decoded<QList<int>> toIntList(const QJsonArray &array, const QString &what);
Decoded<QJsonObject> toObject(const QJsonValue &value, const QString &what);
// The top level of a stored file, which is always an object.
Decoded<QJsonObject> topLevelObject(const QJsonDocument &document);

} // namespace Json
