#include "ConsoleCapture.h"
#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/RouterMap.h"
#include "Model/SalvoStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QUuid kRouter = QUuid::fromString(QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E"));
const QString kKey = QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject readObject(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

Salvo makeSalvo(const QString &name, std::optional<QUuid> panel, int source, double savedAt = 10)
{
    Salvo salvo;
    salvo.name = name;
    salvo.panelID = panel;
    salvo.routes = { Route { 0, 1, source } };
    salvo.savedAt = savedAt;
    return salvo;
}

SubPanel makePanel(const QString &name, QList<int> sources = {}, QList<int> destinations = {})
{
    SubPanel panel;
    panel.name = name;
    panel.sourceIndices = sources;
    panel.destinationIndices = destinations;
    return panel;
}

} // namespace

class TestStores : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void defaultLocationIsGenericDataFolder();

    void labelSetTrimsAndRemoves();
    void labelMergeSkipsEmptyNames();
    void labelKeysAreCanonicalUpperCase();
    void labelFileRoundTrip();
    void labelEditsWriteOnceWhatSetsWrite();
    void unreadableFilesMoveAside_data();
    void unreadableFilesMoveAside();
    void laterUnreadableFileKeepsEveryCopy();
    void blockedAsideNameKeepsTheOnlyCopy();
    void failedSaveKeepsTheChange();
    void labelChangeTheFileCannotHoldIsUndone();
    void oversizedFileIsUnreadable();
    void writeCutShortKeepsTheOldFile();
    void fifoIsUnreadableInsteadOfBlocking();
    void keptEncodingWritesWhatAFullEncodeWrites_data();
    void keptEncodingWritesWhatAFullEncodeWrites();

    void salvoAddMatchesNameAndPanel();
    void salvoUpdateAndRenameNeedAKnownId();
    void salvoRemovalRules();
    void salvoOptionalKeysStayAbsent();
    void salvoNamesOfEveryFormReadBack();
    void repeatedRouterKeyKeepsTheLastMember();

    void panelIndicesHandedOutSorted();
    void panelUpsertKeepsPosition();
    void panelRemovalAndActive();
    void panelMove_data();
    void panelMove();
    void panelWritesEvenWithoutChange();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestStores::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestStores::defaultLocationIsGenericDataFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QCOMPARE(LabelStore::defaultURL(), QDir(base).filePath(QStringLiteral("Quorvel/labels.json")));
    QCOMPARE(SalvoStore::defaultURL(), QDir(base).filePath(QStringLiteral("Quorvel/salvos.json")));
    QCOMPARE(PanelStore::defaultURL(), QDir(base).filePath(QStringLiteral("Quorvel/panels.json")));
}

