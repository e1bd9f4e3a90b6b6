// Cloud preparation: height measurement, removal of what lies below the object, and the
// fallback to the untouched cloud when too little would be left.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include <pcl/common/io.h>
#include <pcl/common/transforms.h>

#include "internal/shape_passes.h"
#include "internal/console.h"
#include "internal/preparation.h"
#include "internal/robust_preparation.h"
#include "litterpose.h"

namespace {

using litterpose::console::line;

// Fewer points than this after filtering and the shape analysis gets the entry cloud.
constexpr std::size_t kMinPreparedPoints = 100;
// Band 2 keeps this margin above the lowest point for the pass-through.
constexpr float kBand2PassMargin = 0.012f;
// Points higher than this (metres, base frame) are never part of an object to pick up.
constexpr float kPassUpperLimit = 1.0f;
constexpr double kPi = 3.141592653589793;

bool is_finite(const pcl::PointXYZ& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

struct Plane {
  pcl::PointXYZ point;
  Eigen::Vector3f direction;  // towards the side that is removed
};

// The bottom cut: through the point nearest to the base axis at the cut height, tilted
// so that it rises by tan(angle) per metre towards -x.
Plane bottom_plane(const pcl::PointXYZ& nearest, float cut_height, float angle_deg) {
  Plane plane{nearest, Eigen::Vector3f::Zero()};
  plane.point.z = cut_height;
  const double angle = angle_deg * kPi / 180.0;
  plane.direction = Eigen::Vector3f(-static_cast<float>(std::sin(angle)), 0.0f,
                                    -static_cast<float>(std::cos(angle)));
  return plane;
}

// Appends to a new cloud, in order, the points of `in` that do not lie beyond the plane.
void keep_behind(const GrabPoseEstimate::Cloud& in, const Plane& plane,
                 GrabPoseEstimate::Cloud& kept) {
  const pcl::PointXYZ& p = plane.point;
  const Eigen::Vector3f& n = plane.direction;
  kept.points.reserve(in.size());
  bool all_finite = true;
  for (const auto& q : in.points) {
    const float dx = q.x - p.x;
    const float dy = q.y - p.y;
    const float dz = q.z - p.z;
    const float s = (dx * n.x() + dy * n.y()) + dz * n.z();
    // Written as "not beyond" so that a point whose s is not a number is kept.
    if (!(s > 0.0f)) {
      kept.points.push_back(q);
      all_finite = all_finite && is_finite(q);
    }
  }
  if (!kept.points.empty()) {
    kept.width = static_cast<std::uint32_t>(kept.points.size());
    kept.height = 1;
  }
  // A kept point with a non-finite coordinate must not be hidden behind a dense flag.
  kept.is_dense = all_finite;
}

// One pass over the cloud: the lowest and highest z of the points with all coordinates
// finite, whatever the cloud's is_dense flag claims (NaN for both when there is no such
// point, so that an empty cloud selects no height band and leaves pass_ajust_value_ alone),
// and the point nearest to the base axis, which anchors the bottom cut.
struct Measurement {
  float lowest_z;
  float highest_z;
  pcl::PointXYZ nearest;
};

Measurement measure(const GrabPoseEstimate::Cloud& cloud) {
  float lowest = std::numeric_limits<float>::max();
  float highest = std::numeric_limits<float>::lowest();
  bool any = false;
  pcl::PointXYZ nearest(0.0f, 0.0f, 0.0f);
  float best = std::numeric_limits<float>::max();
  for (const auto& p : cloud.points) {
    const float r = p.x * p.x + p.y * p.y;
    if (r < best) {
      best = r;
      nearest = p;
    }
    if (!is_finite(p)) continue;
    any = true;
    lowest = std::min(lowest, p.z);
    highest = std::max(highest, p.z);
  }
  if (!any) lowest = highest = std::nanf("");
  return {lowest, highest, nearest};
}

// Keeps, in order and in place, the points that lie behind the bottom cut (when there is
// one) and pass the z range of the pass-through: all coordinates finite and z from z_min to
// z_max inclusive. When fewer than kMinPreparedPoints would be left, the cloud is left as
// it was and false is returned. The layout of the result is the pass-through's: a cloud
// of which every point passes is kept as it is; otherwise it becomes unorganised, and a
// cut cloud takes the fresh header and dense flag of the intermediate cloud the cut makes.
// Each kept point is also handed to `sums`, when given.
bool keep_prepared_points(GrabPoseEstimate::Cloud& cloud, const Plane* cut, float z_min,
                          float z_max, litterpose::shape::CloudSums* sums) {
  auto& points = cloud.points;
  const std::size_t n = points.size();
  // The front slots are overwritten first; with too few points kept they are put back.
  pcl::PointXYZ front[kMinPreparedPoints - 1];
  const std::size_t saved = std::min(n, kMinPreparedPoints - 1);
  std::copy(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(saved), front);

  std::size_t behind = 0;  // points not removed by the cut
  bool behind_finite = true;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ q = points[i];
    if (cut != nullptr) {
      const float s = ((q.x - cut->point.x) * cut->direction.x() +
                       (q.y - cut->point.y) * cut->direction.y()) +
                      (q.z - cut->point.z) * cut->direction.z();
      if (s > 0.0f) continue;  // a point whose s is not a number stays
      ++behind;
      behind_finite = behind_finite && is_finite(q);
    }
    if (!is_finite(q) || q.z < z_min || q.z > z_max) continue;
    points[kept++] = q;
    if (sums != nullptr) sums->add(q);
  }
  if (kept < kMinPreparedPoints) {
    std::copy(front, front + std::min(kept, saved), points.begin());
    return false;
  }
  const std::size_t source_size = cut != nullptr ? behind : n;
  if (cut == nullptr && kept == source_size) return true;  // nothing removed
  points.resize(kept);
  cloud.width = static_cast<std::uint32_t>(kept);
  cloud.height = 1;
  if (cut != nullptr) {
    cloud.is_dense = behind_finite;
    cloud.header = pcl::PCLHeader();
    cloud.sensor_origin_ = Eigen::Vector4f::Zero();
    cloud.sensor_orientation_ = Eigen::Quaternionf::Identity();
  }
  return true;
}

}  // namespace

