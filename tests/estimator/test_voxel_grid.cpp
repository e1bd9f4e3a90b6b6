// The voxel grid against a map of cells built point by point: the same voxels in the order
// the points first reach them, the same counts and centroids, every voxel found again and
// the same neighbours, for clouds small and large, on both sides of the origin, with points
// no voxel takes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "internal/voxel_grid.h"

namespace {

using litterpose::robust::VoxelGrid;
using Cloud = GrabPoseEstimate::Cloud;
using Cell = std::tuple<std::int64_t, std::int64_t, std::int64_t>;

struct Model {
  std::map<Cell, std::size_t> index;  // voxel of each cell, in order of first point
  std::vector<Cell> cells;
  std::vector<std::size_t> points;
  std::vector<Eigen::Vector3d> sums;
};

Model model(const Cloud& cloud, double size) {
  Model m;
  const double inverse = 1.0 / size;
  for (const auto& p : cloud) {
    const Eigen::Vector3d scaled = Eigen::Vector3d(p.x, p.y, p.z) * inverse;
    // Cells a million voxels out and non-numbers: no voxel.
    if (!(scaled.cwiseAbs().maxCoeff() < 1048575.0)) continue;
    const Cell cell{static_cast<std::int64_t>(std::floor(scaled.x())),
                    static_cast<std::int64_t>(std::floor(scaled.y())),
                    static_cast<std::int64_t>(std::floor(scaled.z()))};
    const auto [at, added] = m.index.emplace(cell, m.cells.size());
    if (added) {
      m.cells.push_back(cell);
      m.points.push_back(0);
      m.sums.push_back(Eigen::Vector3d::Zero());
    }
    ++m.points[at->second];
    m.sums[at->second] += Eigen::Vector3d(p.x, p.y, p.z);
  }
  return m;
}

// A surface seen in scan order (what a camera delivers), noisy, tilted.
Cloud scanned_surface(int columns, int rows, double step, double x0) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 0.2 * step);
  Cloud cloud;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c)
      cloud.push_back(pcl::PointXYZ(static_cast<float>(x0 + c * step),
                                    static_cast<float>(-0.1 + r * step),
                                    static_cast<float>(-0.3 + 0.4 * c * step + noise(rng))));
  return cloud;
}

Cloud scattered(std::size_t n, double half_width) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> at(-half_width, half_width);
  Cloud cloud;
  for (std::size_t i = 0; i < n; ++i)
    cloud.push_back(pcl::PointXYZ(static_cast<float>(at(rng)), static_cast<float>(at(rng)),
                                  static_cast<float>(at(rng))));
  return cloud;
}

TEST(VoxelGrid, MatchesAMapOfCells) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Cloud with_strays = scanned_surface(200, 150, 0.0005, -0.2);
  with_strays.push_back(pcl::PointXYZ(nan, 0.0f, 0.0f));
  with_strays.push_back(pcl::PointXYZ(5000.0f, 0.0f, 0.0f));  // beyond every key
  const struct {
    const char* name;
    Cloud cloud;
    double size;
    std::size_t outside;  // points no voxel takes
  } cases[] = {
      {"three points", scattered(3, 0.01), 0.002, 0},
      {"one voxel", scattered(500, 0.0004), 0.001, 0},
      {"scan, coarse leaves", scanned_surface(120, 90, 0.001, -0.05), 0.005, 0},
      {"scan, leaves of two points", scanned_surface(400, 300, 0.0005, 0.1), 0.001, 0},
      {"scattered, every point its own voxel", scattered(20000, 0.5), 0.001, 0},
      {"strays and a non-number", with_strays, 0.002, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Model m = model(c.cloud, c.size);
    VoxelGrid grid(c.cloud, c.size);
    ASSERT_EQ(grid.voxels().size(), m.cells.size());
    EXPECT_EQ(grid.points(), c.cloud.size() - c.outside);
    std::size_t outside = 0;
    for (std::size_t i = 0; i < c.cloud.size(); ++i) outside += grid.voxelOf(i) == VoxelGrid::kNone;
    EXPECT_EQ(outside, c.outside);
    for (std::size_t v = 0; v < grid.voxels().size(); ++v) {
      const auto& voxel = grid.voxels()[v];
      const Cell cell{voxel.cell[0], voxel.cell[1], voxel.cell[2]};
      ASSERT_EQ(cell, m.cells[v]) << "voxel " << v;
      EXPECT_EQ(voxel.points, m.points[v]);
      EXPECT_LT((voxel.centroid - m.sums[v] / static_cast<double>(m.points[v])).norm(), 1e-12);
      EXPECT_EQ(grid.at(voxel.cell), v);
    }
    // Found again through the dense index too, and the shell of 26 cells around a voxel.
    grid.indexNeighbours();
    for (std::size_t v = 0; v < grid.voxels().size(); v += 97) {
      const auto* cell = grid.voxels()[v].cell;
      EXPECT_EQ(grid.at(cell), v);
      std::vector<std::size_t> shell;
      grid.shell(v, 1, shell);
      std::set<std::size_t> expected;
      for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
          for (int dz = -1; dz <= 1; ++dz) {
            const auto near = m.index.find({cell[0] + dx, cell[1] + dy, cell[2] + dz});
            if ((dx || dy || dz) && near != m.index.end()) expected.insert(near->second);
          }
      EXPECT_EQ(std::set<std::size_t>(shell.begin(), shell.end()), expected) << "voxel " << v;
    }
  }
}

}  // namespace
