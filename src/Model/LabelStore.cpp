#include "Model/LabelStore.h"

#include "Model/RouterMap.h"

#include <QJsonDocument>

namespace {

const QString kSources = QStringLiteral("sources");
const QString kDestinations = QStringLiteral("destinations");

QJsonObject mapToJson(const QMap<QString, QString> &map)
{
    QJsonObject object;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

Json::Decoded<QMap<QString, QString>> mapFromJson(const QJsonObject &object, const QString &key)
{
    const auto member = Json::optObject(object, key);
    if (!member)
        return std::unexpected(member.error());
    if (!*member)
        return std::unexpected(QStringLiteral("“%1” is missing").arg(key));
    QMap<QString, QString> map;
    const QJsonObject &labels = **member;
    for (auto it = labels.constBegin(); it != labels.constEnd(); ++it) {
        if (!it.value().isString())
            return std::unexpected(
                QStringLiteral("the label “%1” of “%2” is not text").arg(it.key(), key));
        map.insert(it.key(), it.value().toString());
    }
    return map;
}

QString trimmed(const QString &text)
{
    // QString::trimmed() drops white space and line breaks (including U+2028/U+2029).
    return text.trimmed();
}

} // namespace

QJsonObject PortLabels::toJson() const
{
    return { { kSources, mapToJson(sources) }, { kDestinations, mapToJson(destinations) } };
}

Json::Decoded<PortLabels> PortLabels::fromJson(const QJsonObject &object)
{
    auto sourceMap = mapFromJson(object, kSources);
    if (!sourceMap)
        return std::unexpected(sourceMap.error());
    auto destinationMap = mapFromJson(object, kDestinations);
    if (!destinationMap)
        return std::unexpected(destinationMap.error());
    return PortLabels { std::move(*sourceMap), std::move(*destinationMap) };
}

LabelStore::LabelStore(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_file(filePath)
{
    m_byConnection = load(m_file).value_or(Map());
}

QString LabelStore::defaultURL()
{
    return StoreFile::defaultPath(QStringLiteral("labels.json"));
}

std::optional<LabelStore::Map> LabelStore::load(const QString &filePath)
{
    StoreFile file(filePath);
    return load(file);
}

std::optional<LabelStore::Map> LabelStore::load(StoreFile &file)
{
    const auto decode = [](const QJsonDocument &document) -> Json::Decoded<Map> {
        const auto root = Json::topLevelObject(document);
        if (!root)
            return std::unexpected(root.error());
        return RouterMap::read<PortLabels>(*root, RouterMap::readRecord<PortLabels>);
    };
    return file.load(decode, [&file](const QString &, const QString &error) {
        StoreFile::printLine(file.unreadableLine(QStringLiteral("LabelStore"), error));
    });
}

PortLabels LabelStore::labels(const QUuid &connection) const
{
    return m_byConnection.value(Json::uuidText(connection));
}

namespace {

void applyEdit(PortLabels &labels, const LabelStore::Edit &edit)
{
    if (edit.index < 0)
        return;
    const QString text = edit.label ? trimmed(*edit.label) : QString();
    auto &map = edit.kind == PortKind::source ? labels.sources : labels.destinations;
    if (text.isEmpty())
        map.remove(QString::number(edit.index));
    else
        map.insert(QString::number(edit.index), text);
}

} // namespace

LabelStore::Failure LabelStore::set(const std::optional<QString> &label, PortKind kind, int index,
                                    const QUuid &connection)
{
    if (index < 0)
        return std::nullopt;
    return set(QList<Edit> { { kind, index, label } }, connection);
}

LabelStore::Failure LabelStore::set(const QList<Edit> &edits, const QUuid &connection)
{
    const QString key = Json::uuidText(connection);
    PortLabels labels = m_byConnection.value(key);
    for (const Edit &edit : edits)
        applyEdit(labels, edit);
    return commit(key, labels);
}

LabelStore::Failure LabelStore::merge(const ParsedLabels &parsed, const QUuid &connection)
{
    const QString key = Json::uuidText(connection);
    PortLabels labels = m_byConnection.value(key);
    const auto apply = [](const QMap<qint64, QString> &from, QMap<QString, QString> &into) {
        for (auto it = from.constBegin(); it != from.constEnd(); ++it) {
            const QString text = trimmed(it.value());
            // Only real port indices become keys: the keys carry no sign.
            if (!text.isEmpty() && it.key() >= 0)
                into.insert(QString::number(it.key()), text);
        }
    };
    apply(parsed.sources, labels.sources);
    apply(parsed.destinations, labels.destinations);
    return commit(key, labels);
}

LabelStore::Failure LabelStore::removeAll(const QUuid &connection)
{
    m_byConnection.remove(Json::uuidText(connection));
    emit byConnectionChanged();
    return save();
}

LabelStore::Failure LabelStore::commit(const QString &key, const PortLabels &labels)
{
    if (labels.isEmpty())
        m_byConnection.remove(key);
    else
        m_byConnection.insert(key, labels);
    emit byConnectionChanged();
    return save();
}

LabelStore::Failure LabelStore::save()
{
    // The text PortLabels::toJson() gives, with its members in the writer's key order.
    const auto equal = [](const auto &kept, const auto &value) {
        return kept == value;
    };
    const auto label = [](const QString &text, char &) {
        return EncodedJson::text(text);
    };
    const auto router = [&](const PortLabels &labels, LabelTexts &texts) {
        return '{' + EncodedJson::keyText(kDestinations)
            + texts.destinations.encode(labels.destinations, label, equal) + ','
            + EncodedJson::keyText(kSources) + texts.sources.encode(labels.sources, label, equal)
            + '}';
    };
    Failure failure = m_file.write(m_encoded.encode(m_byConnection, router, equal));
    if (failure)
        StoreFile::printLine(QStringLiteral("LabelStore: save failed — ") + *failure);
    return failure;
}
