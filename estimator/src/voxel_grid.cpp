#include "internal/voxel_grid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace litterpose::robust {
namespace {

// A dense table may hold this many cells per voxel, and at least kMinDenseCells.
constexpr std::size_t kDenseCellsPerVoxel = 16;
constexpr std::size_t kMinDenseCells = std::size_t{1} << 15;
constexpr std::uint32_t kEmptyCell = UINT32_MAX;

std::uint64_t keyOf(const std::int64_t cell[3], std::int64_t bias) {
  return (static_cast<std::uint64_t>(cell[0] + bias) << 42) |
         (static_cast<std::uint64_t>(cell[1] + bias) << 21) |
         static_cast<std::uint64_t>(cell[2] + bias);
}

std::size_t hashOf(std::uint64_t key) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 24);
}

}  // namespace

VoxelGrid::VoxelGrid(const GrabPoseEstimate::Cloud& cloud, double size)
    : size_(size), voxel_of_(cloud.size(), kNone) {
  std::size_t capacity = 64;
  while (capacity < cloud.size() / 2) capacity *= 2;
  keys_.assign(capacity, kEmpty);
  values_.resize(capacity);
  mask_ = capacity - 1;
  const double inverse = 1.0 / size;
  const double limit = static_cast<double>(kMaxCell);
  // Neighbouring points of a capture mostly share a voxel: the last one is looked up first.
  std::uint64_t last_key = kEmpty;
  std::size_t last_voxel = kNone;
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    const auto& p = cloud[i];
    const double scaled[3] = {p.x * inverse, p.y * inverse, p.z * inverse};
    if (!(std::fabs(scaled[0]) < limit && std::fabs(scaled[1]) < limit &&
          std::fabs(scaled[2]) < limit))
      continue;  // also every non-number
    std::int64_t cell[3];
    for (int axis = 0; axis < 3; ++axis) {
      cell[axis] = static_cast<std::int64_t>(scaled[axis]);  // towards zero, then down
      cell[axis] -= static_cast<double>(cell[axis]) > scaled[axis];
    }
    const std::uint64_t key = keyOf(cell, kMaxCell);
    std::size_t v = last_voxel;
    if (key != last_key) {
      std::size_t s = find(key);
      if (keys_[s] == kEmpty) {
        if (2 * (voxels_.size() + 1) > keys_.size()) {
          grow();
          s = find(key);
        }
        keys_[s] = key;
        values_[s] = static_cast<std::uint32_t>(voxels_.size());
        voxels_.push_back({{cell[0], cell[1], cell[2]}, 0, Eigen::Vector3d::Zero(), 0.0});
      }
      v = values_[s];
      last_key = key;
      last_voxel = v;
    }
    voxel_of_[i] = v;
    Voxel& voxel = voxels_[v];
    ++voxel.points;
    const Eigen::Vector3d q(p.x, p.y, p.z);
    voxel.centroid += q;
    voxel.spread += q.squaredNorm();
    ++points_;
  }
  for (Voxel& v : voxels_) {
    v.centroid /= static_cast<double>(v.points);
    v.spread = std::max(0.0, v.spread / static_cast<double>(v.points) - v.centroid.squaredNorm());
  }
  indexDensely();
}

std::size_t VoxelGrid::find(std::uint64_t key) const {
  std::size_t s = hashOf(key) & mask_;
  while (keys_[s] != kEmpty && keys_[s] != key) s = (s + 1) & mask_;
  return s;
}

void VoxelGrid::grow() {
  std::vector<std::uint64_t> keys(2 * keys_.size(), kEmpty);
  std::vector<std::uint32_t> values(keys.size());
  keys_.swap(keys);
  values_.swap(values);
  mask_ = keys_.size() - 1;
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (keys[i] != kEmpty) {
      const std::size_t s = find(keys[i]);
      keys_[s] = keys[i];
      values_[s] = values[i];
    }
}

