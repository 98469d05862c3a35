#pragma once

#include "Model/EncodedJson.h"
#include "Model/RouterModels.h"
#include "Model/StoreFile.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QUuid>

#include <optional>

// The sub-panels of every saved router and each router's active sub-panel, kept in
// panels.json. One instance per application, used on the UI thread only; every change is on
// disk (or printed as a save failure) before the operation returns. Each change returns what
// became of it, as SalvoStore's do: a change the file could not hold is undone.
//
// Index lists are stored exactly as last written and handed out de-duplicated and ascending.
class PanelStore final : public QObject
{
    Q_OBJECT

public:
    // The whole content of panels.json; both members are always written and required.
    struct File
    {
        QMap<QString, QList<SubPanel>> panels; // per router, in the operator's order
        QMap<QString, QUuid> active; // per router; absent shows the full router

        bool operator==(const File &) const = default;
    };

    explicit PanelStore(const QString &filePath = defaultURL(), QObject *parent = nullptr);

    // "Quorvel/panels.json" under the application-support folder.
    static QString defaultURL();
    // The decoded content; std::nullopt when there is no file; two empty maps after moving an
    // unreadable file aside (its line printed).
    static std::optional<File> load(const QString &filePath);

    QString url() const { return m_file.path(); }
    // The unreadable panels.json found at creation, if any.
    const std::optional<StoreFile::Rescue> &rescue() const { return m_file.rescue(); }

    // The router's sub-panels in stored order, index lists de-duplicated and ascending.
    QList<SubPanel> panels(const QUuid &connection) const;
    // Replaces the sub-panel with the same id in place, or appends it.
    StoreOutcome upsert(const SubPanel &panel, const QUuid &connection);
    // Removes the sub-panel and clears the active choice when it was the active one.
    StoreOutcome remove(const QUuid &id, const QUuid &connection);
    // Moves the elements at `fromOffsets` (a set of positions) before position `toOffset` of
    // the current list; positions outside the list are ignored. Always writes.
    StoreOutcome move(const QList<int> &fromOffsets, int toOffset, const QUuid &connection);
    std::optional<QUuid> activePanelID(const QUuid &connection) const;
    // With an id sets the active sub-panel (unchecked); with none clears it. Always writes.
    StoreOutcome setActivePanelID(const std::optional<QUuid> &id, const QUuid &connection);
    // Drops the router's sub-panels and active choice.
    StoreOutcome removeAll(const QUuid &connection);
    StoreOutcome save();

signals:
    // Any change of the sub-panels or active choices.
    void fileChanged();
    // A save found the file changed by someone else and kept that version as a copy.
    void outsideVersionKept(const StoreFile::Kept &kept);

private:
    static std::optional<File> load(StoreFile &file);
    // Tells of the change and saves; content the file cannot hold goes back to `before`.
    StoreOutcome changed(const File &before);

    StoreFile m_file;
    File m_content;
    EncodedJson::Object<QList<SubPanel>> m_encodedPanels; // the "panels" member, per router
};
