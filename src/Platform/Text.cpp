#include "Platform/Text.h"

#include <utility>

namespace Text {
namespace {

constexpr char16_t fsi = 0x2068;
constexpr char16_t pdi = 0x2069;

bool opensIsolate(QChar::Direction d)
{
    return d == QChar::DirLRI || d == QChar::DirRLI || d == QChar::DirFSI;
}

bool isControl(char32_t c)
{
    switch (QChar::direction(c)) {
    case QChar::DirLRE:
    case QChar::DirLRO:
    case QChar::DirRLE:
    case QChar::DirRLO:
    case QChar::DirPDF:
    case QChar::DirLRI:
    case QChar::DirRLI:
    case QChar::DirFSI:
    case QChar::DirPDI:
        return true;
    default:
        return c == 0x200E || c == 0x200F || c == 0x061C; // LRM, RLM, ALM
    }
}

// The code point at `at`, and how many UTF-16 units it takes.
std::pair<char32_t, qsizetype> codePointAt(QStringView text, qsizetype at)
{
    const QChar c = text.at(at);
    if (c.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate())
        return { QChar::surrogateToUcs4(c, text.at(at + 1)), 2 };
    return { c.unicode(), 1 };
}

bool reorders(QStringView text)
{
    for (qsizetype at = 0; at < text.size();) {
        const auto [c, length] = codePointAt(text, at);
        at += length;
        switch (QChar::direction(c)) {
        case QChar::DirL:
        case QChar::DirEN:
        case QChar::DirES:
        case QChar::DirET:
        case QChar::DirCS:
        case QChar::DirNSM:
        case QChar::DirBN:
        case QChar::DirB:
        case QChar::DirS:
        case QChar::DirWS:
        case QChar::DirON:
            break;
        default:
            return true;
        }
    }
    return false;
}

// Whether `text` is one isolate already: it opens with an initiator whose PDI is its end.
bool isOneIsolate(QStringView text)
{
    if (text.size() < 2 || !opensIsolate(text.front().direction()))
        return false;
    qsizetype open = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (opensIsolate(text.at(i).direction()))
            ++open;
        else if (text.at(i) == QChar(pdi) && --open == 0)
            return i == text.size() - 1;
    }
    return false;
}

} // namespace

QString isolated(QStringView text)
{
    if (!reorders(text) || isOneIsolate(text))
        return text.toString();
    QString out;
    out.reserve(text.size() + 2);
    out.append(QChar(fsi));
    // Embeddings and overrides end at the closing PDI by themselves; isolates must match it.
    // A paragraph break ends every isolate, so each paragraph of the text gets its own.
    qsizetype open = 0;
    for (const QChar c : text) {
        if (c == QChar(pdi)) {
            if (open == 0)
                continue; // it would close ours and let the rest out
            --open;
        } else if (opensIsolate(c.direction())) {
            ++open;
        } else if (c.direction() == QChar::DirB) {
            out.append(QString(open + 1, QChar(pdi)) + c + QChar(fsi));
            open = 0;
            continue;
        }
        out.append(c);
    }
    out.append(QString(open + 1, QChar(pdi)));
    return out;
}

QString spoken(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype at = 0; at < text.size();) {
        const auto [c, length] = codePointAt(text, at);
        if (!isControl(c))
            out.append(text.mid(at, length));
        at += length;
    }
    return out;
}

} // namespace Text
