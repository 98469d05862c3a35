#include "Model/Json.h"

#include <cmath>
#include <limits>

namespace Json {

namespace {

QString typeError(const QString &key, const char *expected)
{
    return QStringLiteral("“%1” is not %2").arg(key, QLatin1String(expected));
}

std::optional<QJsonValue> present(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return *it;
}

template<typename T, typename Convert>
Decoded<T> required(const QJsonObject &object, const QString &key, Convert convert)
{
    auto value = convert(object, key);
    if (!value)
        return std::unexpected(value.error());
    if (!*value)
        return std::unexpected(QStringLiteral("“%1” is missing").arg(key));
    return std::move(**value);
}

} // namespace

QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QUuid parseUuid(const QString &text)
{
    if (text.size() != 36)
        return {};
    return QUuid::fromString(text);
}

Decoded<int> toInt(const QJsonValue &value, const QString &what)
{
    if (!value.isDouble())
        return std::unexpected(typeError(what, "an integer"));
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || d < double(std::numeric_limits<int>::min())
        || d > double(std::numeric_limits<int>::max()))
        return std::unexpected(typeError(what, "an integer"));
    return int(d);
}

Decoded<QList<int>> toIntList(const QJsonArray &array, const QString &what)
{
    QList<int> list;
    list.reserve(array.size());
    for (const QJsonValue &item : array) {
        auto number = toInt(item, what);
        if (!number)
            return std::unexpected(number.error());
        list.append(*number);
    }
    return list;
}

Decoded<QJsonObject> toObject(const QJsonValue &value, const QString &what)
{
    if (!value.isObject())
        return std::unexpected(typeError(what, "an object"));
    return value.toObject();
}

Decoded<QJsonObject> topLevelObject(const QJsonDocument &document)
{
    if (!document.isObject())
        return std::unexpected(QStringLiteral("the top level is not an object"));
    return document.object();
}

Decoded<std::optional<QString>> optString(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value)
        return std::optional<QString>();
    if (!value->isString())
        return std::unexpected(typeError(key, "a string"));
    return std::optional<QString>(value->toString());
}

Decoded<std::optional<int>> optInt(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value)
        return std::optional<int>();
    auto number = toInt(*value, key);
    if (!number)
        return std::unexpected(number.error());
    return std::optional<int>(*number);
}

Decoded<std::optional<double>> optDouble(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value)
        return std::optional<double>();
    if (!value->isDouble() || !std::isfinite(value->toDouble()))
        return std::unexpected(typeError(key, "a number"));
    return std::optional<double>(value->toDouble());
}

Decoded<std::optional<bool>> optBool(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value)
        return std::optional<bool>();
    if (!value->isBool())
        return std::unexpected(typeError(key, "a Boolean"));
    return std::optional<bool>(value->toBool());
}

Decoded<std::optional<QUuid>> optUuid(const QJsonObject &object, const QString &key)
{
    auto text = optString(object, key);
    if (!text)
        return std::unexpected(text.error());
    if (!*text)
        return std::optional<QUuid>();
    const QUuid id = parseUuid(**text);
    if (id.isNull() && **text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::unexpected(typeError(key, "a UUID"));
    return std::optional<QUuid>(id);
}

Decoded<std::optional<QJsonArray>> optArray(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value)
        return std::optional<QJsonArray>();
    if (!value->isArray())
        return std::unexpected(typeError(key, "an array"));
    return std::optional<QJsonArray>(value->toArray());
}

Decoded<std::optional<QJsonObject>> optObject(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value)
        return std::optional<QJsonObject>();
    if (!value->isObject())
        return std::unexpected(typeError(key, "an object"));
    return std::optional<QJsonObject>(value->toObject());
}

Decoded<QString> reqString(const QJsonObject &object, const QString &key)
{
    return required<QString>(object, key, optString);
}

Decoded<int> reqInt(const QJsonObject &object, const QString &key)
{
    return required<int>(object, key, optInt);
}

Decoded<QUuid> reqUuid(const QJsonObject &object, const QString &key)
{
    return required<QUuid>(object, key, optUuid);
}

Decoded<QJsonArray> reqArray(const QJsonObject &object, const QString &key)
{
    return required<QJsonArray>(object, key, optArray);
}

} // namespace Json
