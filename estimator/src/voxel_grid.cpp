#include "internal/voxel_grid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace litterpose::robust {
namespace {

constexpr std::uint32_t kEmptyCell = VoxelGrid::kNoVoxel;
constexpr std::int64_t kDenseMargin = 2;

// Fibonacci hashing: the top bits of the product mix every bit of the key.
std::size_t hashOf(std::uint64_t key, int shift) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> shift);
}

int shiftFor(std::size_t capacity) {
  int bits = 0;
  while ((std::size_t{1} << bits) < capacity) ++bits;
  return 64 - bits;
}

}  // namespace

VoxelGrid::VoxelGrid(const GrabPoseEstimate::Cloud& cloud, double size) { build(cloud, size); }

void VoxelGrid::build(const GrabPoseEstimate::Cloud& cloud, double size) {
  restart(size, cloud.size());
  // A capture's surfaces hold a few points in each voxel, and a few voxels in each block.
  startTable(cloud.size(), cloud.size() / 2, cloud.size() / 8);
  if (blocked_) {
    voxels_.reserve(cloud.size() / 2 + 1);
    binInBlocks(cloud);
  } else {
    binInCells(cloud);
  }
  finish();
}

namespace {

// The cell of a point, false for one with a non-finite coordinate or beyond the key range.
bool cellOf(const pcl::PointXYZ& p, double inverse, std::int64_t cell[3]) {
  const double limit = static_cast<double>(VoxelGrid::kMaxCell);
  const double scaled[3] = {p.x * inverse, p.y * inverse, p.z * inverse};
  if (!(std::fabs(scaled[0]) < limit && std::fabs(scaled[1]) < limit &&
        std::fabs(scaled[2]) < limit))
    return false;  // also every non-number
  for (int axis = 0; axis < 3; ++axis) {
    cell[axis] = static_cast<std::int64_t>(scaled[axis]);  // towards zero, then down
    cell[axis] -= static_cast<double>(cell[axis]) > scaled[axis];
  }
  return true;
}

// The value where the mask is all ones, +0 where it is none.
double masked(double value, std::uint64_t mask) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits &= mask;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

// A small cloud's points mostly meet a voxel of their own or one met a few points before,
// in no order a processor's branch prediction could guess: whether a cell is new decides
// no branch here. Every point writes its cell's key and its voxel's cell, and a new voxel's
// sums start from zero where they would otherwise go on, so that each sum is added in the
// points' order exactly as it would be in place.
void VoxelGrid::binInCells(const GrabPoseEstimate::Cloud& cloud) {
  const double inverse = 1.0 / size_;
  voxels_.resize(cloud.size());  // room for a voxel per point, left uninitialised
  std::size_t count = 0;
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    const auto& p = cloud[i];
    std::int64_t cell[3];
    if (!cellOf(p, inverse, cell)) continue;
    if (2 * (count + 1) > keys_.size()) grow();
    const std::uint64_t key = placeOf(cell).block;
    std::size_t s = hashOf(key, shift_);
    while (std::min(keys_[s] ^ key, ~keys_[s]) != 0) s = (s + 1) & mask_;  // key or empty
    // All ones for a voxel met before, none for a new one.
    const std::uint64_t met = std::uint64_t{keys_[s] != kEmpty} * ~std::uint64_t{0};
    keys_[s] = key;
    const auto v = static_cast<std::uint32_t>((values_[s] & met) | (count & ~met));
    values_[s] = v;
    count += 1 - (met & 1);
    voxel_of_[i] = v;
    Voxel& voxel = voxels_[v];
    std::copy(cell, cell + 3, voxel.cell);
    const double x = p.x, y = p.y, z = p.z;
    voxel.points = (voxel.points & met) + 1;
    voxel.centroid.x() = masked(voxel.centroid.x(), met) + x;
    voxel.centroid.y() = masked(voxel.centroid.y(), met) + y;
    voxel.centroid.z() = masked(voxel.centroid.z(), met) + z;
    voxel.spread = masked(voxel.spread, met) + (x * x + y * y + z * z);
  }
  voxels_.resize(count);
}

