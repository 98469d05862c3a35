#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Received bytes of a text protocol, cut into records at a delimiter ("\n" for lines,
// "\n\n" for blocks). The search for the next delimiter resumes where the last one stopped,
// so a record that arrives in many small pieces is scanned once rather than once per piece,
// and a record is never copied until it is whole. Pure; used on one thread at a time.
class DelimitedBuffer final
{
public:
    // What happens to CR bytes as they arrive.
    enum class CarriageReturn {
        keep,
        drop, // CR LF reads as LF
        endsLine, // a CR is a LF, so CR, LF and CR LF each end a line
    };

    explicit DelimitedBuffer(QByteArrayView delimiter,
                             CarriageReturn carriageReturn = CarriageReturn::keep);

    void append(QByteArrayView bytes);
    // The next whole record without its delimiter, taken from the buffer. The view is valid
    // until the next append() or clear(). Nothing while only an unfinished record is left.
    std::optional<QByteArrayView> next();
    // Forgets everything held, the unfinished record included, and frees its memory.
    void clear();

    // Bytes held that no record taken so far covers (the unfinished record, and any whole
    // records not taken yet).
    qsizetype unfinishedSize() const { return m_bytes.size() - m_start; }
    // Bytes examined in search of delimiters since construction: a measure of the work done,
    // which stays linear in the bytes received however they are cut.
    qint64 scannedBytes() const { return m_scanned; }

private:
    QByteArray m_delimiter;
    CarriageReturn m_carriageReturn;
    QByteArray m_bytes;
    qsizetype m_start = 0; // where the first record not taken yet begins
    qsizetype m_scanFrom = 0; // where the search for its delimiter resumes
    qint64 m_scanned = 0;
};