void TestStores::labelSetTrimsAndRemoves()
{
    const QString file = path(QStringLiteral("Quorvel/labels.json"));
    LabelStore store(file);
    QSignalSpy changed(&store, &LabelStore::byConnectionChanged);

    store.set(QStringLiteral("  Camera 4\n"), PortKind::source, 3, kRouter);
    QCOMPARE(store.labels(kRouter).sources.value(QStringLiteral("3")), QStringLiteral("Camera 4"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(readAll(file),
             QByteArray(R"({"0F8FAD5B-D9CB-469F-A165-70867728950E":)"
                        R"({"destinations":{},"sources":{"3":"Camera 4"}}})"));

    // A destination with the same index is a different override.
    store.set(QStringLiteral("Monitor"), PortKind::destination, 3, kRouter);
    store.set(std::nullopt, PortKind::destination, 3, kRouter);
    QCOMPARE(store.labels(kRouter).sources.value(QStringLiteral("3")), QStringLiteral("Camera 4"));
    QVERIFY(store.labels(kRouter).destinations.isEmpty());

    // Blank text clears like no text; the last override takes the router's member with it.
    store.set(QStringLiteral(" \t "), PortKind::source, 3, kRouter);
    QVERIFY(store.byConnection().isEmpty());
    QCOMPARE(readAll(file), QByteArray("{}"));

    store.set(QStringLiteral("X"), PortKind::source, -1, kRouter);
    QVERIFY(store.byConnection().isEmpty());
}

void TestStores::labelMergeSkipsEmptyNames()
{
    const QString file = path(QStringLiteral("labels.json"));
    LabelStore store(file);
    store.set(QStringLiteral("Old zero"), PortKind::source, 0, kRouter);

    ParsedLabels parsed;
    parsed.sources = { { 0, QStringLiteral("  ") },
                       { 1, QStringLiteral(" One ") },
                       { -4, QStringLiteral("bad") } };
    parsed.destinations = { { qint64(1) << 40, QStringLiteral("Far") } };
    store.merge(parsed, kRouter);
    const PortLabels labels = store.labels(kRouter);
    QCOMPARE(labels.sources.value(QStringLiteral("0")), QStringLiteral("Old zero"));
    QCOMPARE(labels.sources.value(QStringLiteral("1")), QStringLiteral("One"));
    QCOMPARE(labels.sources.size(), 2);
    QCOMPARE(labels.destinations.value(QStringLiteral("1099511627776")), QStringLiteral("Far"));

    // An empty import for a router without overrides still writes and adds no entry.
    const QUuid other = QUuid::createUuid();
    QFile::remove(file);
    store.merge(ParsedLabels(), other);
    QVERIFY(QFile::exists(file));
    QVERIFY(!readObject(file).contains(Json::uuidText(other)));
    QVERIFY(!store.byConnection().contains(Json::uuidText(other)));
}

void TestStores::labelKeysAreCanonicalUpperCase()
{
    const QString file = path(QStringLiteral("labels.json"));
    writeFile(file,
              R"({"0f8fad5b-d9cb-469f-a165-70867728950e":)"
              R"({"sources":{"0":"Lower"},"destinations":{}}})");
    LabelStore store(file);
    QVERIFY(store.labels(kRouter).isEmpty());
    store.set(QStringLiteral("Upper"), PortKind::source, 0, kRouter);
    QCOMPARE(store.byConnection().size(), 2);
    QCOMPARE(store.labels(kRouter).sources.value(QStringLiteral("0")), QStringLiteral("Upper"));
}

void TestStores::labelFileRoundTrip()
{
    const QString file = path(QStringLiteral("labels.json"));
    {
        LabelStore store(file);
        store.set(QStringLiteral("Cam “1” — main"), PortKind::source, 0, kRouter);
        store.set(QStringLiteral("Out"), PortKind::destination, 11, kRouter);
    }
    {
        ConsoleCapture console;
        LabelStore store(file);
        QCOMPARE(store.labels(kRouter).sources.value(QStringLiteral("0")),
                 QStringLiteral("Cam “1” — main"));
        QCOMPARE(store.labels(kRouter).destinations.value(QStringLiteral("11")),
                 QStringLiteral("Out"));
        QVERIFY(console.lines().isEmpty());
        QCOMPARE(*LabelStore::load(file), store.byConnection());
    }
    QVERIFY(!LabelStore::load(path(QStringLiteral("missing.json"))).has_value());
}

void TestStores::unreadableFilesMoveAside_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("labels: top-level array") << "labels" << QByteArray("[]");
    QTest::newRow("labels: invalid JSON") << "labels" << QByteArray("{\"A\":");
    QTest::newRow("labels: empty file") << "labels" << QByteArray();
    QTest::newRow("labels: no destinations")
        << "labels" << QByteArray(R"({"A":{"sources":{"0":"x"}}})");
    QTest::newRow("labels: null destinations")
        << "labels" << QByteArray(R"({"A":{"sources":{},"destinations":null}})");
    QTest::newRow("labels: label not text")
        << "labels" << QByteArray(R"({"A":{"sources":{"0":5},"destinations":{}}})");
    QTest::newRow("salvos: top-level string") << "salvos" << QByteArray("\"x\"");
    QTest::newRow("salvos: no routes")
        << "salvos"
        << QByteArray(R"({"A":[{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"S"}]})");
    QTest::newRow("salvos: list not array") << "salvos" << QByteArray(R"({"A":{}})");
    QTest::newRow("panels: no active") << "panels" << QByteArray(R"({"panels":{}})");
    QTest::newRow("panels: no panels") << "panels" << QByteArray(R"({"active":{}})");
    QTest::newRow("panels: active not UUID")
        << "panels" << QByteArray(R"({"panels":{},"active":{"A":"nope"}})");
    QTest::newRow("panels: sub-panel without name")
        << "panels"
        << QByteArray(R"({"panels":{"A":[{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
                      R"("sourceIndices":[],"destinationIndices":[]}]},"active":{}})");
}

void TestStores::unreadableFilesMoveAside()
{
    QFETCH(QString, store);
    QFETCH(QByteArray, content);
    const QString name = store + QStringLiteral(".json");
    const QString file = path(name);
    writeFile(file, content);

    ConsoleCapture console;
    bool empty = false;
    if (store == QLatin1String("labels")) {
        LabelStore s(file);
        empty = s.byConnection().isEmpty();
    } else if (store == QLatin1String("salvos")) {
        SalvoStore s(file);
        empty = s.byConnection().isEmpty();
    } else {
        PanelStore s(file);
        empty = s.panels(kRouter).isEmpty() && !s.activePanelID(kRouter);
    }
    const QStringList lines = console.lines();
    QVERIFY(empty);
    QVERIFY(!QFile::exists(file));
    QCOMPARE(readAll(file + QStringLiteral(".corrupt")), content);
    QCOMPARE(lines.size(), 1);
    const QString expected = store == QLatin1String("labels")
        ? QStringLiteral("LabelStore: unreadable labels.json moved to labels.json.corrupt — ")
        : store == QLatin1String("salvos")
        ? QStringLiteral("SalvoStore: unreadable salvos.json moved to salvos.json.corrupt — ")
        : QStringLiteral("PanelStore: unreadable panels.json moved to panels.json.corrupt — ");
    QVERIFY2(lines.first().startsWith(expected), qPrintable(lines.first()));
    QVERIFY(lines.first().size() > expected.size()); // carries the error
    if (content.startsWith('['))
        QCOMPARE(lines.first(), expected + QStringLiteral("the top level is not an object"));
}

// Nine names edited in the labels editor rewrote a 50 MB labels.json nine times.
void TestStores::labelEditsWriteOnceWhatSetsWrite()
{
    const QList<LabelStore::Edit> edits {
        { PortKind::source, 3, QStringLiteral("  Camera 4\n") },
        { PortKind::destination, 3, QStringLiteral("Monitor") },
        { PortKind::source, 5, QStringLiteral("Gone") },
        { PortKind::source, 5, std::nullopt },
        { PortKind::destination, 0, QStringLiteral(" ") },
        { PortKind::source, -1, QStringLiteral("Ignored") },
    };
    LabelStore each(path(QStringLiteral("each.json")));
    each.set(QStringLiteral("Kept"), PortKind::source, 9, kRouter);
    for (const LabelStore::Edit &edit : edits)
        each.set(edit.label, edit.kind, edit.index, kRouter);
    LabelStore batch(path(QStringLiteral("batch.json")));
    batch.set(QStringLiteral("Kept"), PortKind::source, 9, kRouter);
    QSignalSpy changed(&batch, &LabelStore::byConnectionChanged);
    QVERIFY(!batch.set(edits, kRouter));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(readAll(batch.url()), readAll(each.url()));
    QCOMPARE(batch.byConnection(), each.byConnection());
}

// A second unreadable file deleted the first rescue copy before taking its name.
void TestStores::laterUnreadableFileKeepsEveryCopy()
{
    const QString file = path(QStringLiteral("salvos.json"));
    writeFile(file, "first");
    {
        ConsoleCapture console;
        SalvoStore store(file);
    }
    writeFile(file, "second");
    {
        ConsoleCapture console;
        SalvoStore store(file);
        QCOMPARE(
            console.lines().value(0).section(QStringLiteral(" — "), 0, 0),
            QStringLiteral("SalvoStore: unreadable salvos.json moved to salvos.json.corrupt-1"));
        // The next save writes a fresh file at the usual place.
        store.add(makeSalvo(QStringLiteral("A"), std::nullopt, 1), kRouter);
    }
    QCOMPARE(readAll(file + QStringLiteral(".corrupt")), QByteArray("first"));
    QCOMPARE(readAll(file + QStringLiteral(".corrupt-1")), QByteArray("second"));
    QCOMPARE(SalvoStore::load(file)->value(kKey).size(), 1);
}

// A folder squatting on the aside name made the move fail silently; the first save then
// replaced the unreadable file, the only copy of the operator's labels.
void TestStores::blockedAsideNameKeepsTheOnlyCopy()
{
    const QString file = path(QStringLiteral("labels.json"));
    writeFile(file, "[\"precious\"]");
    writeFile(file + QStringLiteral(".corrupt/keep"), "blocker");

    ConsoleCapture console;
    LabelStore store(file);
    store.set(QStringLiteral("New"), PortKind::source, 0, kRouter);
    const QStringList lines = console.lines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().section(QStringLiteral(" — "), 0, 0),
             QStringLiteral("LabelStore: unreadable labels.json moved to labels.json.corrupt-1"));
    QCOMPARE(readAll(file + QStringLiteral(".corrupt-1")), QByteArray("[\"precious\"]"));
    QCOMPARE(LabelStore::load(file)->value(kKey).sources.value(QStringLiteral("0")),
             QStringLiteral("New"));
}

