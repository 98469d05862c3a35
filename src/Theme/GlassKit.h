#pragma once

#include "Model/RouterModels.h"

#include <QColor>
#include <QObject>

// Small pieces of look and behaviour that the routing workspace's views share.
namespace GlassKit {

// Bottom space scrolling routing content keeps free under the floating control bar when
// nobody says otherwise.
inline constexpr int defaultControlBarClearance = 96;

// The crosspoint cell size: user default "matrixCellSize", 44 points unless changed, moved in
// steps of 6 within 30…68 by the zoom control.
inline constexpr double defaultMatrixCellSize = 44;
inline constexpr double minimumMatrixCellSize = 30;
inline constexpr double maximumMatrixCellSize = 68;
inline constexpr double matrixCellStep = 6;

// The colour of a signal level by its kind (video blue, audio green, data orange, multi
// purple), looked up by the level's index (not its position); the accent colour when the
// router has no such level. The first level with that index wins.
QColor levelTint(const RouterState &state, int levelIndex);

// The stored cell size, shared by every view that shows or changes it.
class MatrixCellSize final : public QObject
{
    Q_OBJECT

public:
    static MatrixCellSize &shared();

    double value() const { return m_value; }
    // Stored as given; bounds are the zoom control's business.
    void setValue(double value);

signals:
    void valueChanged(double value);

private:
    MatrixCellSize();
    double m_value = defaultMatrixCellSize;
};

} // namespace GlassKit
