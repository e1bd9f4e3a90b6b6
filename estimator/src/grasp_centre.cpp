// Where a lying object is grasped and along which axis, seen from above.
#include "internal/robust_preparation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <Eigen/Eigenvalues>

#include "internal/floor_fit.h"

namespace litterpose::robust {
namespace {

// The volume under a lying object is measured on cells of this many pixels' footprint, at
// most kMaxCells along either side.
constexpr double kHeightMapPixels = 4.0;
constexpr int kMaxCells = 4096;
// Across the footprint's long side the grasp is at the rectangle's centre: the camera sees a
// round object's near side only, and the volume under those points leans towards it. Unless
// the volume's centre lies well to one side of the rectangle's (a bottle's neck folded beside
// its body): from kAcrossFrom of the footprint's width off the middle it draws the grasp
// towards it, and from kAcrossFull the grasp is at it.
constexpr double kAcrossFrom = 0.08;
constexpr double kAcrossFull = 0.16;
// Fewer prepared points than this leave the footprint rectangle's sides to a few strays.
constexpr std::size_t kMinRectanglePoints = 100;
// A principal axis whose horizontal part is shorter than this gives no direction seen from
// above (it stands within 60 degrees of upright).
constexpr float kMinLevelPart = 0.5f;
// A footprint rectangle whose long side is less than this many times its short side has no
// long side of its own: a few points beyond the object's bulk (the tip of a bottle's neck
// folded beside it) turn it.
constexpr float kSquareSides = 1.25f;
// The upper part is where the object stands at least this share of its height above the
// floor (a bottle's neck, folded beside its body, reaches about half of it), on at least
// kMinUpperCells cells of the height map.
constexpr float kUpperShare = 0.6f;
constexpr double kMinUpperCells = 6.0;

Eigen::Vector2f rectangleCentre(const GrabPoseEstimate& e) {
  Eigen::Vector2f rect = Eigen::Vector2f::Zero();
  for (const auto& corner : e.rect_points_) rect += Eigen::Vector2f(corner.x, corner.y);
  return rect / 4.0f;
}

// The footprint rectangle's sides, long one first.
Eigen::Vector2f rectangleSides(const GrabPoseEstimate& e) {
  const cv::Point2f* c = e.rect_points_;
  const float a = std::hypot(c[1].x - c[0].x, c[1].y - c[0].y);
  const float b = std::hypot(c[2].x - c[1].x, c[2].y - c[1].y);
  return {std::max(a, b), std::min(a, b)};
}

// The highest point above the floor over each square cell of a grid in the frame of the
// footprint rectangle (u along its long side, v across), cells a few pixels wide at the
// object's range.
struct HeightMap {
  Eigen::Vector2d origin, u, v, low, extent = Eigen::Vector2d::Zero();
  double cell = 0.0;
  int columns = 0, rows = 0;
  std::vector<float> top;

  HeightMap(const GrabPoseEstimate& e, const GrabPoseEstimate::Cloud& cloud, const Eigen::Vector2f& centre)
      : origin(centre.cast<double>()), u(e.rect_direction_.cast<double>().normalized()),
        v(-u.y(), u.x()), low(Eigen::Vector2d::Zero()) {
    Eigen::Vector3d sum = Eigen::Vector3d::Zero();
    Eigen::Vector2d high = Eigen::Vector2d::Zero();
    for (const auto& p : cloud) {
      sum += Eigen::Vector3d(p.x, p.y, p.z);
      const Eigen::Vector2d t = frame(p);
      low = low.cwiseMin(t);
      high = high.cwiseMax(t);
    }
    if (cloud.empty()) return;
    const double range = (sum / static_cast<double>(cloud.size()) - cameraOrigin(e)).norm();
    extent = high - low;
    cell = std::max({kHeightMapPixels * pixelFootprintOr(e, range), extent.x() / kMaxCells,
                     extent.y() / kMaxCells});
    if (!(cell > 0.0)) return;
    columns = static_cast<int>(extent.x() / cell) + 1;
    rows = static_cast<int>(extent.y() / cell) + 1;
    const floor::Plane floor{e.floor_plane_.head<3>().cast<double>().normalized(),
                             static_cast<double>(e.floor_plane_[3])};
    top.assign(static_cast<std::size_t>(columns) * rows, 0.0f);
    for (const auto& p : cloud) {
      const Eigen::Vector2d t = frame(p);
      const int c = std::clamp(static_cast<int>((t.x() - low.x()) / cell), 0, columns - 1);
      const int r = std::clamp(static_cast<int>((t.y() - low.y()) / cell), 0, rows - 1);
      float& h = top[static_cast<std::size_t>(r) * columns + c];
      h = std::max(h, static_cast<float>(floor.height(p)));
    }
  }

