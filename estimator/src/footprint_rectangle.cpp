// The minimum-area rectangle of a prepared object cloud's footprint seen from above and the
// direction of its long side (MinAreaRectFunc).
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "internal/console.h"
#include "internal/shape_analysis.h"
#include "litterpose.h"

namespace litterpose::shape {
namespace {

using console::line;
using console::reset;

// Direction reported for a footprint without a long side (all points on one vertical line).
const Eigen::Vector2f kDirectionOfPointFootprint(1.0f, 0.0f);

}  // namespace

void footprintSection(GrabPoseEstimate& e, CloudShape& shape) {
  line(e, PURPLE_BOLD, "---------------------------MinAreaRect------------------------------");
  // Only the points that can lie on the footprint's convex hull go to the rectangle: the
  // hull, and with it the rectangle, is that of every footprint point. Non-finite points
  // have no place in a footprint, and the hull's sorting is undefined on them.
  const std::vector<cv::Point2f>& footprint = shape.footprintHullCandidates();
  // An empty footprint gets the degenerate rectangle at the origin.
  const cv::RotatedRect rect = footprint.empty() ? cv::RotatedRect() : cv::minAreaRect(footprint);
  line(e, CYAN_BOLD, "Angle: ", rect.angle);
  rect.points(e.rect_points_);

  // Corner 1 - corner 0 runs along the height, corner 2 - corner 1 along the width.
  const cv::Point2f d = rect.size.width < rect.size.height ? e.rect_points_[1] - e.rect_points_[0]
                                                           : e.rect_points_[2] - e.rect_points_[1];
  const double dx = d.x, dy = d.y;
  const double length = std::sqrt(dx * dx + dy * dy);
  if (length > 0.0 && std::isfinite(length)) {
    e.rect_direction_ =
        Eigen::Vector2f(static_cast<float>(dx / length), static_cast<float>(dy / length));
  } else {
    e.rect_direction_ = kDirectionOfPointFootprint;
  }
  if (e.rect_direction_.x() < 0.0f) e.rect_direction_ = -e.rect_direction_;
  line(e, GREEN_BOLD, "Adjusted unit vector: (", e.rect_direction_.x(), ", ", e.rect_direction_.y(),
       ")");
  reset(e);
}

}  // namespace litterpose::shape

void GrabPoseEstimate::MinAreaRectFunc(const CloudPtr& cloud) {
  litterpose::shape::CloudShape analysis(litterpose::shape::pointsOf(cloud), litterpose::shape::CloudShape::kFootprint);
  litterpose::shape::footprintSection(*this, analysis);
}