// A null input or output is no cloud: nothing is measured, printed or changed.
void GrabPoseEstimate::PclProcessFunc(CloudPtr& input, CloudPtr& output) {
  litterpose::preparation::prepare(*this, input, output, nullptr, kMinPreparedPoints);
}

namespace litterpose::preparation {

Prepared prepare(GrabPoseEstimate& e, GrabPoseEstimate::CloudPtr& input,
                 GrabPoseEstimate::CloudPtr& output, shape::CloudSums* sums,
                 std::size_t min_points) {
  if (e.robust_preparation_.enable) return robust::prepare(e, input, output, sums, min_points);
  Prepared prepared;
  const auto start = console::Clock::now();
  if (!input || !output) return prepared;
  e.floor_plane_ = Eigen::Vector4f(0.0f, 0.0f, 1.0f, e.base_height_);
  e.floor_fitted_ = false;
  const bool in_place = input.get() == output.get();

  const Measurement m = measure(*output);
  e.trash_lowest_z_ = m.lowest_z;
  e.trash_highest_z_ = m.highest_z;
  e.trash_height_ = e.trash_highest_z_ - e.trash_lowest_z_;
  line(e, MAGENTA_BOLD, "trash_lowest_z_: ", e.trash_lowest_z_);
  line(e, MAGENTA_BOLD, "trash_highest_z_: ", e.trash_highest_z_);
  line(e, MAGENTA_BOLD, "trash_height_:", e.trash_height_);

  if (e.is_on_floor_) {
    e.trash_lowest_z_ = -e.base_height_;
    line(e, MAGENTA_BOLD, "is_on_floor_ !", "  ", "trash_lowest_z_: ", e.trash_lowest_z_);
  }

  // The bottom cut and the pass-through run as one filter on the output; with too few
  // points left it changes nothing, which is the fallback to the entry cloud.
  Plane cut;
  bool cutting = false;
  if (e.trash_height_ < e.remove_bottom_height_threshold_1_) {
    line(e, YELLOW_BOLD,
         "(trash_highest_z_ - trash_lowest_z_) < remove_bottom_height_threshold_1_");
    e.pass_ajust_value_ = 0.0f;
  } else if (e.trash_height_ < e.remove_bottom_height_threshold_2_) {
    line(e, YELLOW_BOLD,
         "(trash_highest_z_ - trash_lowest_z_) < remove_bottom_height_threshold_2_");
    e.pass_ajust_value_ = kBand2PassMargin;
  } else if (e.trash_height_ < e.remove_bottom_height_threshold_3_) {
    line(e, YELLOW_BOLD,
         "(trash_highest_z_ - trash_lowest_z_) < remove_bottom_height_threshold_3_");
  } else if (e.trash_height_ > e.remove_bottom_height_threshold_3_) {
    line(e, YELLOW_BOLD, "trash_height_ > remove_bottom_height_threshold_3_");
    cut = bottom_plane(m.nearest, e.trash_lowest_z_, e.remove_cloud_angle_);
    cutting = true;
  }

  const float z_min = e.trash_lowest_z_ + e.pass_ajust_value_;
  const bool filtered =
      keep_prepared_points(*output, cutting ? &cut : nullptr, z_min, kPassUpperLimit, sums);
  if (!filtered) {
    line(e, YELLOW_BOLD, "去z坐标 ", z_min, " 以下点云后数量太少-------------");
    if (!in_place) pcl::copyPointCloud(*input, *output);
  }

  line(e, RED_BOLD, "PclProcessFunc cost ", console::cost_ms(start), " ms");
  prepared.summed = filtered;
  return prepared;
}

float floorBelow(const GrabPoseEstimate& e, float x, float y) {
  if (!e.floor_fitted_) return -e.base_height_;
  const Eigen::Vector4f& p = e.floor_plane_;
  return -(p[0] * x + p[1] * y + p[3]) / p[2];
}

}  // namespace litterpose::preparation

