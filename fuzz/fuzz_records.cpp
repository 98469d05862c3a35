// Stored records from a file the user may have edited or been sent: every decoder must
// either fail cleanly or give a value that survives being written and read back.

#include "FuzzSupport.h"
#include "Model/RouterModels.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Writes the value as a file would (compact text), reads it back and compares.
template<typename Record>
void checkRoundTrip(const Record &record)
{
    const QByteArray text = QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact);
    QJsonParseError error;
    const QJsonDocument reread = QJsonDocument::fromJson(text, &error);
    FUZZ_CHECK_MSG(error.error == QJsonParseError::NoError && reread.isObject(),
                   QString::fromUtf8(text));
    const auto again = Record::fromJson(reread.object());
    FUZZ_CHECK_MSG(again.has_value(), QString::fromUtf8(text));
    FUZZ_CHECK_MSG(*again == record, QString::fromUtf8(text));
}

template<typename Record>
void decodeObject(const QJsonObject &object)
{
    const auto decoded = Record::fromJson(object);
    if (decoded) {
        checkRoundTrip(*decoded);
    } else {
        FUZZ_CHECK(!decoded.error().isEmpty());
    }
}

void decodeAll(const QJsonObject &object)
{
    decodeObject<RouterConnection>(object);
    decodeObject<Salvo>(object);
    decodeObject<SubPanel>(object);
    decodeObject<Route>(object);
    decodeObject<Port>(object);
    decodeObject<RouterLevel>(object);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (document.isObject()) {
        decodeAll(document.object());
    } else if (document.isArray()) {
        // A list of records, as the saved-router file and the per-router maps hold them.
        const QJsonArray array = document.array();
        for (const QJsonValue &item : array) {
            if (item.isObject())
                decodeAll(item.toObject());
        }
    }
    return 0;
}
