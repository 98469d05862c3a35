#pragma once

#include <utility>

// Observed properties: an assignment notifies only when the value really changes; a change
// made in place always notifies, since the helper cannot tell what the caller touched.
namespace Observed {

template<typename T, typename U, typename Notify>
bool assign(T &field, U &&value, Notify &&notify)
{
    if (field == value)
        return false;
    field = std::forward<U>(value);
    notify();
    return true;
}

template<typename T, typename Mutate, typename Notify>
void mutate(T &field, Mutate &&change, Notify &&notify)
{
    change(field);
    notify();
}

} // namespace Observed