// A large cloud's neighbouring points, in a capture's scan order, mostly share a voxel:
// the last one is looked up first.
void VoxelGrid::binInBlocks(const GrabPoseEstimate::Cloud& cloud) {
  const double inverse = 1.0 / size_;
  std::int64_t last[3] = {kMaxCell, kMaxCell, kMaxCell};
  std::uint32_t last_voxel = kNoVoxel;
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    const auto& p = cloud[i];
    std::int64_t cell[3];
    if (!cellOf(p, inverse, cell)) continue;
    if (cell[0] != last[0] || cell[1] != last[1] || cell[2] != last[2]) {
      last_voxel = voxelAt(cell);
      std::copy(cell, cell + 3, last);
    }
    voxel_of_[i] = last_voxel;
    Voxel& voxel = voxels_[last_voxel];
    ++voxel.points;
    const double x = p.x, y = p.y, z = p.z;
    voxel.centroid.x() += x;
    voxel.centroid.y() += y;
    voxel.centroid.z() += z;
    voxel.spread += x * x + y * y + z * z;
  }
}

VoxelGrid::VoxelGrid(const VoxelGrid& fine, int factor) { merge(fine, factor); }

void VoxelGrid::merge(const VoxelGrid& fine, int factor) {
  restart(fine.size_ * factor, fine.voxels_.size());
  startTable(fine.voxels_.size(), fine.voxels_.size(), fine.voxels_.size() / 8);
  voxels_.reserve(fine.voxels_.size());
  for (std::size_t i = 0; i < fine.voxels_.size(); ++i) {
    const Voxel& f = fine.voxels_[i];
    std::int64_t cell[3];
    for (int axis = 0; axis < 3; ++axis) {
      const std::int64_t c = f.cell[axis];
      cell[axis] = (c >= 0 ? c : c - factor + 1) / factor;  // rounded down
    }
    voxel_of_[i] = voxelAt(cell);
    Voxel& voxel = voxels_[voxel_of_[i]];
    const double n = static_cast<double>(f.points);
    voxel.points += f.points;
    voxel.centroid += n * f.centroid;
    voxel.spread += n * (f.spread + f.centroid.squaredNorm());
  }
  finish();
}

void VoxelGrid::restart(double size, std::size_t entries) {
  size_ = size;
  voxels_.clear();
  voxel_of_.assign(entries, kNoVoxel);
  points_ = 0;
  blocks_.clear();
  last_block_key_ = kEmpty;
  dense_.clear();
  for (auto& offsets : shell_offsets_) offsets.clear();
}

void VoxelGrid::startTable(std::size_t entries, std::size_t cells, std::size_t blocks) {
  blocked_ = entries >= kBlockedFrom;
  const std::size_t keys = blocked_ ? 2 * blocks : cells;
  std::size_t capacity = 64;
  while (capacity < keys) capacity *= 2;
  keys_.assign(capacity, kEmpty);
  values_.resize(capacity);
  mask_ = capacity - 1;
  shift_ = shiftFor(capacity);
  if (blocked_) blocks_.reserve(blocks);
}

inline VoxelGrid::Place VoxelGrid::placeOf(const std::int64_t cell[3]) const {
  const int bits = blocked_ ? kBlockBits : 0;
  const std::uint64_t inside = (std::uint64_t{1} << bits) - 1;
  std::uint64_t offset[3];  // within the key range, made non-negative
  for (int axis = 0; axis < 3; ++axis)
    offset[axis] = static_cast<std::uint64_t>(cell[axis] + kMaxCell);
  return {((offset[0] >> bits) << 42) | ((offset[1] >> bits) << 21) | (offset[2] >> bits),
          static_cast<std::size_t>(((offset[0] & inside) << (2 * bits)) |
                                   ((offset[1] & inside) << bits) | (offset[2] & inside))};
}

std::uint32_t VoxelGrid::lookUp(const std::int64_t cell[3]) const {
  const Place place = placeOf(cell);
  const std::size_t s = find(place.block);
  if (keys_[s] != place.block) return kNoVoxel;
  return blocked_ ? blocks_[values_[s]][place.cell] : values_[s];
}

