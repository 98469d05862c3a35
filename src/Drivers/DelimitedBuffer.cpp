#include "Drivers/DelimitedBuffer.h"

#include <algorithm>

DelimitedBuffer::DelimitedBuffer(QByteArrayView delimiter, CarriageReturn carriageReturn)
    : m_delimiter(delimiter.toByteArray())
    , m_carriageReturn(carriageReturn)
{
    Q_ASSERT(!m_delimiter.isEmpty());
}

void DelimitedBuffer::append(QByteArrayView bytes)
{
    if (m_start > 0) {
        // Records taken are dropped once per append; what is left is the unfinished record,
        // which only grows while no delimiter arrives, so nothing is moved twice for long.
        m_bytes.remove(0, m_start);
        m_scanFrom -= m_start;
        m_start = 0;
    }
    const qsizetype at = m_bytes.size();
    m_bytes.append(bytes);
    if (m_carriageReturn == CarriageReturn::keep || !bytes.contains('\r'))
        return;
    char *const begin = m_bytes.data() + at;
    char *const end = m_bytes.data() + m_bytes.size();
    if (m_carriageReturn == CarriageReturn::drop)
        m_bytes.truncate(std::remove(begin, end, '\r') - m_bytes.data());
    else
        std::replace(begin, end, '\r', '\n');
}

std::optional<QByteArrayView> DelimitedBuffer::next()
{
    const qsizetype from = std::max(m_scanFrom, m_start);
    const qsizetype found = QByteArrayView(m_bytes).indexOf(m_delimiter, from);
    if (found < 0) {
        m_scanned += m_bytes.size() - from;
        // A delimiter of several bytes may straddle this piece and the next.
        m_scanFrom = std::max(m_start, m_bytes.size() - (m_delimiter.size() - 1));
        return std::nullopt;
    }
    const qsizetype after = found + m_delimiter.size();
    m_scanned += after - from;
    const QByteArrayView record = QByteArrayView(m_bytes).sliced(m_start, found - m_start);
    m_start = after;
    m_scanFrom = after;
    return record;
}

void DelimitedBuffer::clear()
{
    m_bytes = QByteArray();
    m_start = 0;
    m_scanFrom = 0;
}