void TestStores::failedSaveKeepsTheChange()
{
    // A plain file where the folder should be: the folder cannot be created.
    writeFile(path(QStringLiteral("blocked")), "x");
    const QString file = path(QStringLiteral("blocked/Quorvel/labels.json"));

    ConsoleCapture console;
    LabelStore labels(file);
    const auto failure = labels.set(QStringLiteral("Kept"), PortKind::source, 2, kRouter);
    SalvoStore salvos(path(QStringLiteral("blocked/salvos.json")));
    salvos.add(makeSalvo(QStringLiteral("S"), std::nullopt, 1), kRouter);
    PanelStore panels(path(QStringLiteral("blocked/panels.json")));
    panels.upsert(makePanel(QStringLiteral("P")), kRouter);
    const QStringList lines = console.lines();

    QCOMPARE(labels.labels(kRouter).sources.value(QStringLiteral("2")), QStringLiteral("Kept"));
    QCOMPARE(salvos.salvos(kRouter).size(), 1);
    QCOMPARE(panels.panels(kRouter).size(), 1);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].startsWith(QStringLiteral("LabelStore: save failed — ")));
    QVERIFY(lines[1].startsWith(QStringLiteral("SalvoStore: save failed — ")));
    QVERIFY(lines[2].startsWith(QStringLiteral("PanelStore: save failed — ")));
    QVERIFY(lines[0].size() > 26);
    QCOMPARE(QStringLiteral("LabelStore: save failed — ") + failure.value_or(StoreFailure()).reason,
             lines[0]);
}