void GrabPoseEstimate::RemoveBottomCloud(CloudPtr& cloud, float cut_height, float angle_deg) {
  const Plane plane = bottom_plane(GetMinPointXY(cloud), cut_height, angle_deg);
  RemovePointsInDirection(cloud, plane.point, plane.direction);
}

void GrabPoseEstimate::RemovePointsInDirection(CloudPtr& cloud, const pcl::PointXYZ& plane_point,
                                               const Eigen::Matrix<float, 3, 1>& direction) {
  if (!cloud) return;
  Cloud kept;
  keep_behind(*cloud, Plane{plane_point, direction}, kept);
  cloud->swap(kept);
}

pcl::PointXYZ GrabPoseEstimate::GetMinPointXY(CloudPtr cloud) {
  pcl::PointXYZ nearest(0.0f, 0.0f, 0.0f);
  if (!cloud) return nearest;
  float best = std::numeric_limits<float>::max();
  for (const auto& p : cloud->points) {
    const float r = p.x * p.x + p.y * p.y;
    if (r < best) {
      best = r;
      nearest = p;
    }
  }
  return nearest;
}

pcl::PointXYZ GrabPoseEstimate::GetMaxPointXY(CloudPtr cloud) {
  pcl::PointXYZ farthest(0.0f, 0.0f, 0.0f);
  if (!cloud) return farthest;
  float best = 0.0f;
  for (const auto& p : cloud->points) {
    const float r = p.x * p.x + p.y * p.y;
    if (r > best) {
      best = r;
      farthest = p;
    }
  }
  return farthest;
}

// A null output receives a new cloud; a null input leaves the output as it is.
void GrabPoseEstimate::PclTransform(CloudPtr& input, CloudPtr& output,
                                    Eigen::Matrix<float, 4, 4> transform) {
  if (!input) return;
  if (!output) output = std::make_shared<Cloud>();
  pcl::transformPointCloud(*input, *output, transform, true);
}
