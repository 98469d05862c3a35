#pragma once

#include "Model/EncodedJson.h"
#include "Model/RouterModels.h"
#include "Model/StoreFile.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QUuid>

#include <optional>

// The salvos of every saved router, kept in salvos.json in list order. One instance per
// application, used on the UI thread only; every change is on disk (or printed as a save
// failure) before the operation returns. No router is left with an empty list.
//
// Each change returns what became of it: saved (none); not written, when it stands in memory
// for this session; or refused, when the file could not hold it, and then it was undone so
// that later changes are still saved.
class SalvoStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        QMap<QString, QList<Salvo>> byConnection READ byConnection NOTIFY byConnectionChanged)

public:
    using Map = QMap<QString, QList<Salvo>>;

    explicit SalvoStore(const QString &filePath = defaultURL(), QObject *parent = nullptr);

    // "Quorvel/salvos.json" under the application-support folder.
    static QString defaultURL();
    // The decoded map; std::nullopt when there is no file; an empty map after moving an
    // unreadable file aside (its line printed).
    static std::optional<Map> load(const QString &filePath);

    QString url() const { return m_file.path(); }
    // The unreadable salvos.json found at creation, if any.
    const std::optional<StoreFile::Rescue> &rescue() const { return m_file.rescue(); }
    // Keyed by the upper-case UUID text of each connection id.
    const Map &byConnection() const { return m_byConnection; }
    // One router's salvos in stored order; empty when it has none.
    QList<Salvo> salvos(const QUuid &connection) const;

    // Appends the salvo, or, when a salvo of the same name (exact) and the same sub-panel
    // exists, gives that one the new routes and date in place, keeping its id and position.
    StoreOutcome add(const Salvo &salvo, const QUuid &connection);
    // Replaces routes and capture date of one salvo; writes nothing for an unknown id.
    StoreOutcome update(const QUuid &id, const QList<Route> &routes, double savedAt,
                        const QUuid &connection);
    // Renames one salvo as given (the caller trims); writes nothing for an unknown id.
    StoreOutcome rename(const QUuid &id, const QString &name, const QUuid &connection);
    // Removes the salvo; always writes.
    StoreOutcome remove(const QUuid &id, const QUuid &connection);
    // Removes every salvo captured from the sub-panel; whole-router salvos stay. Always writes.
    StoreOutcome removeAll(const QUuid &panelID, const QUuid &connection);
    // Removes the router's whole list. Always writes.
    StoreOutcome removeAll(const QUuid &connection);
    StoreOutcome save();

signals:
    void byConnectionChanged();
    // A save found the file changed by someone else and kept that version as a copy.
    void outsideVersionKept(const StoreFile::Kept &kept);

private:
    // One salvo's text as the writer gives it, without its head (`{"id":"…","name":"`) and
    // name, which are written again from the salvo: a long name is held once, as the salvo's.
    struct SalvoText
    {
        Salvo value; // the salvo the text was made for
        QByteArray tail; // from the closing quote of the name: `","panelID":…}`
    };
    struct RouterText
    {
        QByteArray key; // `"key":`
        QList<Salvo> value; // the list the texts were made for
        QList<SalvoText> salvos;
    };
    using Texts = QMap<QString, RouterText>;
    struct Loaded;

    // Decodes salvos.json a salvo at a time. With `texts`, keeps each salvo's text as the
    // writer gives it, as a view of the file's bytes (`backing`) while that is worth keeping.
    static std::optional<Map> load(StoreFile &file, Texts *texts = nullptr,
                                   QByteArray *backing = nullptr);
    static SalvoText textOf(const Salvo &salvo);
    static qsizetype textSize(const SalvoText &text);
    void refresh();
    template<typename Predicate>
    StoreOutcome removeWhere(const QUuid &connection, Predicate predicate);
    // Stores the router's new list and saves; a list the file cannot hold is put back.
    StoreOutcome commit(const QString &key, const QList<Salvo> &list);

    StoreFile m_file;
    Map m_byConnection;
    // salvos.json as last written, kept per router and per salvo.
    Texts m_encoded;
    QByteArray m_backing; // salvos.json as read, while texts of it are kept
};