void VoxelGrid::indexDensely() {
  if (voxels_.empty()) return;
  std::int64_t high[3];
  for (int axis = 0; axis < 3; ++axis) low_[axis] = high[axis] = voxels_[0].cell[axis];
  for (const Voxel& v : voxels_)
    for (int axis = 0; axis < 3; ++axis) {
      low_[axis] = std::min(low_[axis], v.cell[axis]);
      high[axis] = std::max(high[axis], v.cell[axis]);
    }
  const std::size_t limit = std::max(kMinDenseCells, kDenseCellsPerVoxel * voxels_.size());
  std::size_t cells = 1;
  for (int axis = 0; axis < 3; ++axis) {
    extent_[axis] = high[axis] - low_[axis] + 1;
    if (static_cast<std::size_t>(extent_[axis]) > limit) return;
    cells *= static_cast<std::size_t>(extent_[axis]);
    if (cells > limit) return;
  }
  dense_.assign(cells, kEmptyCell);
  for (std::size_t i = 0; i < voxels_.size(); ++i)
    dense_[denseIndex(voxels_[i].cell)] = static_cast<std::uint32_t>(i);
  for (int ring = 1; ring <= 2; ++ring)
    for (int dx = -ring; dx <= ring; ++dx)
      for (int dy = -ring; dy <= ring; ++dy)
        for (int dz = -ring; dz <= ring; ++dz) {
          if (std::max({std::abs(dx), std::abs(dy), std::abs(dz)}) != ring) continue;
          shell_offsets_[ring - 1].push_back((dx * extent_[1] + dy) * extent_[2] + dz);
        }
}

std::size_t VoxelGrid::denseIndex(const std::int64_t cell[3]) const {
  return static_cast<std::size_t>(((cell[0] - low_[0]) * extent_[1] + (cell[1] - low_[1])) *
                                      extent_[2] +
                                  (cell[2] - low_[2]));
}

std::size_t VoxelGrid::at(const std::int64_t cell[3]) const {
  if (!dense_.empty()) {
    for (int axis = 0; axis < 3; ++axis) {
      const std::int64_t c = cell[axis] - low_[axis];
      if (c < 0 || c >= extent_[axis]) return kNone;
    }
    const std::uint32_t v = dense_[denseIndex(cell)];
    return v == kEmptyCell ? kNone : v;
  }
  for (int axis = 0; axis < 3; ++axis)
    if (cell[axis] <= -kMaxCell || cell[axis] >= kMaxCell) return kNone;
  const std::uint64_t key = keyOf(cell, kMaxCell);
  const std::size_t s = find(key);
  return keys_[s] == key ? values_[s] : kNone;
}

void VoxelGrid::shell(std::size_t v, int ring, std::vector<std::size_t>& out) const {
  const std::int64_t* cell = voxels_[v].cell;
  if (!dense_.empty()) {
    bool inner = true;
    for (int axis = 0; axis < 3; ++axis)
      inner = inner && cell[axis] - ring >= low_[axis] && cell[axis] + ring < low_[axis] + extent_[axis];
    if (inner) {
      const auto base = static_cast<std::int64_t>(denseIndex(cell));
      for (const std::int64_t offset : shell_offsets_[ring - 1]) {
        const std::uint32_t n = dense_[static_cast<std::size_t>(base + offset)];
        if (n != kEmptyCell) out.push_back(n);
      }
      return;
    }
  }
  for (int dx = -ring; dx <= ring; ++dx)
    for (int dy = -ring; dy <= ring; ++dy)
      for (int dz = -ring; dz <= ring; ++dz) {
        if (std::max({std::abs(dx), std::abs(dy), std::abs(dz)}) != ring) continue;
        const std::int64_t near[3] = {cell[0] + dx, cell[1] + dy, cell[2] + dz};
        const std::size_t n = at(near);
        if (n != kNone) out.push_back(n);
      }
}

double VoxelGrid::pointDistance(std::size_t a, std::size_t b) const {
  const double centres = a == b ? 0.0 : (centroid(a) - centroid(b)).squaredNorm();
  return std::sqrt(centres + voxels_[a].spread + voxels_[b].spread);
}

}  // namespace litterpose::robust
