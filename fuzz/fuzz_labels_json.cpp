// labels.json as found on disk: possibly hand-edited, truncated or from another version.

#include "Model/LabelStore.h"
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
    return 0;
}
