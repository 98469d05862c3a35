// panels.json as found on disk: possibly hand-edited, truncated or from another version.

#include "Model/PanelStore.h"
#include "StoreFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    StoreFuzz::checkFile(
        QStringLiteral("panels.json"), data, size,
        [](const QString &path) { return PanelStore::load(path); },
        [](const QString &path) {
            PanelStore store(path);
            store.save();
        });
    return 0;
}
