#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringView>
#include <QUuid>
#include <QVarLengthArray>

#include <utility>

// Compact JSON text of the stores' documents, which are written whole on every save but change
// one router at a time. Each member (or element) keeps the value it was encoded from and its
// text; a save encodes again only what differs from the kept value, so there is nothing to
// invalidate by hand. The pieces are the writer's own (QJsonDocument::toJson, Compact) and are
// joined as it joins them, so the result is byte for byte a full encode of the same content.
//
// `same(kept, value)` must hold only when both write the same text (operator== of the stored
// records does: the only equal doubles of different bits, 0 and -0, are both written "0").
// Unchanged Qt containers compare in constant time, as they still share their data.
namespace EncodedJson {

// The texts between `open` and `close`, separated by commas; `size` is the total to reserve.
template<typename Texts> QByteArray join(const Texts &texts, qsizetype size, char open, char close)
{
    QByteArray bytes;
    bytes.reserve(size);
    bytes += open;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            bytes += ',';
        bytes += *texts[i];
    }
    bytes += close;
    return bytes;
}

// Compact text of a JSON value of one of the writer's own types, with U+FEFF written as
// "\ufeff" (see appendString()).
QByteArray text(const QJsonValue &value);
// `"key":` as the writer puts it inside an object.
QByteArray keyText(const QString &key);

// A string as the writer puts it between its quotes: `"`, `\` and control characters escaped
// (\b \f \n \r \t, else \u00xx), unpaired surrogates as \udxxx, everything else in UTF-8 but
// U+FEFF, which goes as \ufeff: put down raw at the start of a string, a reader takes it for
// a byte-order mark and drops it.
void appendString(QByteArray &bytes, QStringView text);
qsizetype stringSize(QStringView text);

// Reads text that is exactly what the writer gives, without the platform's parser. Each step
// matches the writer's form of one thing and moves past it, or fails and leaves the place as
// it was; a caller whose step fails leaves the whole value to the platform's parser, so any
// other layout, key order, escape or number form still reads as that parser reads it.
class Reader final
{
public:
    // Where a string's text lies, between its quotes.
    struct String
    {
        qsizetype begin = 0;
        qsizetype end = 0; // the closing quote
        bool escaped = false; // holds escapes
        bool ascii = true; // unescaped ASCII alone, whose bytes order as its UTF-16 units do
    };

    explicit Reader(QByteArrayView text)
        : m_text(text)
    { }

    bool atEnd() const { return m_at == m_text.size(); }

    bool literal(QByteArrayView literal);
    // A string, quotes and all, as appendString() writes it.
    bool string(String *found);
    // Canonical upper-case UUID text in quotes.
    bool uuid(QUuid &id);
    // An int in decimal: no sign on zero, no leading zeros.
    bool integer(int &value);
    // A finite double as the writer puts it.
    bool number(double &value);

private:
    QByteArrayView m_text;
    qsizetype m_at = 0;
};

// The string whose text between its quotes is `text`, as Reader::string() found it.
QString writtenString(QByteArrayView text, bool escaped);

// An object keyed like a QMap<QString, T> (QJsonObject keeps its keys in the same order).
// Each kept member may carry `Nested` state for encoding its value piecewise.
template<typename T, typename Nested = char> class Object final
{
public:
    // `write(value, nested)` gives the value's text.
    template<typename Write, typename Same>
    QByteArray encode(const QMap<QString, T> &map, Write &&write, Same &&same)
    {
        QVarLengthArray<const QByteArray *, 64> texts;
        texts.reserve(map.size());
        qsizetype size = 2 + map.size();
        auto kept = m_members.begin();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            while (kept != m_members.end() && kept.key() < it.key())
                kept = m_members.erase(kept);
            if (kept == m_members.end() || kept.key() != it.key()) {
                kept = m_members.insert(kept, it.key(), Member { it.value(), {}, {} });
                kept->text = keyText(it.key()) + write(it.value(), kept->nested);
            } else if (!same(kept->value, it.value())) {
                kept->value = it.value();
                kept->text = keyText(it.key()) + write(it.value(), kept->nested);
            }
            texts.append(&kept->text);
            size += kept->text.size();
            ++kept;
        }
        while (kept != m_members.end())
            kept = m_members.erase(kept);
        return join(texts, size, '{', '}');
    }

private:
    struct Member
    {
        T value;
        QByteArray text; // `"key":value`
        Nested nested;
    };
    QMap<QString, Member> m_members;
};

// A text that lies inside `backing` (text read from a file, kept as it was read) without a
// copy of its own; `backing` must outlive it unchanged.
inline QByteArray view(const QByteArray &backing, qsizetype begin, qsizetype end)
{
    return QByteArray::fromRawData(backing.constData() + begin, end - begin);
}

inline bool isViewOf(const QByteArray &text, const QByteArray &backing)
{
    return !backing.isEmpty() && text.constData() >= backing.constData()
        && text.constData() < backing.constData() + backing.size();
}

// Once the texts that view `backing` hold less than half of it, each gets a copy of its own
// and `backing` goes, so that the replaced rest of it is not kept for them.
void releaseIfMostlyReplaced(const QList<QByteArray *> &texts, QByteArray &backing);

} // namespace EncodedJson
