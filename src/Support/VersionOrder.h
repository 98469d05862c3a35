#pragma once

#include <QString>

// Ordering of dotted version texts as the update check compares them: numeric pieces by
// value, other pieces as text, missing pieces as "0" (so 1.2 equals 1.2.0, 1.10 is newer than
// 1.9, and 1.2 is older than 1.2.beta).
enum class VersionOrder { ascending, same, descending };

namespace Versions {
// The order of `a` against `b`: ascending when `a` is older.
VersionOrder compare(const QString &a, const QString &b);
} // namespace Versions