// A label the file could not hold stayed in memory, and every later label save failed too.
void TestStores::labelChangeTheFileCannotHoldIsUndone()
{
    LabelStore store(path(QStringLiteral("labels.json")));
    store.set(QStringLiteral("Kept"), PortKind::source, 0, kRouter);
    ConsoleCapture console;
    // Each U+0001 is written as six bytes.
    const QString huge(StoreFile::defaultMaxSize / 6, QChar(1));
    QCOMPARE(store.set(huge, PortKind::source, 1, kRouter).value_or(StoreFailure()).kind,
             StoreFailure::Kind::refused);
    QVERIFY(!store.set(QStringLiteral("Next"), PortKind::source, 2, kRouter));
    QCOMPARE(LabelStore::load(store.url())->value(kKey).sources.keys(), QStringList({ "0", "2" }));
}

void TestStores::oversizedFileIsUnreadable()
{
    const QString file = path(QStringLiteral("big.json"));
    writeFile(file, QByteArray(2048, ' ') + "{}");
    StoreFile small(file, 1024);
    const auto bytes = small.read();
    QVERIFY(!bytes.has_value());
    QVERIFY(!bytes.error().isEmpty());
    StoreFile large(file, 4096);
    QVERIFY(large.read().has_value());

    // Nor is such a file ever written: the last readable content stays.
    writeFile(file, "{}");
    QVERIFY(small.write(QByteArray(1025, ' ')).has_value());
    QVERIFY(!small.write(QByteArray(1024, ' ')).has_value());
    QCOMPARE(small.read()->value_or(QByteArray()), QByteArray(1024, ' '));
    QVERIFY(small.write(QByteArray(4096, ' ')).has_value());
    QCOMPARE(small.read()->value_or(QByteArray()).size(), 1024);
}

// A full disk emptied the file under a successful commit (the buffered write failed only when
// it was flushed), or was told as "Unknown error". A file size limit cuts writes the same way.
void TestStores::writeCutShortKeepsTheOldFile()
{
    const QString file = path(QStringLiteral("labels.json"));
    writeFile(file, "{}");
    StoreFile store(file);
    rlimit before {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit small { 4, before.rlim_max };
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto failures = { store.write(QByteArray(10, ' ')), store.write(QByteArray(99999, ' ')) };
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldSignal);
    for (const std::optional<QString> &failure : failures)
        QCOMPARE(failure, std::optional(qt_error_string(EFBIG)));
    QCOMPARE(readAll(file), QByteArray("{}"));
}

// A FIFO as a store file blocked the launch forever in open().
void TestStores::fifoIsUnreadableInsteadOfBlocking()
{
    const QString file = path(QStringLiteral("labels.json"));
    QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    ConsoleCapture console;
    LabelStore store(file);
    QVERIFY(store.byConnection().isEmpty());
    QCOMPARE(console.lines(),
             QStringList { "LabelStore: unreadable labels.json moved to labels.json.corrupt — "
                           "It is not a regular file." });
    // The FIFO itself was moved, as it was.
    const QFileInfo aside(file + QStringLiteral(".corrupt"));
    QVERIFY(aside.exists() && !aside.isFile());
}

