#include "Model/LabelStore.h"

#include "Model/JsonScan.h"
#include "Model/RouterMap.h"

#include <QJsonDocument>

#include <algorithm>

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
    m_file.setOnKept([this](const StoreFile::Kept &kept) { emit outsideVersionKept(kept); });
    m_texts = load(m_file, m_backing).value_or(Texts());
}

QString LabelStore::defaultURL()
{
    return StoreFile::defaultPath(QStringLiteral("labels.json"));
}

std::optional<LabelStore::Map> LabelStore::load(const QString &filePath)
{
    StoreFile file(filePath);
    QByteArray backing;
    const std::optional<Texts> texts = load(file, backing);
    if (!texts)
        return std::nullopt;
    Map map;
    for (auto it = texts->cbegin(); it != texts->cend(); ++it)
        map.insert(it.key(), decode(*it));
    return map;
}

namespace {

// Whether key `b` follows key `a` in the writer's order: that of their UTF-16 units.
bool follows(QByteArrayView text, const EncodedJson::Reader::String &a,
             const EncodedJson::Reader::String &b)
{
    const auto content = [&](const EncodedJson::Reader::String &key) {
        return text.sliced(key.begin, key.end - key.begin);
    };
    if (a.ascii && b.ascii)
        return content(a) < content(b);
    return EncodedJson::writtenString(content(a), a.escaped)
        < EncodedJson::writtenString(content(b), b.escaped);
}

// Whether `value` is one router's labels exactly as the writer gives them: then it is kept as
// it is, and read without the platform's parser. With `labels`, the labels are read into it.
bool readRouter(QByteArrayView value, PortLabels *labels = nullptr)
{
    EncodedJson::Reader in(value);
    const auto side = [&](QMap<QString, QString> *into) {
        if (in.literal("}"))
            return true;
        EncodedJson::Reader::String previous;
        for (bool first = true;; first = false) {
            EncodedJson::Reader::String key;
            EncodedJson::Reader::String label;
            // Each key once, in the writer's order.
            if (!in.string(&key) || (!first && !follows(value, previous, key)))
                return false;
            previous = key;
            if (!in.literal(":") || !in.string(&label))
                return false;
            const auto text = [&](const EncodedJson::Reader::String &string) {
                const QByteArrayView bytes = value.sliced(string.begin, string.end - string.begin);
                return string.ascii ? QString::fromLatin1(bytes)
                                    : EncodedJson::writtenString(bytes, string.escaped);
            };
            if (into) // in the map's own order: each goes at its end
                into->insert(into->cend(), text(key), text(label));
            if (in.literal("}"))
                return true;
            if (!in.literal(","))
                return false;
        }
    };
    return in.literal("{\"destinations\":{") && side(labels ? &labels->destinations : nullptr)
        && in.literal(",\"sources\":{") && side(labels ? &labels->sources : nullptr)
        && in.literal("}") && in.atEnd();
}

// One router's member as the writer gives it: `"key":{"destinations":{…},"sources":{…}}`.
QByteArray routerText(const QString &key, const PortLabels &labels)
{
    QByteArray text = EncodedJson::keyText(key);
    const auto append = [&text](const QMap<QString, QString> &map) {
        text += '{';
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            text += it == map.cbegin() ? "\"" : ",\"";
            EncodedJson::appendString(text, it.key());
            text += "\":\"";
            EncodedJson::appendString(text, it.value());
            text += '"';
        }
        text += '}';
    };
    text += "{\"destinations\":";
    append(labels.destinations);
    text += ",\"sources\":";
    append(labels.sources);
    text += '}';
    return text;
}

} // namespace

