// Points binned into cubic voxels: each voxel's count, centroid and spread, the voxel of
// every point, and the occupied voxels around a voxel. Built in one pass over the cloud
// with an open-addressing table, so that its cost grows with the points and stays small.
// For a large cloud the table holds blocks of 2 x 2 x 2 cells: the neighbouring pixels of
// a capture fall into few blocks, which lie together in memory, where a table of single
// cells, larger than the processor's caches, would scatter them. (Larger blocks are faster
// still on a capture, but a cloud of scattered points, one per block, would take several
// times the memory.)
#ifndef LITTERPOSE_INTERNAL_VOXEL_GRID_H
#define LITTERPOSE_INTERNAL_VOXEL_GRID_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include <Eigen/Dense>

#include "litterpose.h"

namespace litterpose::robust {

class VoxelGrid {
public:
  // Points with a non-finite coordinate, or so far from the origin that their cell does
  // not fit the key (about a million voxels), join no voxel.
  VoxelGrid(const GrabPoseEstimate::Cloud& cloud, double size);
  // No voxels, until build().
  VoxelGrid() = default;
  // Bins the cloud afresh, as the constructor does, in the memory of the grid before.
  void build(const GrabPoseEstimate::Cloud& cloud, double size);
  // The voxels of a finer grid merged `factor` by `factor` by `factor`: each holds the
  // points of the fine voxels in its cell, and voxelOf(v) is the voxel of fine voxel v.
  VoxelGrid(const VoxelGrid& fine, int factor);
  // Merges a finer grid afresh, as the constructor does, in the memory of the grid before.
  void merge(const VoxelGrid& fine, int factor);

  static constexpr std::size_t kNone = SIZE_MAX;
  static constexpr std::int64_t kMaxCell = (std::int64_t{1} << 20) - 1;  // |cell| at most
  struct Voxel {
    std::int64_t cell[3];
    std::size_t points;
    Eigen::Vector3d centroid;
    double spread;  // mean squared distance of its points from the centroid
  };

  // Vectors whose new elements are left uninitialised where they have no value to take
  // (a voxel's fields are all written when it is first met).
  template <class T>
  struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
      using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
      ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  };
  using Voxels = std::vector<Voxel, UninitialisedAllocator<Voxel>>;

  double size() const { return size_; }
  std::size_t points() const { return points_; }  // points in some voxel
  const Voxels& voxels() const { return voxels_; }
  // The voxel of the i-th point (of the finer grid's i-th voxel), or kNone.
  std::size_t voxelOf(std::size_t point) const {
    return voxel_of_[point] == kNoVoxel ? kNone : voxel_of_[point];
  }
  // Swaps the voxel of every point (of the finer grid's every voxel), kNoVoxel for none,
  // with the vector given, without a copy; voxelOf() answers nothing after it.
  static constexpr std::uint32_t kNoVoxel = UINT32_MAX;
  void swapVoxelsOf(std::vector<std::uint32_t>& other) { voxel_of_.swap(other); }
  const Eigen::Vector3d& centroid(std::size_t v) const { return voxels_[v].centroid; }
  // Makes neighbour lookups fast (a table over the cells' box, when it holds at most
  // kMaxDenseCells cells): worth it before many calls of at() and shell().
  static constexpr std::size_t kMaxDenseCells = std::size_t{1} << 20;
  void indexNeighbours();
  // The number of cells the voxels' box spans along each axis.
  std::array<std::int64_t, 3> cellExtent() const;
  // The voxel of a cell, or kNone.
  std::size_t at(const std::int64_t cell[3]) const;
  // Appends the occupied voxels whose cells lie `ring` cells from voxel v's (1 or 2: the
  // shells of 26 and 98 cells around it).
  void shell(std::size_t v, int ring, std::vector<std::size_t>& out) const;

private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  static constexpr int kBlockBits = 1;  // a block spans 1 << kBlockBits cells a side
  static constexpr std::size_t kBlockCells = std::size_t{1} << (3 * kBlockBits);
  using Block = std::array<std::uint32_t, kBlockCells>;
  struct Place {
    std::uint64_t block;  // the block's key
    std::size_t cell;     // the cell's place in it
  };
  Place placeOf(const std::int64_t cell[3]) const;  // for a cell within the key range
  // No voxels, of the size given, and no voxel yet for any of so many points (or finer
  // voxels); the memory kept.
  void restart(double size, std::size_t entries);
  // An empty table for so many points (or finer voxels): of single cells, room for about
  // `cells` of them, or from kBlockedFrom on, of blocks, room for about `blocks` of them.
  static constexpr std::size_t kBlockedFrom = std::size_t{1} << 18;
  void startTable(std::size_t entries, std::size_t cells, std::size_t blocks);
  std::size_t find(std::uint64_t key) const;  // slot of the key, or of the empty slot it takes
  // The value of the key; for a key not in the table (`added`) `next`, the number of the
  // entries before it, which the table grows to hold.
  std::uint32_t insert(std::uint64_t key, std::size_t next, bool& added);
  // The voxel of a cell within the key range (kNoVoxel for none); voxelAt adds it when new.
  std::uint32_t lookUp(const std::int64_t cell[3]) const;
  std::uint32_t voxelAt(const std::int64_t cell[3]);
  void binInCells(const GrabPoseEstimate::Cloud& cloud);   // the table of single cells
  void binInBlocks(const GrabPoseEstimate::Cloud& cloud);  // the table of blocks
  void finish();  // centroids and spreads from the sums
  void grow();
  std::size_t denseIndex(const std::int64_t cell[3]) const;

  double size_ = 0.0;
  Voxels voxels_;
  std::vector<std::uint32_t> voxel_of_;
  std::size_t points_ = 0;
  // Open addressing with linear probing: the keys of the cells and the voxel each maps to,
  // or (blocked_) the keys of the blocks and the block each maps to, which holds the voxel
  // of each of its cells.
  bool blocked_ = false;
  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> values_;
  std::vector<Block> blocks_;
  std::uint64_t last_block_key_ = kEmpty;  // the block voxelAt met last
  std::uint32_t last_block_ = 0;
  std::size_t mask_ = 0;
  int shift_ = 64;
  std::int64_t low_[3] = {0, 0, 0};
  std::int64_t extent_[3] = {0, 0, 0};
  std::vector<std::uint32_t> dense_;
  std::vector<std::int64_t> shell_offsets_[2];  // dense index offsets of the two shells
};

}  // namespace litterpose::robust

#endif