void TestStores::keptEncodingWritesWhatAFullEncodeWrites_data()
{
    // Files as another program lays them out, and as the stores write them, whose text is
    // kept as read.
    QTest::addColumn<bool>("asWritten");
    QTest::newRow("indented") << false;
    QTest::newRow("as written") << true;
}

void TestStores::keptEncodingWritesWhatAFullEncodeWrites()
{
    QFETCH(bool, asWritten);
    const auto format = asWritten ? QJsonDocument::Compact : QJsonDocument::Indented;
    // Keys the writer orders by UTF-16 unit where code-point order differs (U+E000 against
    // U+10000), escapes, control characters and line separators, routers read from the file
    // and routers changed since.
    const QStringList odd { QStringLiteral("Quote \" back \\ slash / tab \t"),
                            QStringLiteral("\u0001\u001F new\nline \u2028 \u007F"),
                            QStringLiteral("é ß 漢字 \U0001F3AC \uE000 \uFFFD"), QString() };
    const QStringList keys { QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"),
                             QStringLiteral("\uE000"), QStringLiteral("\U00010000"),
                             QStringLiteral("é"), QStringLiteral("\"\n") };
    QList<QUuid> routers;
    for (int r = 0; r < 30; ++r)
        routers.append(QUuid::createUuid());

    QJsonObject labelRoot;
    QJsonObject salvoRoot;
    QJsonObject panelLists;
    for (const QString &key : keys) {
        labelRoot.insert(key, PortLabels { { { QStringLiteral("0"), odd[0] } }, {} }.toJson());
        salvoRoot.insert(key, QJsonArray { makeSalvo(odd[1], std::nullopt, 2, 0.1).toJson() });
        panelLists.insert(key, QJsonArray { makePanel(odd[2], { 3, 1 }).toJson() });
    }
    // Most of each file is one router's, removed on the way, so that what is left of the
    // file as read is copied out of it.
    PortLabels many;
    QJsonArray manySalvos;
    for (int i = 0; i < 40; ++i) {
        many.sources.insert(QString::number(i), QStringLiteral("Camera %1").arg(i));
        manySalvos.append(makeSalvo(QString::number(i), std::nullopt, i, i).toJson());
    }
    labelRoot.insert(Json::uuidText(routers.first()), many.toJson());
    salvoRoot.insert(Json::uuidText(routers.first()), manySalvos);
    writeFile(path(QStringLiteral("labels.json")), QJsonDocument(labelRoot).toJson(format));
    writeFile(path(QStringLiteral("salvos.json")), QJsonDocument(salvoRoot).toJson(format));
    writeFile(path(QStringLiteral("panels.json")),
              QJsonDocument(QJsonObject { { "panels", panelLists }, { "active", QJsonObject() } })
                  .toJson(format));
    LabelStore labels(path(QStringLiteral("labels.json")));
    SalvoStore salvos(path(QStringLiteral("salvos.json")));
    PanelStore panels(path(QStringLiteral("panels.json")));
    QCOMPARE(labels.byConnection().size(), keys.size() + 1);

    const auto compact = [](const QJsonObject &root) {
        return QJsonDocument(root).toJson(QJsonDocument::Compact);
    };
    const auto check = [&] {
        QCOMPARE(readAll(labels.url()),
                 compact(RouterMap::write(labels.byConnection(),
                                          [](const PortLabels &l) { return l.toJson(); })));
        QCOMPARE(readAll(salvos.url()),
                 compact(RouterMap::write(salvos.byConnection(), RouterMap::writeList<Salvo>)));
        // The panel store's stored form is its file read back: the file must be the full
        // encode of that, and hand out what the live store hands out.
        const auto file = PanelStore::load(panels.url());
        QVERIFY(file);
        QCOMPARE(
            readAll(panels.url()),
            compact({ { "panels", RouterMap::write(file->panels, RouterMap::writeList<SubPanel>) },
                      { "active", RouterMap::write(file->active, Json::uuidText) } }));
        PanelStore reread(panels.url());
        for (const QUuid &router : routers) {
            QCOMPARE(reread.panels(router), panels.panels(router));
            QCOMPARE(reread.activePanelID(router), panels.activePanelID(router));
        }
        QCOMPARE(*LabelStore::load(labels.url()), labels.byConnection());
        QCOMPARE(*SalvoStore::load(salvos.url()), salvos.byConnection());
    };

    for (int step = 0; step < 4 * routers.size(); ++step) {
        if (step == routers.size()) {
            labels.removeAll(routers.first());
            salvos.removeAll(routers.first());
        }
        const QUuid &router = routers[step % routers.size()];
        const QString &text = odd[step % odd.size()];
        labels.set(text + QString::number(step), PortKind(step % 2), step, router);
        Salvo salvo = makeSalvo(text, step % 3 ? std::optional(router) : std::nullopt, step,
                                step * 0.37 - 5);
        salvos.add(salvo, router);
        SubPanel panel = makePanel(text, { step, 2, step }, { 1 });
        panels.upsert(panel, router);
        if (step % 5 == 0)
            panels.setActivePanelID(panel.id, router);
        if (step % 4 == 1) {
            // Changed in place: the salvos after it keep their text.
            const Salvo first = salvos.salvos(router).first();
            salvos.rename(first.id, odd[2], router);
            salvos.update(first.id, first.routes, step * 1.5, router);
        }
        if (step % 7 == 0) {
            labels.removeAll(routers[(step + 1) % routers.size()]);
            salvos.remove(salvos.salvos(router).first().id, router);
            panels.remove(panel.id, router);
        }
        check();
        if (QTest::currentTestFailed())
            return;
    }
}