std::optional<LabelStore::Texts> LabelStore::load(StoreFile &file, QByteArray &backing)
{
    const auto decode = [&](const QByteArray &bytes) -> Json::Decoded<Texts> {
        Texts texts;
        const auto result = JsonScan::members(bytes, 0, true, [&](const JsonScan::Member &member) {
            const QByteArrayView value = QByteArrayView(bytes).sliced(
                member.valueBegin, member.valueEnd - member.valueBegin);
            const QByteArray key = EncodedJson::keyText(member.key);
            const QByteArrayView keyAsRead = QByteArrayView(bytes).sliced(
                member.keyBegin, member.valueBegin - member.keyBegin);
            if (keyAsRead == QByteArrayView(key) && readRouter(value)) {
                texts.insert(
                    member.key,
                    { EncodedJson::view(bytes, member.keyBegin, member.valueEnd), key.size() });
                return JsonScan::Result();
            }
            // Anything else is decoded as the whole-file reader would, and kept as the
            // writer gives it.
            const auto parsed = JsonScan::value(bytes, member.valueBegin, member.valueEnd);
            if (!parsed)
                return JsonScan::Result(std::unexpected(parsed.error()));
            const auto labels = RouterMap::readRecord<PortLabels>(*parsed, member.key);
            if (!labels)
                return JsonScan::Result(std::unexpected(labels.error()));
            texts.insert(member.key, { routerText(member.key, *labels), key.size() });
            return JsonScan::Result();
        });
        if (!result)
            return std::unexpected(result.error());
        backing = bytes;
        return texts;
    };
    return file.loadText(decode, QStringLiteral("LabelStore"));
}

PortLabels LabelStore::decode(const RouterText &text)
{
    if (PortLabels labels; readRouter(QByteArrayView(text.text).sliced(text.valueAt), &labels))
        return labels;
    const auto parsed = JsonScan::value(text.text, text.valueAt, text.text.size());
    if (!parsed || !parsed->isObject())
        return {};
    return PortLabels::fromJson(parsed->toObject()).value_or(PortLabels());
}

LabelStore::Map LabelStore::byConnection() const
{
    Map map;
    for (auto it = m_texts.cbegin(); it != m_texts.cend(); ++it)
        map.insert(it.key(), decode(*it));
    return map;
}

PortLabels LabelStore::labels(const QUuid &connection) const
{
    const auto it = m_texts.constFind(Json::uuidText(connection));
    return it == m_texts.cend() ? PortLabels() : decode(*it);
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
    PortLabels labels = this->labels(connection);
    for (const Edit &edit : edits)
        applyEdit(labels, edit);
    return commit(key, labels);
}

LabelStore::Failure LabelStore::merge(const ParsedLabels &parsed, const QUuid &connection)
{
    const QString key = Json::uuidText(connection);
    PortLabels labels = this->labels(connection);
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
    m_texts.remove(Json::uuidText(connection));
    emit byConnectionChanged();
    return save();
}

LabelStore::Failure LabelStore::commit(const QString &key, const PortLabels &labels)
{
    std::optional<RouterText> before;
    if (const auto old = m_texts.constFind(key); old != m_texts.cend()) {
        // A copy of its own: the file as read, which it may view, can go in save().
        before = *old;
        before->text = QByteArray(old->text.constData(), old->text.size());
    }
    if (labels.isEmpty())
        m_texts.remove(key);
    else
        m_texts.insert(key, { routerText(key, labels), EncodedJson::keyText(key).size() });
    emit byConnectionChanged();
    Failure failure = save();
    if (failure && failure->kind == StoreFailure::Kind::refused) {
        // Kept, it would make every later save fail too.
        if (before)
            m_texts.insert(key, *before);
        else
            m_texts.remove(key);
        emit byConnectionChanged();
    }
    return failure;
}

LabelStore::Failure LabelStore::save()
{
    qsizetype size = 2 + std::max<qsizetype>(0, m_texts.size() - 1);
    for (const RouterText &router : std::as_const(m_texts))
        size += router.text.size();
    // Once most of the file as read has been replaced, what is left of it is copied out so
    // that the rest can go.
    if (!m_backing.isEmpty()) {
        QList<QByteArray *> texts;
        for (RouterText &router : m_texts)
            texts.append(&router.text);
        EncodedJson::releaseIfMostlyReplaced(texts, m_backing);
    }
    // Handed to the writer a router at a time: joined, the file would be one more copy.
    const auto pieces = [this](const StoreFile::Put &put) {
        put("{");
        for (auto it = m_texts.cbegin(); it != m_texts.cend(); ++it) {
            if (it != m_texts.cbegin())
                put(",");
            put(it->text);
        }
        put("}");
    };
    return m_file.save(size, pieces, QStringLiteral("LabelStore"));
}
