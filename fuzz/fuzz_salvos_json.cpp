// salvos.json as found on disk: possibly hand-edited, truncated or from another version.

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
    return 0;
}