void TestStores::salvoAddMatchesNameAndPanel()
{
    const QString file = path(QStringLiteral("salvos.json"));
    SalvoStore store(file);
    QSignalSpy changed(&store, &SalvoStore::byConnectionChanged);
    const QUuid panel = QUuid::createUuid();

    const Salvo whole = makeSalvo(QStringLiteral("Show"), std::nullopt, 1);
    store.add(whole, kRouter);
    const Salvo fromPanel = makeSalvo(QStringLiteral("Show"), panel, 2);
    store.add(fromPanel, kRouter);
    store.add(makeSalvo(QStringLiteral("show"), panel, 3), kRouter); // case matters
    QCOMPARE(store.salvos(kRouter).size(), 3);

    const Salvo again = makeSalvo(QStringLiteral("Show"), panel, 9, 99.5);
    store.add(again, kRouter);
    const QList<Salvo> list = store.salvos(kRouter);
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0], whole);
    QCOMPARE(list[1].id, fromPanel.id);
    QCOMPARE(list[1].routes, again.routes);
    QCOMPARE(list[1].savedAt, std::optional<double>(99.5));
    QCOMPARE(list[2].name, QStringLiteral("show"));
    QCOMPARE(changed.count(), 4);
    QCOMPARE(SalvoStore::load(file)->value(kKey), list);
}

void TestStores::salvoUpdateAndRenameNeedAKnownId()
{
    const QString file = path(QStringLiteral("salvos.json"));
    SalvoStore store(file);
    Salvo salvo = makeSalvo(QStringLiteral("A"), std::nullopt, 1);
    salvo.savedAt.reset();
    store.add(salvo, kRouter);
    QFile::remove(file);

    store.update(QUuid::createUuid(), {}, 5, kRouter);
    store.rename(QUuid::createUuid(), QStringLiteral("B"), kRouter);
    store.update(salvo.id, {}, 5, QUuid::createUuid());
    QVERIFY(!QFile::exists(file));

    store.update(salvo.id, { Route { 1, 2, 3 } }, 42.25, kRouter);
    store.rename(salvo.id, QStringLiteral(" B "), kRouter);
    const Salvo stored = SalvoStore::load(file)->value(kKey).first();
    QCOMPARE(stored.routes, QList<Route>({ Route { 1, 2, 3 } }));
    QCOMPARE(stored.savedAt, std::optional<double>(42.25));
    QCOMPARE(stored.name, QStringLiteral(" B "));
}

void TestStores::salvoRemovalRules()
{
    const QString file = path(QStringLiteral("salvos.json"));
    SalvoStore store(file);
    const QUuid panelA = QUuid::createUuid();
    const QUuid panelB = QUuid::createUuid();
    const Salvo whole = makeSalvo(QStringLiteral("W"), std::nullopt, 1);
    const Salvo a = makeSalvo(QStringLiteral("A"), panelA, 1);
    const Salvo b = makeSalvo(QStringLiteral("B"), panelB, 1);
    for (const Salvo &s : { whole, a, b })
        store.add(s, kRouter);

    store.removeAll(panelA, kRouter);
    QCOMPARE(store.salvos(kRouter), QList<Salvo>({ whole, b }));

    QFile::remove(file);
    store.remove(QUuid::createUuid(), kRouter); // unknown id still writes
    QVERIFY(QFile::exists(file));

    store.remove(whole.id, kRouter);
    store.remove(b.id, kRouter);
    QVERIFY(store.salvos(kRouter).isEmpty());
    QVERIFY(!store.byConnection().contains(kKey));
    QCOMPARE(readAll(file), QByteArray("{}"));

    store.add(whole, kRouter);
    store.removeAll(kRouter);
    QCOMPARE(readAll(file), QByteArray("{}"));
}

