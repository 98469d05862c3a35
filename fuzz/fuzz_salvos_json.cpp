// salvos.json as found on disk: possibly hand-edited, truncated or from another version.

#include "Model/EncodedJson.h"
#include "Model/RouterMap.h"
#include "Model/SalvoStore.h"
#include "StoreFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    StoreFuzz::checkFile(
        QStringLiteral("salvos.json"), data, size,
        [](const QString &path) { return SalvoStore::load(path); },
        [](const QString &path) {
            SalvoStore store(path);
            store.save();
        });
    StoreFuzz::checkPiecewise(
        QStringLiteral("salvos.json"), data, size,
        [](const QString &path) { return SalvoStore::load(path); },
        [](const QString &path) {
            SalvoStore store(path);
            store.save();
        },
        [](const QJsonObject &root) -> std::optional<SalvoStore::Map> {
            auto map
                = RouterMap::read<SalvoStore::Map::mapped_type>(root, RouterMap::readList<Salvo>);
            return map ? std::optional(*map) : std::nullopt;
        },
        [](const SalvoStore::Map &map) {
            return EncodedJson::text(RouterMap::write(map, RouterMap::writeList<Salvo>));
        });
    return 0;
}