  Eigen::Vector2d frame(const pcl::PointXYZ& p) const {
    const Eigen::Vector2d d = Eigen::Vector2d(p.x, p.y) - origin;
    return {u.dot(d), v.dot(d)};
  }
  // A cell's centre in the rectangle's frame, and the height over it.
  Eigen::Vector2d centre(int c, int r) const {
    return low + Eigen::Vector2d(c + 0.5, r + 0.5) * cell;
  }
  double height(int c, int r) const { return top[static_cast<std::size_t>(r) * columns + c]; }

  // The volume under the points, and its centre in the rectangle's frame.
  double volume(Eigen::Vector2d& at) const {
    Eigen::Vector2d weighted = Eigen::Vector2d::Zero();
    double sum = 0.0;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c) {
        weighted += height(c, r) * centre(c, r);
        sum += height(c, r);
      }
    if (sum > 0.0) at = weighted / sum;
    return sum;
  }
};

}  // namespace

std::optional<Eigen::Vector2d> longAxisOf(const Eigen::Matrix2d& moments, double ratio) {
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> axes(moments);
  if (axes.info() != Eigen::Success) return std::nullopt;
  const Eigen::Vector2d spread = axes.eigenvalues();
  if (!(spread.y() >= ratio * ratio * spread.x())) return std::nullopt;
  return Eigen::Vector2d(axes.eigenvectors().col(1));
}

Eigen::Vector2f graspAxis(const GrabPoseEstimate& e, const GrabPoseEstimate::Cloud& cloud) {
  if (cloud.size() >= kMinRectanglePoints) {
    const Eigen::Vector2f sides = rectangleSides(e);
    if (!(sides.x() < kSquareSides * sides.y())) return e.rect_direction_;
    // The principal axis of the footprint of the object's upper part: its bulk decides, not
    // a lower part beside it.
    const HeightMap map(e, cloud, rectangleCentre(e));
    if (map.top.empty()) return e.rect_direction_;
    float reference = e.trash_height_;
    if (!(reference > 0.0f)) reference = *std::max_element(map.top.begin(), map.top.end());
    const float upper = kUpperShare * reference;
    Eigen::Vector2d sum = Eigen::Vector2d::Zero();
    Eigen::Matrix2d products = Eigen::Matrix2d::Zero();
    double cells = 0.0;
    for (int r = 0; r < map.rows; ++r)
      for (int c = 0; c < map.columns; ++c)
        if (map.height(c, r) >= upper) {
          const Eigen::Vector2d at = map.centre(c, r);
          sum += at;
          products += at * at.transpose();
          cells += 1.0;
        }
    if (cells < kMinUpperCells) return e.rect_direction_;
    const Eigen::Vector2d mean = sum / cells;
    const Eigen::Matrix2d moments = products / cells - mean * mean.transpose();
    // Only where the upper part is clearly longer than the whole footprint is: a lower part
    // beside it made the footprint square (a carton's top is all of it, and the flying
    // pixels behind it lengthen both alike).
    const auto along = longAxisOf(moments, kSquareSides * sides.x() / sides.y());
    if (!along) return e.rect_direction_;
    Eigen::Vector2f axis = (along->x() * map.u + along->y() * map.v).cast<float>().normalized();
    if (!axis.allFinite()) return e.rect_direction_;
    return axis.x() < 0.0f ? Eigen::Vector2f(-axis) : axis;
  }
  Eigen::Vector2f axis(e.pca_vectors_(0, 0), e.pca_vectors_(1, 0));
  if (!(axis.norm() >= kMinLevelPart)) return e.rect_direction_;
  axis.normalize();
  return axis.x() < 0.0f ? Eigen::Vector2f(-axis) : axis;
}

Eigen::Vector2f graspCentre(const GrabPoseEstimate& e, const GrabPoseEstimate::Cloud& cloud) {
  const Eigen::Vector2f rect = rectangleCentre(e);
  if (cloud.empty() || !rect.allFinite()) return rect;
  // Along the footprint's long side, the centre of the volume under the points: a bottle's
  // neck weighs less than its body. Measured on a height map in the rectangle's frame.
  const HeightMap map(e, cloud, rect);
  if (!(map.cell > 0.0)) return rect;
  Eigen::Vector2d middle = Eigen::Vector2d::Zero();
  if (!(map.volume(middle) > 0.0)) return rect;
  const double share = std::fabs(middle.y()) / std::max(map.extent.y(), map.cell);
  const double weight = std::clamp((share - kAcrossFrom) / (kAcrossFull - kAcrossFrom), 0.0, 1.0);
  return (map.origin + middle.x() * map.u + weight * middle.y() * map.v).cast<float>();
}

}  // namespace litterpose::robust
