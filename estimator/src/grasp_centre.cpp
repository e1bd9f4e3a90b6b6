// Where a lying object is grasped and along which axis, seen from above.
#include "internal/robust_preparation.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

}  // namespace

Eigen::Vector2f graspAxis(const GrabPoseEstimate& e, std::size_t points) {
  if (points >= kMinRectanglePoints) return e.rect_direction_;
  Eigen::Vector2f axis(e.pca_vectors_(0, 0), e.pca_vectors_(1, 0));
  if (!(axis.norm() >= kMinLevelPart)) return e.rect_direction_;
  axis.normalize();
  return axis.x() < 0.0f ? Eigen::Vector2f(-axis) : axis;
}

Eigen::Vector2f graspCentre(const GrabPoseEstimate& e, const GrabPoseEstimate::Cloud& cloud) {
  Eigen::Vector2f rect = Eigen::Vector2f::Zero();
  for (const auto& corner : e.rect_points_) rect += Eigen::Vector2f(corner.x, corner.y);
  rect /= 4.0f;
  if (cloud.empty() || !rect.allFinite()) return rect;
  // Along the footprint's long side, the centre of the volume under the points: a bottle's
  // neck weighs less than its body. Measured on a height map in the rectangle's frame.
  const Eigen::Vector2d origin = rect.cast<double>();
  const Eigen::Vector2d u = e.rect_direction_.cast<double>().normalized();
  const Eigen::Vector2d v(-u.y(), u.x());
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  Eigen::Vector2d low = Eigen::Vector2d::Zero(), high = Eigen::Vector2d::Zero();
  for (const auto& p : cloud) {
    sum += Eigen::Vector3d(p.x, p.y, p.z);
    const Eigen::Vector2d d = Eigen::Vector2d(p.x, p.y) - origin;
    const Eigen::Vector2d t(u.dot(d), v.dot(d));
    low = low.cwiseMin(t);
    high = high.cwiseMax(t);
  }
  const double range = (sum / static_cast<double>(cloud.size()) - cameraOrigin(e)).norm();
  const Eigen::Vector2d extent = high - low;
  const double cell = std::max({kHeightMapPixels * pixelFootprintOr(e, range),
                                extent.x() / kMaxCells, extent.y() / kMaxCells});
  if (!(cell > 0.0)) return rect;
  const int columns = static_cast<int>(extent.x() / cell) + 1;
  const int rows = static_cast<int>(extent.y() / cell) + 1;
  const floor::Plane floor{e.floor_plane_.head<3>().cast<double>().normalized(),
                           static_cast<double>(e.floor_plane_[3])};
  std::vector<float> top(static_cast<std::size_t>(columns) * rows, 0.0f);
  for (const auto& p : cloud) {
    const Eigen::Vector2d d = Eigen::Vector2d(p.x, p.y) - origin;
    const int c = std::clamp(static_cast<int>((u.dot(d) - low.x()) / cell), 0, columns - 1);
    const int r = std::clamp(static_cast<int>((v.dot(d) - low.y()) / cell), 0, rows - 1);
    float& h = top[static_cast<std::size_t>(r) * columns + c];
    h = std::max(h, static_cast<float>(floor.height(p)));
  }
  double weighted = 0.0, across = 0.0, volume = 0.0;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double h = top[static_cast<std::size_t>(r) * columns + c];
      weighted += (low.x() + (c + 0.5) * cell) * h;
      across += (low.y() + (r + 0.5) * cell) * h;
      volume += h;
    }
  if (!(volume > 0.0)) return rect;
  const double offset = across / volume;
  const double share = std::fabs(offset) / std::max(extent.y(), cell);
  const double weight = std::clamp((share - kAcrossFrom) / (kAcrossFull - kAcrossFrom), 0.0, 1.0);
  return (origin + (weighted / volume) * u + weight * offset * v).cast<float>();
}

}  // namespace litterpose::robust