void TestStores::salvoOptionalKeysStayAbsent()
{
    const QString file = path(QStringLiteral("salvos.json"));
    writeFile(file,
              R"({"0F8FAD5B-D9CB-469F-A165-70867728950E":[{"id":)"
              R"("0F8FAD5B-D9CB-469F-A165-70867728950E","name":"Bare","routes":[]}]})");
    SalvoStore store(file);
    QCOMPARE(store.salvos(kRouter).size(), 1);
    store.add(makeSalvo(QStringLiteral("Other"), std::nullopt, 1), QUuid::createUuid());
    const QJsonObject bare = readObject(file).value(kKey).toArray().first().toObject();
    QCOMPARE(bare.keys(), QStringList({ "id", "name", "routes" }));
}

// Names are made after the file's text is let go, a long one in pieces: a character cut at a
// piece's edge, or a name the fast reader leaves to the parser (an unpaired surrogate), must
// come back exactly and be written back byte for byte.
void TestStores::salvoNamesOfEveryFormReadBack()
{
    const QString file = path(QStringLiteral("salvos.json"));
    QString longName;
    for (int i = 0; longName.size() < (9 << 20); ++i)
        longName += i % 3 ? QStringLiteral("é漢") : QStringLiteral("\U0001F3AC x");
    const QList<Salvo> written { makeSalvo(longName, std::nullopt, 1),
                                 makeSalvo(QChar(0xD800) + QStringLiteral("\t\u0001"), kRouter, 2,
                                           0.5),
                                 makeSalvo(QStringLiteral("Plain"), std::nullopt, 3, 780000000) };
    const QByteArray bytes = QJsonDocument(RouterMap::write(SalvoStore::Map { { kKey, written } },
                                                            RouterMap::writeList<Salvo>))
                                 .toJson(QJsonDocument::Compact);
    writeFile(file, bytes);
    SalvoStore store(file);
    QCOMPARE(store.salvos(kRouter), written);
    store.remove(QUuid(), kRouter);
    QVERIFY(readAll(file) == bytes);
}

// The platform's reader keeps the last member of a repeated key and never reads the earlier
// one, so a broken earlier member does not make the file unreadable.
void TestStores::repeatedRouterKeyKeepsTheLastMember()
{
    const QByteArray key = '"' + kKey.toLatin1() + "\":";
    writeFile(path(QStringLiteral("labels.json")),
              '{' + key + "{\"sources\":{}}," + key
                  + R"({"destinations":{},"sources":{"0":"Cam"}}})");
    writeFile(path(QStringLiteral("salvos.json")),
              '{' + key + "[\"not a salvo\"]," + key + "[]," + key
                  + R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"S","routes":[]}]})");
    const LabelStore labels(path(QStringLiteral("labels.json")));
    const SalvoStore salvos(path(QStringLiteral("salvos.json")));
    QVERIFY(!labels.rescue() && !salvos.rescue());
    QCOMPARE(labels.labels(kRouter).sources.value(QStringLiteral("0")), QStringLiteral("Cam"));
    QCOMPARE(salvos.salvos(kRouter).size(), 1);

    // It is still parsed, as that reader parses it: broken JSON there is an unreadable file.
    writeFile(path(QStringLiteral("salvos.json")), '{' + key + "[01]," + key + "[]}");
    QVERIFY(SalvoStore(path(QStringLiteral("salvos.json"))).rescue());
}

void TestStores::panelIndicesHandedOutSorted()
{
    const QString file = path(QStringLiteral("panels.json"));
    PanelStore store(file);
    store.upsert(makePanel(QStringLiteral("P"), { 5, 2, 5, 1 }, { 3, 3 }), kRouter);
    const SubPanel out = store.panels(kRouter).first();
    QCOMPARE(out.sourceIndices, QList<int>({ 1, 2, 5 }));
    QCOMPARE(out.destinationIndices, QList<int>({ 3 }));
    const QJsonObject stored = readObject(file)[QStringLiteral("panels")][kKey][0].toObject();
    QCOMPARE(stored[QStringLiteral("sourceIndices")].toArray(), QJsonArray({ 5, 2, 5, 1 }));
    QCOMPARE(PanelStore::load(file)->panels.value(kKey).first().sourceIndices,
             QList<int>({ 5, 2, 5, 1 }));
}

