// connections.json as found on disk: the saved routers, possibly hand-edited or damaged.

#include "Controllers/ConnectionStore.h"
#include "StoreFuzz.h"

namespace {

ConnectionStore::Options optionsFor(const QString &path)
{
    ConnectionStore::Options options;
    options.connectionsPath = path;
    options.labelsPath = StoreFuzz::filePath(QStringLiteral("labels.json"));
    options.salvosPath = StoreFuzz::filePath(QStringLiteral("salvos.json"));
    options.panelsPath = StoreFuzz::filePath(QStringLiteral("panels.json"));
    options.usage = {};
    return options;
}

// The saved routers as a store opened on the file sees them; nothing when it was unreadable.
std::optional<QList<RouterConnection>> load(const QString &path)
{
    const bool existed = QFile::exists(path);
    ConnectionStore store(optionsFor(path));
    if (existed && !QFile::exists(path)) {
        FUZZ_CHECK(store.connections().isEmpty()); // no sample routers after a failure
        return std::nullopt;
    }
    return store.connections();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A readable file is written back by the store itself when it had to give ids, so
    // reopening it must show the same routers with the same ids.
    StoreFuzz::checkFile(QStringLiteral("connections.json"), data, size, load,
                         [](const QString &) {});
    return 0;
}
