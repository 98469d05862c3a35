#include "Model/SalvoStore.h"

#include "Model/RouterMap.h"

#include <QJsonDocument>

SalvoStore::SalvoStore(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_file(filePath)
{
    m_byConnection = load(m_file).value_or(Map());
}

QString SalvoStore::defaultURL()
{
    return StoreFile::defaultPath(QStringLiteral("salvos.json"));
}

std::optional<SalvoStore::Map> SalvoStore::load(const QString &filePath)
{
    StoreFile file(filePath);
    return load(file);
}

std::optional<SalvoStore::Map> SalvoStore::load(StoreFile &file)
{
    const auto decode = [](const QJsonDocument &document) -> Json::Decoded<Map> {
        const auto root = Json::topLevelObject(document);
        if (!root)
            return std::unexpected(root.error());
        return RouterMap::read<QList<Salvo>>(*root, RouterMap::readList<Salvo>);
    };
    bool unreadable = false;
    auto map = file.load(decode, [&](const QString &, const QString &error) {
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

StoreOutcome SalvoStore::save()
{
    const auto sameSalvo = [](const Salvo &kept, const Salvo &salvo) {
        return kept == salvo;
    };
    const auto sameList = [](const QList<Salvo> &kept, const QList<Salvo> &list) {
        return kept == list;
    };
    const auto salvoText = [](const Salvo &salvo) {
        return EncodedJson::text(salvo.toJson());
    };
    const auto router = [&](const QList<Salvo> &list, EncodedJson::Array<Salvo> &texts) {
        return texts.encode(list, salvoText, sameSalvo);
    };
    const QByteArray bytes = m_encoded.encode(m_byConnection, router, sameList);
    return m_file.save(bytes, QStringLiteral("SalvoStore"));
}