void TestStores::panelUpsertKeepsPosition()
{
    PanelStore store(path(QStringLiteral("panels.json")));
    QSignalSpy changed(&store, &PanelStore::fileChanged);
    SubPanel a = makePanel(QStringLiteral("A"));
    const SubPanel b = makePanel(QStringLiteral("B"));
    store.upsert(a, kRouter);
    store.upsert(b, kRouter);
    a.name = QStringLiteral("A2");
    a.sourceIndices = { 4 };
    store.upsert(a, kRouter);
    QCOMPARE(store.panels(kRouter), QList<SubPanel>({ a, b }));
    const SubPanel c = makePanel(QStringLiteral("C"));
    store.upsert(c, kRouter);
    QCOMPARE(store.panels(kRouter).last(), c);
    QCOMPARE(changed.count(), 4);
}

void TestStores::panelRemovalAndActive()
{
    const QString file = path(QStringLiteral("panels.json"));
    PanelStore store(file);
    const SubPanel a = makePanel(QStringLiteral("A"));
    const SubPanel b = makePanel(QStringLiteral("B"));
    store.upsert(a, kRouter);
    store.upsert(b, kRouter);

    store.setActivePanelID(a.id, kRouter);
    store.remove(b.id, kRouter);
    QCOMPARE(store.activePanelID(kRouter), std::optional<QUuid>(a.id));
    store.remove(a.id, kRouter);
    QVERIFY(!store.activePanelID(kRouter));
    QCOMPARE(readAll(file), QByteArray(R"({"active":{},"panels":{}})"));

    // Removing the last sub-panel leaves an active entry that names another id.
    const QUuid stray = QUuid::createUuid();
    store.upsert(a, kRouter);
    store.setActivePanelID(stray, kRouter);
    store.remove(a.id, kRouter);
    const QJsonObject root = readObject(file);
    QVERIFY(!root[QStringLiteral("panels")].toObject().contains(kKey));
    QCOMPARE(root[QStringLiteral("active")][kKey].toString(), Json::uuidText(stray));

    store.upsert(a, kRouter);
    store.removeAll(kRouter);
    QCOMPARE(readAll(file), QByteArray(R"({"active":{},"panels":{}})"));
    PanelStore reread(file);
    QVERIFY(reread.panels(kRouter).isEmpty());

    // The nil UUID is an id like any other: the file stays, sub-panels and all.
    store.upsert(a, kRouter);
    store.setActivePanelID(QUuid(), kRouter);
    PanelStore nilActive(file);
    QCOMPARE(nilActive.panels(kRouter), QList<SubPanel> { a });
    QCOMPARE(nilActive.activePanelID(kRouter), std::optional<QUuid>(QUuid()));
    QVERIFY(!QFileInfo::exists(file + QStringLiteral(".corrupt")));
}

void TestStores::panelMove_data()
{
    QTest::addColumn<QList<int>>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first to 2") << QList<int> { 0 } << 2 << "BACD";
    QTest::newRow("last to 0") << QList<int> { 3 } << 0 << "DABC";
    QTest::newRow("first to end") << QList<int> { 0 } << 4 << "BCDA";
    QTest::newRow("two to end") << QList<int> { 2, 0 } << 4 << "BDAC";
    QTest::newRow("out of range ignored") << QList<int> { 7, -1 } << 0 << "ABCD";
    QTest::newRow("target past end") << QList<int> { 1 } << 99 << "ACDB";
}

void TestStores::panelMove()
{
    QFETCH(QList<int>, from);
    QFETCH(int, to);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("panels.json"));
    PanelStore store(file);
    for (const char *name : { "A", "B", "C", "D" })
        store.upsert(makePanel(QString::fromLatin1(name)), kRouter);
    store.move(from, to, kRouter);
    QString order;
    for (const SubPanel &panel : PanelStore::load(file)->panels.value(kKey))
        order += panel.name;
    QCOMPARE(order, expected);
}

void TestStores::panelWritesEvenWithoutChange()
{
    const QString file = path(QStringLiteral("panels.json"));
    PanelStore store(file);
    store.move({ 0 }, 1, kRouter);
    QCOMPARE(readAll(file), QByteArray(R"({"active":{},"panels":{}})"));
    QFile::remove(file);
    store.setActivePanelID(std::nullopt, kRouter);
    QCOMPARE(readAll(file), QByteArray(R"({"active":{},"panels":{}})"));
}

QTEST_GUILESS_MAIN(TestStores)
#include "tst_stores.moc"
