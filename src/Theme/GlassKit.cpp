#include "Theme/GlassKit.h"

#include "Theme/Theme.h"

#include <QSettings>

#include <cmath>

namespace GlassKit {

namespace {

const QString cellSizeKey = QStringLiteral("matrixCellSize");

QSettings userDefaults()
{
    return QSettings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
}

} // namespace

QColor levelTint(const RouterState &state, int levelIndex)
{
    for (const RouterLevel &level : state.levels) {
        if (level.index != levelIndex)
            continue;
        switch (level.kind) {
        case LevelKind::video:
            return Theme::blue();
        case LevelKind::audio:
            return Theme::green();
        case LevelKind::data:
            return Theme::orange();
        case LevelKind::multi:
            return Theme::purple();
        }
    }
    return Theme::accent();
}

MatrixCellSize &MatrixCellSize::shared()
{
    static MatrixCellSize instance;
    return instance;
}

MatrixCellSize::MatrixCellSize()
{
    bool ok = false;
    const double stored = userDefaults().value(cellSizeKey).toDouble(&ok);
    // A value that is not a number reads as the default, as a missing one does.
    if (ok && std::isfinite(stored))
        m_value = stored;
}

void MatrixCellSize::setValue(double value)
{
    if (!std::isfinite(value) || value == m_value)
        return;
    m_value = value;
    userDefaults().setValue(cellSizeKey, value);
    emit valueChanged(value);
}

} // namespace GlassKit
