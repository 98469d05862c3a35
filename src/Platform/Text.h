#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <concepts>

// Where text from routers, files and the operator meets the system's own words.
namespace Text {

// `text` made safe to sit inside other text. Text that holds something able to reorder what
// is around it (right-to-left letters, Arabic digits, directional controls) comes back
// between FSI and PDI, balanced so that no control inside it reaches past its end; any other
// text comes back as it is. For display only: what is stored or sent stays untouched.
QString isolated(QStringView text);

// `text` without directional controls and marks: what a screen reader should hear, in the
// logical order it already has.
QString spoken(QStringView text);

namespace detail {
inline const QString &piece(const QString &text)
{
    return text;
}
inline QString piece(QStringView text)
{
    return text.toString();
}
inline QString piece(QLatin1String text)
{
    return text.toString();
}
inline QString piece(QChar c)
{
    return QString(c);
}
template<typename T>
requires std::integral<T> || std::floating_point<T> QString piece(T number)
{
    return QString::number(number);
}
} // namespace detail

// `pattern` with %1, %2, … replaced in one pass, so that a "%2" inside one argument is never
// replaced by the next; numbers are written in decimal, as QString::arg writes them.
template<typename... Args> QString format(const QString &pattern, const Args &...args)
{
    static_assert(sizeof...(Args) > 0);
    return pattern.arg(detail::piece(args)...);
}

} // namespace Text
