#include "Model/SalvoStore.h"

#include "Model/JsonScan.h"
#include "Model/RouterMap.h"

#include <QJsonDocument>
#include <QStringDecoder>

SalvoStore::SalvoStore(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_file(filePath)
{
    m_file.setOnKept([this](const StoreFile::Kept &kept) { emit outsideVersionKept(kept); });
    m_byConnection = load(m_file, &m_encoded, &m_backing).value_or(Map());
}

QString SalvoStore::defaultURL()
{
    return StoreFile::defaultPath(QStringLiteral("salvos.json"));
}

std::optional<SalvoStore::Map> SalvoStore::load(const QString &filePath)
{
    StoreFile file(filePath);
    return load(file, nullptr, nullptr);
}

namespace {

// The writer's text of a salvo starts `{"id":"<id>","name":"`, then its name.
constexpr QByteArrayView kIdKey = "{\"id\":\"";
constexpr QByteArrayView kNameKey = "\",\"name\":\"";
constexpr qsizetype kHeadSize = 7 + 36 + 10;

// A salvo read from text that is exactly what the writer gives for it, without the platform's
// parser. The name is not made here: it is the string `name` of the text.
struct WrittenSalvo
{
    Salvo salvo;
    EncodedJson::Reader::String name;
};

std::optional<WrittenSalvo> readSalvo(QByteArrayView text)
{
    EncodedJson::Reader in(text);
    WrittenSalvo written;
    Salvo &salvo = written.salvo;
    // The keys in the writer's order, the optional ones left out when absent.
    if (!in.literal("{\"id\":") || !in.uuid(salvo.id) || !in.literal(",\"name\":")
        || !in.string(&written.name))
        return std::nullopt;
    if (QUuid panel; in.literal(",\"panelID\":")) {
        if (!in.uuid(panel))
            return std::nullopt;
        salvo.panelID = panel;
    }
    if (!in.literal(",\"routes\":["))
        return std::nullopt;
    if (!in.literal("]")) {
        do {
            Route route;
            if (!in.literal("{\"destination\":") || !in.integer(route.destination)
                || !in.literal(",\"level\":") || !in.integer(route.level)
                || !in.literal(",\"source\":") || !in.integer(route.source) || !in.literal("}"))
                return std::nullopt;
            salvo.routes.append(route);
        } while (in.literal(","));
        if (!in.literal("]"))
            return std::nullopt;
    }
    if (double savedAt = 0; in.literal(",\"savedAt\":")) {
        if (!in.number(savedAt))
            return std::nullopt;
        salvo.savedAt = savedAt;
    }
    if (!in.literal("}") || !in.atEnd())
        return std::nullopt;
    return written;
}

} // namespace

// What a load found, before the names are made: each name is still the writer's text of it
// (or its UTF-8), so that the file's bytes can go first where little else of them is kept.
struct SalvoStore::Loaded
{
    struct Router
    {
        QString key;
        QList<Salvo> salvos;
        QList<QByteArray> tails;
    };
    struct Name
    {
        qsizetype router;
        qsizetype salvo;
        QByteArray text;
        bool escaped;
        // A long name copied out of the file in pieces: each is let go as soon as it is in the
        // name (the decoder carries a character cut at its end), so the copy and the name are
        // never both whole. A name as long as the file peaks at 2.1 times the file so, at 3.0
        // copied whole.
        QList<QByteArray> pieces;

        QString make()
        {
            if (pieces.isEmpty())
                return EncodedJson::writtenString(std::exchange(text, {}), escaped);
            qsizetype size = 0;
            for (const QByteArray &piece : std::as_const(pieces))
                size += piece.size();
            QString name(size, Qt::Uninitialized); // a unit a byte at most
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
            QChar *end = name.data();
            for (QByteArray &piece : pieces)
                end = utf8.appendToBuffer(end, std::exchange(piece, {}));
            name.truncate(end - name.constData());
            name.squeeze();
            return name;
        }
    };
    std::vector<Router> routers;
    std::vector<Name> names;
};

SalvoStore::SalvoText SalvoStore::textOf(const Salvo &salvo)
{
    // What follows the name, put down as the writer puts it (keys in order, ints in decimal,
    // the date as the writer writes that double) without a tree of every route.
    QByteArray tail = "\"";
    if (salvo.panelID)
        tail += ",\"panelID\":\"" + Json::uuidText(*salvo.panelID).toLatin1() + '"';
    tail += ",\"routes\":[";
    tail.reserve(tail.size() + salvo.routes.size() * 40 + 40);
    for (qsizetype i = 0; i < salvo.routes.size(); ++i) {
        const Route &route = salvo.routes.at(i);
        tail += i > 0 ? ",{\"destination\":" : "{\"destination\":";
        tail += QByteArray::number(route.destination);
        tail += ",\"level\":";
        tail += QByteArray::number(route.level);
        tail += ",\"source\":";
        tail += QByteArray::number(route.source);
        tail += '}';
    }
    tail += ']';
    if (salvo.savedAt)
        tail += ",\"savedAt\":" + EncodedJson::text(QJsonValue(*salvo.savedAt));
    tail += '}';
    return { salvo, tail };
}

qsizetype SalvoStore::textSize(const SalvoText &text)
{
    return kHeadSize + EncodedJson::stringSize(text.value.name) + text.tail.size();
}

std::optional<SalvoStore::Map> SalvoStore::load(StoreFile &file, Texts *texts, QByteArray *backing)
{
    QByteArray kept; // the file's bytes, while names or texts are views of them
    // Only one salvo's tree exists at a time, however large the file, and none for a salvo
    // in the writer's own form.
    const auto decode = [&](const QByteArray &bytes) -> Json::Decoded<Loaded> {
        Loaded loaded;
        const auto result = JsonScan::members(bytes, 0, true, [&](const JsonScan::Member &member) {
            if (bytes[member.valueBegin] != '[')
                return JsonScan::Result(
                    std::unexpected(QStringLiteral("“%1” is not an array").arg(member.key)));
            Loaded::Router router { member.key, {}, {} };
            const qsizetype at = qsizetype(loaded.routers.size());
            const auto each = [&](qsizetype begin, qsizetype end) -> JsonScan::Result {
                const QByteArrayView element = QByteArrayView(bytes).sliced(begin, end - begin);
                if (auto written = readSalvo(element)) {
                    const EncodedJson::Reader::String &name = written->name;
                    loaded.names.push_back(
                        { at,
                          router.salvos.size(),
                          EncodedJson::view(bytes, begin + name.begin, begin + name.end),
                          name.escaped,
                          {} });
                    if (texts)
                        router.tails.append(EncodedJson::view(bytes, begin + name.end, end));
                    router.salvos.append(std::move(written->salvo));
                    return {};
                }
                const auto value = JsonScan::value(bytes, begin, end);
                if (!value)
                    return std::unexpected(value.error());
                auto salvo = RouterMap::readRecord<Salvo>(*value, member.key);
                if (!salvo)
                    return std::unexpected(salvo.error());
                if (texts)
                    router.tails.append(textOf(*salvo).tail);
                // Held as the writer's text of it, as a name read in that form is.
                QByteArray name;
                EncodedJson::appendString(name, std::exchange(salvo->name, {}));
                const bool escaped = name.contains('\\');
                loaded.names.push_back({ at, router.salvos.size(), name, escaped, {} });
                router.salvos.append(std::move(*salvo));
                return {};
            };
            if (const auto listed = JsonScan::elements(bytes, member.valueBegin, each); !listed)
                return listed;
            loaded.routers.push_back(std::move(router));
            return JsonScan::Result();
        });
        if (!result)
            return std::unexpected(result.error());
        // The texts kept as views keep the file's bytes while they are most of it; otherwise
        // they and the names are copied out, and the bytes go before the names are made.
        kept = bytes;
        if (texts) {
            QList<QByteArray *> tails;
            for (Loaded::Router &router : loaded.routers) {
                for (QByteArray &tail : router.tails)
                    tails.append(&tail);
            }
            EncodedJson::releaseIfMostlyReplaced(tails, kept);
        }
        if (!kept.isEmpty())
            return loaded;
        // Pieces large enough to be mappings of their own, given back as each is let go.
        constexpr qsizetype piece = 8 << 20;
        for (Loaded::Name &name : loaded.names) {
            if (!EncodedJson::isViewOf(name.text, bytes))
                continue;
            if (name.escaped || name.text.size() <= piece) {
                name.text = QByteArray(name.text.constData(), name.text.size());
                continue;
            }
            for (qsizetype at = 0; at < name.text.size(); at += piece)
                name.pieces.append(name.text.sliced(at, std::min(piece, name.text.size() - at)));
            name.text = QByteArray();
        }
        return loaded;
    };
    auto loaded = file.loadText(decode, QStringLiteral("SalvoStore"));
    if (!loaded && file.rescue())
        return Map();
    if (!loaded)
        return std::nullopt;

    for (Loaded::Name &name : loaded->names)
        loaded->routers[size_t(name.router)].salvos[name.salvo].name = name.make();
    Map map;
    Texts byRouter;
    for (Loaded::Router &router : loaded->routers) {
        if (texts) {
            RouterText text { EncodedJson::keyText(router.key), router.salvos, {} };
            text.salvos.reserve(router.salvos.size());
            for (qsizetype i = 0; i < router.salvos.size(); ++i)
                text.salvos.append({ router.salvos.at(i), std::move(router.tails[i]) });
            byRouter.insert(router.key, std::move(text));
        }
        map.insert(router.key, std::move(router.salvos));
    }
    if (texts) {
        *texts = std::move(byRouter);
        *backing = kept;
    }
    return map;
}

QList<Salvo> SalvoStore::salvos(const QUuid &connection) const
{
    return m_byConnection.value(Json::uuidText(connection));
}

StoreOutcome SalvoStore::add(const Salvo &salvo, const QUuid &connection)
{
    const QString key = Json::uuidText(connection);
    QList<Salvo> list = m_byConnection.value(key);
    const auto same = std::find_if(list.begin(), list.end(), [&](const Salvo &existing) {
        return existing.name == salvo.name && existing.panelID == salvo.panelID;
    });
    if (same != list.end()) {
        same->routes = salvo.routes;
        same->savedAt = salvo.savedAt;
    } else {
        list.append(salvo);
    }
    return commit(key, list);
}

StoreOutcome SalvoStore::update(const QUuid &id, const QList<Route> &routes, double savedAt,
                                const QUuid &connection)
{
    const QString key = Json::uuidText(connection);
    QList<Salvo> list = m_byConnection.value(key);
    for (Salvo &salvo : list) {
        if (salvo.id == id) {
            salvo.routes = routes;
            salvo.savedAt = savedAt;
            return commit(key, list);
        }
    }
    return std::nullopt;
}

StoreOutcome SalvoStore::rename(const QUuid &id, const QString &name, const QUuid &connection)
{
    const QString key = Json::uuidText(connection);
    QList<Salvo> list = m_byConnection.value(key);
    for (Salvo &salvo : list) {
        if (salvo.id == id) {
            salvo.name = name;
            return commit(key, list);
        }
    }
    return std::nullopt;
}

StoreOutcome SalvoStore::commit(const QString &key, const QList<Salvo> &list)
{
    const auto old = m_byConnection.constFind(key);
    const std::optional<QList<Salvo>> before
        = old != m_byConnection.cend() ? std::optional(*old) : std::nullopt;
    m_byConnection.insert(key, list);
    emit byConnectionChanged();
    StoreOutcome outcome = save();
    if (outcome && outcome->kind == StoreFailure::Kind::refused) {
        // Kept, it would make every later save fail too.
        if (before)
            m_byConnection.insert(key, *before);
        else
            m_byConnection.remove(key);
        emit byConnectionChanged();
    }
    return outcome;
}

template<typename Predicate>
StoreOutcome SalvoStore::removeWhere(const QUuid &connection, Predicate predicate)
{
    const auto it = m_byConnection.find(Json::uuidText(connection));
    if (it != m_byConnection.end()) {
        it->removeIf(predicate);
        if (it->isEmpty())
            m_byConnection.erase(it);
    }
    emit byConnectionChanged();
    return save();
}

StoreOutcome SalvoStore::remove(const QUuid &id, const QUuid &connection)
{
    return removeWhere(connection, [&](const Salvo &salvo) { return salvo.id == id; });
}

StoreOutcome SalvoStore::removeAll(const QUuid &panelID, const QUuid &connection)
{
    return removeWhere(connection, [&](const Salvo &salvo) { return salvo.panelID == panelID; });
}

StoreOutcome SalvoStore::removeAll(const QUuid &connection)
{
    m_byConnection.remove(Json::uuidText(connection));
    emit byConnectionChanged();
    return save();
}

void SalvoStore::refresh()
{
    auto kept = m_encoded.begin();
    for (auto it = m_byConnection.constBegin(); it != m_byConnection.constEnd(); ++it) {
        while (kept != m_encoded.end() && kept.key() < it.key())
            kept = m_encoded.erase(kept);
        if (kept == m_encoded.end() || kept.key() != it.key())
            kept = m_encoded.insert(kept, it.key(),
                                    RouterText { EncodedJson::keyText(it.key()), {}, {} });
        if (kept->value != *it || kept->salvos.size() != it->size()) {
            // Salvos are matched to kept texts in order, so appending, replacing and removing
            // salvos encodes only the new ones.
            QList<SalvoText> salvos;
            salvos.reserve(it->size());
            qsizetype next = 0;
            for (const Salvo &salvo : *it) {
                qsizetype found = next;
                while (found < kept->salvos.size() && !(kept->salvos[found].value == salvo))
                    ++found;
                if (found < kept->salvos.size()) {
                    salvos.append(std::move(kept->salvos[found]));
                    next = found + 1;
                } else {
                    salvos.append(textOf(salvo));
                }
            }
            kept->salvos = std::move(salvos);
            kept->value = *it;
        }
        ++kept;
    }
    while (kept != m_encoded.end())
        kept = m_encoded.erase(kept);

    // Once most of the file as read has been replaced, what is left of it is copied out so
    // that the rest can go.
    if (!m_backing.isEmpty()) {
        QList<QByteArray *> texts;
        for (RouterText &router : m_encoded) {
            for (SalvoText &salvo : router.salvos)
                texts.append(&salvo.tail);
        }
        EncodedJson::releaseIfMostlyReplaced(texts, m_backing);
    }
}

StoreOutcome SalvoStore::save()
{
    refresh();
    // The file is handed to the writer a salvo at a time: joined, it would be one more copy.
    qsizetype size = 2 + std::max<qsizetype>(0, m_encoded.size() - 1);
    for (const RouterText &router : std::as_const(m_encoded)) {
        size += router.key.size() + 2 + std::max<qsizetype>(0, router.salvos.size() - 1);
        for (const SalvoText &salvo : router.salvos)
            size += textSize(salvo);
    }
    const auto pieces = [this](const StoreFile::Put &put) {
        QByteArray head;
        put("{");
        for (auto it = m_encoded.cbegin(); it != m_encoded.cend(); ++it) {
            if (it != m_encoded.cbegin())
                put(",");
            put(it->key);
            put("[");
            for (qsizetype i = 0; i < it->salvos.size(); ++i) {
                const SalvoText &salvo = it->salvos.at(i);
                head.resize(0);
                if (i > 0)
                    head += ',';
                head += kIdKey;
                head += Json::uuidText(salvo.value.id).toLatin1();
                head += kNameKey;
                put(head);
                // A long name goes in slices, each of whole characters.
                const QStringView name = salvo.value.name;
                for (qsizetype at = 0; at < name.size();) {
                    qsizetype end = std::min<qsizetype>(at + 4096, name.size());
                    if (end < name.size() && name[end].isLowSurrogate())
                        --end;
                    head.resize(0);
                    EncodedJson::appendString(head, name.sliced(at, end - at));
                    put(head);
                    at = end;
                }
                put(salvo.tail);
            }
            put("]");
        }
        put("}");
    };
    return m_file.save(size, pieces, QStringLiteral("SalvoStore"));
}
