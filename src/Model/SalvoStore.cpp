#include "Model/SalvoStore.h"

#include "Model/JsonScan.h"
#include "Model/RouterMap.h"

#include <QJsonDocument>

SalvoStore::SalvoStore(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_file(filePath)
{
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

QByteArray salvoText(const Salvo &salvo)
{
    return EncodedJson::text(salvo.toJson());
}

} // namespace

std::optional<SalvoStore::Map> SalvoStore::load(StoreFile &file, Texts *texts, QByteArray *backing)
{
    // Only one salvo's tree exists at a time, however large the file.
    const auto decode = [&](const QByteArray &bytes) -> Json::Decoded<Map> {
        Map map;
        Texts kept;
        const auto result = JsonScan::lastMembers(bytes, 0, true, [&](const JsonScan::Member &member) {
            if (bytes[member.valueBegin] != '[')
                return JsonScan::Result(
                    std::unexpected(QStringLiteral("“%1” is not an array").arg(member.key)));
            QList<Salvo> list;
            RouterText text { EncodedJson::keyText(member.key), {}, {} };
            const auto each = [&](qsizetype begin, qsizetype end) -> JsonScan::Result {
                const auto value = JsonScan::value(bytes, begin, end);
                if (!value)
                    return std::unexpected(value.error());
                auto salvo = RouterMap::readRecord<Salvo>(*value, member.key);
                if (!salvo)
                    return std::unexpected(salvo.error());
                if (texts) {
                    QByteArray encoded = salvoText(*salvo);
                    if (QByteArrayView(encoded) == QByteArrayView(bytes).sliced(begin, end - begin))
                        encoded = EncodedJson::view(bytes, begin, end);
                    text.salvos.adopt(*salvo, std::move(encoded));
                }
                list.append(std::move(*salvo));
                return {};
            };
            if (const auto listed = JsonScan::elements(bytes, member.valueBegin, each); !listed)
                return listed;
            text.value = list;
            map.insert(member.key, std::move(list));
            if (texts)
                kept.insert(member.key, std::move(text));
            return JsonScan::Result();
        });
        if (!result)
            return std::unexpected(result.error());
        if (texts) {
            *texts = std::move(kept);
            *backing = bytes;
        }
        return map;
    };
    bool unreadable = false;
    auto map = file.loadText(decode, [&](const QString &, const QString &error) {
        unreadable = true;
        StoreFile::printLine(file.unreadableLine(QStringLiteral("SalvoStore"), error));
    });
    if (unreadable)
        return Map();
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

QByteArray SalvoStore::encode()
{
    const auto sameSalvo = [](const Salvo &kept, const Salvo &salvo) {
        return kept == salvo;
    };
    QList<const RouterText *> routers;
    routers.reserve(m_byConnection.size());
    qsizetype size = 2 + m_byConnection.size();
    auto kept = m_encoded.begin();
    for (auto it = m_byConnection.constBegin(); it != m_byConnection.constEnd(); ++it) {
        while (kept != m_encoded.end() && kept.key() < it.key())
            kept = m_encoded.erase(kept);
        if (kept == m_encoded.end() || kept.key() != it.key()) {
            kept = m_encoded.insert(kept, it.key(),
                                    RouterText { EncodedJson::keyText(it.key()), {}, {} });
            kept->salvos.refresh(*it, salvoText, sameSalvo);
            kept->value = *it;
        } else if (kept->value != *it) {
            kept->salvos.refresh(*it, salvoText, sameSalvo);
            kept->value = *it;
        }
        routers.append(&*kept);
        size += kept->key.size() + kept->salvos.size();
        ++kept;
    }
    while (kept != m_encoded.end())
        kept = m_encoded.erase(kept);

    QByteArray bytes;
    bytes.reserve(size);
    bytes += '{';
    for (qsizetype i = 0; i < routers.size(); ++i) {
        if (i > 0)
            bytes += ',';
        bytes += routers[i]->key;
        routers[i]->salvos.appendTo(bytes);
    }
    bytes += '}';

    // Once most of the file as read has been replaced, what is left of it is copied out so
    // that the rest can go.
    if (!m_backing.isEmpty()) {
        QList<QByteArray *> texts;
        for (RouterText &router : m_encoded)
            router.salvos.collectTexts(texts);
        if (EncodedJson::viewedBytes(texts, m_backing, false) < m_backing.size() / 2) {
            EncodedJson::viewedBytes(texts, m_backing, true);
            m_backing = QByteArray();
        }
    }
    return bytes;
}

StoreOutcome SalvoStore::save()
{
    return m_file.save(encode(), QStringLiteral("SalvoStore"));
}
