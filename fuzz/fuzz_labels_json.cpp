// labels.json as found on disk: possibly hand-edited, truncated or from another version.

#include "Model/EncodedJson.h"
#include "Model/LabelStore.h"
#include "Model/RouterMap.h"
#include "StoreFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    StoreFuzz::checkFile(
        QStringLiteral("labels.json"), data, size,
        [](const QString &path) { return LabelStore::load(path); },
        [](const QString &path) {
            LabelStore store(path);
            store.save();
        });
    StoreFuzz::checkPiecewise(
        QStringLiteral("labels.json"), data, size,
        [](const QString &path) { return LabelStore::load(path); },
        [](const QString &path) {
            LabelStore store(path);
            store.save();
        },
        [](const QJsonObject &root) -> std::optional<LabelStore::Map> {
            auto map = RouterMap::read<LabelStore::Map::mapped_type>(
                root, RouterMap::readRecord<PortLabels>);
            return map ? std::optional(*map) : std::nullopt;
        },
        [](const LabelStore::Map &map) {
            return EncodedJson::text(
                RouterMap::write(map, [](const PortLabels &labels) { return labels.toJson(); }));
        });
    return 0;
}
