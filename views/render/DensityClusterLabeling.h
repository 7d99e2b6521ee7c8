#pragma once

#include <vector>

/// Turns the mean-shift read-back of the density grid into density clusters
/// on the CPU: every grid cell whose walk ended somewhere joins the first mode
/// (in order of discovery) within two cells of its end point in both
/// coordinates; modes are numbered by the first point (in index order) whose
/// cell carries them; modes no point reaches get no number.
///
/// Cells are read row by row from the bottom, as the read-back lies; a point
/// at (x, y) in the unit square sits in cell (round((res - 1) x), round((res -
/// 1) y)), rounding half up. Non-finite read-backs are unlabelled; a point
/// whose cell is non-finite or off the grid joins no cluster.
class DensityClusterLabeling
{
public:
    /// Labels `meanShift` (res x res x 3 floats: end x, end y, flag) and
    /// numbers the modes by `positions` (x, y per point).
    void label(const std::vector<float>& meanShift, unsigned res, const std::vector<float>& positions);

    /// Mode index of every cell (-1: no walk), before numbering.
    const std::vector<int>& cellModes() const { return m_cellModes; }
    /// End points (x, y) of the modes, in order of discovery.
    const std::vector<float>& modes() const { return m_modes; }
    /// Cluster number of every cell (-1: none).
    const std::vector<int>& cellClusters() const { return m_cellClusters; }
    /// x, y of every cluster's mode, in cluster order.
    const std::vector<float>& centres() const { return m_centres; }
    /// The points of every cluster, in point order.
    const std::vector<std::vector<unsigned>>& members() const { return m_members; }

    /// The cell of a unit-square position, or -1 when it is non-finite or off the grid.
    static long long cellOf(float x, float y, unsigned res);
    /// Two modes are one when both coordinates differ by less than this.
    static float modeThreshold(unsigned res) { return 2.0f / static_cast<float>(res); }

private:
    void findModes(const std::vector<float>& meanShift, unsigned res);
    void numberModes(unsigned res, const std::vector<float>& positions);

    std::vector<int> m_cellModes;
    std::vector<float> m_modes;
    std::vector<int> m_cellClusters;
    std::vector<float> m_centres;
    std::vector<std::vector<unsigned>> m_members;
};
