#include "Model/PanelStore.h"

#include "Model/RouterMap.h"

#include <QJsonDocument>

#include <algorithm>

namespace {

const QString kPanels = QStringLiteral("panels");
const QString kActive = QStringLiteral("active");

QList<int> sortedDistinct(QList<int> indices)
{
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

Json::Decoded<PanelStore::File> decode(const QJsonDocument &document)
{
    const auto top = Json::topLevelObject(document);
    if (!top)
        return std::unexpected(top.error());
    const QJsonObject &root = *top;
    auto panels = Json::optObject(root, kPanels);
    if (!panels)
        return std::unexpected(panels.error());
    if (!*panels)
        return std::unexpected(QStringLiteral("“panels” is missing"));
    auto active = Json::optObject(root, kActive);
    if (!active)
        return std::unexpected(active.error());
    if (!*active)
        return std::unexpected(QStringLiteral("“active” is missing"));

    auto lists = RouterMap::read<QList<SubPanel>>(**panels, RouterMap::readList<SubPanel>);
    if (!lists)
        return std::unexpected(lists.error());
    PanelStore::File file;
    file.panels = std::move(*lists);
    for (auto it = (*active)->constBegin(); it != (*active)->constEnd(); ++it) {
        // Read as every stored id is read, so the nil UUID is an id like any other.
        auto id = Json::reqUuid(QJsonObject { { it.key(), it.value() } }, it.key());
        if (!id)
            return std::unexpected(id.error());
        file.active.insert(it.key(), *id);
    }
    return file;
}

} // namespace

PanelStore::PanelStore(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_file(filePath)
{
    m_file.setOnKept([this](const StoreFile::Kept &kept) { emit outsideVersionKept(kept); });
    m_content = load(m_file).value_or(File());
}

QString PanelStore::defaultURL()
{
    return StoreFile::defaultPath(QStringLiteral("panels.json"));
}

std::optional<PanelStore::File> PanelStore::load(const QString &filePath)
{
    StoreFile file(filePath);
    return load(file);
}

std::optional<PanelStore::File> PanelStore::load(StoreFile &file)
{
    auto content = file.load(decode, QStringLiteral("PanelStore"));
    if (!content && file.rescue())
        return File();
    return content;
}

QList<SubPanel> PanelStore::panels(const QUuid &connection) const
{
    QList<SubPanel> list = m_content.panels.value(Json::uuidText(connection));
    for (SubPanel &panel : list) {
        panel.sourceIndices = sortedDistinct(panel.sourceIndices);
        panel.destinationIndices = sortedDistinct(panel.destinationIndices);
    }
    return list;
}

StoreOutcome PanelStore::upsert(const SubPanel &panel, const QUuid &connection)
{
    const File before = m_content;
    QList<SubPanel> &list = m_content.panels[Json::uuidText(connection)];
    const auto same = std::find_if(list.begin(), list.end(), [&](const SubPanel &existing) {
        return existing.id == panel.id;
    });
    if (same != list.end())
        *same = panel;
    else
        list.append(panel);
    return changed(before);
}

StoreOutcome PanelStore::remove(const QUuid &id, const QUuid &connection)
{
    const File before = m_content;
    const QString key = Json::uuidText(connection);
    const auto it = m_content.panels.find(key);
    if (it != m_content.panels.end()) {
        it->removeIf([&](const SubPanel &panel) { return panel.id == id; });
        if (it->isEmpty())
            m_content.panels.erase(it);
    }
    const auto active = m_content.active.constFind(key);
    if (active != m_content.active.constEnd() && *active == id)
        m_content.active.remove(key);
    return changed(before);
}

StoreOutcome PanelStore::move(const QList<int> &fromOffsets, int toOffset, const QUuid &connection)
{
    const File before = m_content;
    const auto it = m_content.panels.find(Json::uuidText(connection));
    if (it != m_content.panels.end()) {
        const QList<SubPanel> &old = *it;
        QList<bool> moving(old.size(), false);
        for (int offset : fromOffsets) {
            if (offset >= 0 && offset < old.size())
                moving[offset] = true;
        }
        QList<SubPanel> before, moved, after;
        for (int i = 0; i < old.size(); ++i) {
            if (moving[i])
                moved.append(old[i]);
            else if (i < toOffset)
                before.append(old[i]);
            else
                after.append(old[i]);
        }
        *it = before + moved + after;
    }
    return changed(before);
}

std::optional<QUuid> PanelStore::activePanelID(const QUuid &connection) const
{
    const auto it = m_content.active.constFind(Json::uuidText(connection));
    if (it == m_content.active.constEnd())
        return std::nullopt;
    return *it;
}

StoreOutcome PanelStore::setActivePanelID(const std::optional<QUuid> &id, const QUuid &connection)
{
    const File before = m_content;
    const QString key = Json::uuidText(connection);
    if (id)
        m_content.active.insert(key, *id);
    else
        m_content.active.remove(key);
    return changed(before);
}

StoreOutcome PanelStore::removeAll(const QUuid &connection)
{
    const File before = m_content;
    const QString key = Json::uuidText(connection);
    m_content.panels.remove(key);
    m_content.active.remove(key);
    return changed(before);
}

StoreOutcome PanelStore::changed(const File &before)
{
    emit fileChanged();
    StoreOutcome outcome = save();
    if (outcome && outcome->kind == StoreFailure::Kind::refused) {
        m_content = before; // kept, it would make every later save fail too
        emit fileChanged();
    }
    return outcome;
}

StoreOutcome PanelStore::save()
{
    // The root's members in the writer's key order, "active" before "panels". The active
    // choices are small and written afresh.
    const QJsonObject active = RouterMap::write(m_content.active, Json::uuidText);
    const auto router = [](const QList<SubPanel> &list, char &) {
        return EncodedJson::text(RouterMap::writeList(list));
    };
    const auto equal = [](const QList<SubPanel> &kept, const QList<SubPanel> &list) {
        return kept == list;
    };
    const QByteArray bytes = '{' + EncodedJson::keyText(kActive) + EncodedJson::text(active) + ','
        + EncodedJson::keyText(kPanels) + m_encodedPanels.encode(m_content.panels, router, equal)
        + '}';
    return m_file.save(bytes, QStringLiteral("PanelStore"));
}
