#include "Model/EncodedJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace EncodedJson {

QByteArray text(const QJsonValue &value)
{
    // Objects and arrays are written inline exactly as they are written as a document; other
    // values through a one-element array without its brackets.
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    const QByteArray one = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return one.sliced(1, one.size() - 2);
}

QByteArray keyText(const QString &key)
{
    // The writer's own escaping of the key: a one-member object of null, without its braces
    // and value.
    const QByteArray one
        = QJsonDocument(QJsonObject { { key, QJsonValue::Null } }).toJson(QJsonDocument::Compact);
    return one.sliced(1, one.size() - 2 - 4);
}

} // namespace EncodedJson