std::uint32_t VoxelGrid::insert(std::uint64_t key, std::size_t next, bool& added) {
  std::size_t s = find(key);
  added = keys_[s] == kEmpty;
  if (added) {
    if (2 * (next + 1) > keys_.size()) {
      grow();
      s = find(key);
    }
    keys_[s] = key;
    values_[s] = static_cast<std::uint32_t>(next);
  }
  return values_[s];
}

std::uint32_t VoxelGrid::voxelAt(const std::int64_t cell[3]) {
  const Place place = placeOf(cell);
  bool added = false;
  std::uint32_t voxel = kNoVoxel;
  if (!blocked_) {  // the table holds the voxel of each cell
    voxel = insert(place.block, voxels_.size(), added);
  } else {
    // The cells of a scan line follow each other through a block.
    if (place.block != last_block_key_) {
      last_block_ = insert(place.block, blocks_.size(), added);
      last_block_key_ = place.block;
      if (added) {
        blocks_.emplace_back();
        blocks_.back().fill(kNoVoxel);
      }
    }
    std::uint32_t& in_block = blocks_[last_block_][place.cell];
    added = in_block == kNoVoxel;
    if (added) in_block = static_cast<std::uint32_t>(voxels_.size());
    voxel = in_block;
  }
  if (added) voxels_.push_back({{cell[0], cell[1], cell[2]}, 0, Eigen::Vector3d::Zero(), 0.0});
  return voxel;
}

void VoxelGrid::finish() {
  for (Voxel& v : voxels_) {
    points_ += v.points;
    v.centroid /= static_cast<double>(v.points);
    v.spread = std::max(0.0, v.spread / static_cast<double>(v.points) - v.centroid.squaredNorm());
  }
}

std::size_t VoxelGrid::find(std::uint64_t key) const {
  std::size_t s = hashOf(key, shift_);
  while (keys_[s] != kEmpty && keys_[s] != key) s = (s + 1) & mask_;
  return s;
}

void VoxelGrid::grow() {
  std::vector<std::uint64_t> keys(2 * keys_.size(), kEmpty);
  std::vector<std::uint32_t> values(keys.size());
  keys_.swap(keys);
  values_.swap(values);
  mask_ = keys_.size() - 1;
  shift_ = shiftFor(keys_.size());
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (keys[i] != kEmpty) {
      const std::size_t s = find(keys[i]);
      keys_[s] = keys[i];
      values_[s] = values[i];
    }
}

std::array<std::int64_t, 3> VoxelGrid::cellExtent() const {
  std::array<std::int64_t, 3> extent{0, 0, 0};
  if (voxels_.empty()) return extent;
  std::int64_t low[3], high[3];
  for (int axis = 0; axis < 3; ++axis) low[axis] = high[axis] = voxels_[0].cell[axis];
  for (const Voxel& v : voxels_)
    for (int axis = 0; axis < 3; ++axis) {
      low[axis] = std::min(low[axis], v.cell[axis]);
      high[axis] = std::max(high[axis], v.cell[axis]);
    }
  for (int axis = 0; axis < 3; ++axis) extent[axis] = high[axis] - low[axis] + 1;
  return extent;
}

void VoxelGrid::indexNeighbours() {
  if (!dense_.empty()) return;
  if (voxels_.empty()) return;
  std::int64_t high[3];
  for (int axis = 0; axis < 3; ++axis) low_[axis] = high[axis] = voxels_[0].cell[axis];
  for (const Voxel& v : voxels_)
    for (int axis = 0; axis < 3; ++axis) {
      low_[axis] = std::min(low_[axis], v.cell[axis]);
      high[axis] = std::max(high[axis], v.cell[axis]);
    }
  // A margin of empty cells, so that every voxel's shells lie inside the table.
  for (int axis = 0; axis < 3; ++axis) {
    low_[axis] -= kDenseMargin;
    high[axis] += kDenseMargin;
  }
  const std::size_t limit = kMaxDenseCells;
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
    if (cell[axis] < -kMaxCell || cell[axis] > kMaxCell) return kNone;
  const std::uint32_t v = lookUp(cell);
  return v == kNoVoxel ? kNone : v;
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


}  // namespace litterpose::robust
