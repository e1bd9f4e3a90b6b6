// Points read where they lie (litterpose::cloudFromPoints) against PclTransform of the same
// points as a cloud.
#include <gtest/gtest.h>
#include <litterpose.h>
#include <litterpose_points.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "support/clouds.h"
#include "support/estimator.h"

namespace {

using litterpose::PointsView;
using Cloud = GrabPoseEstimate::Cloud;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Some object points, a non-number and an infinity among them.
Cloud samplePoints() {
  Cloud cloud = *clouds::lying_rod(clouds::at_bearing(0.4f, 15.0f), 20.0f, 0.2f, 0.03f, 50);
  cloud[7] = pcl::PointXYZ(kNaN, 0.1f, 0.2f);
  cloud[31] = pcl::PointXYZ(0.3f, -kInf, 0.2f);
  cloud.is_dense = false;
  return cloud;
}

// The points in memory as a layout stores them: its scalar type, points in rows or in
// columns, forwards or backwards, with padding between points.
struct Layout {
  const char* name;
  PointsView::Scalar scalar;
  bool columns;       // x of every point, then y of every point, then z
  bool backwards;     // the view starts at the last point and steps back
  std::size_t spare;  // unused scalars after each point's three (rows only)
};

class Stored {
public:
  Stored(const Cloud& cloud, const Layout& layout) {
    const std::size_t n = cloud.size(), size = layout.scalar == PointsView::Scalar::float64 ? 8 : 4;
    const std::size_t per_point = layout.columns ? 3 : 3 + layout.spare;
    bytes_.assign(n * per_point * size, 0xee);
    view_ = {bytes_.data(), n, layout.scalar,
             static_cast<std::ptrdiff_t>((layout.columns ? 1 : per_point) * size),
             static_cast<std::ptrdiff_t>((layout.columns ? n : 1) * size)};
    for (std::size_t i = 0; i < n; ++i)
      for (int k = 0; k < 3; ++k) {
        const std::size_t slot = layout.backwards ? n - 1 - i : i;
        std::uint8_t* at = bytes_.data() + slot * view_.point_stride + k * view_.coordinate_stride;
        const double d = cloud[i].data[k];
        if (size == 8) std::memcpy(at, &d, 8);
        else std::memcpy(at, &cloud[i].data[k], 4);
      }
    if (layout.backwards) {
      view_.data = bytes_.data() + (n - 1) * view_.point_stride;
      view_.point_stride = -view_.point_stride;
    }
  }
  const PointsView& view() const { return view_; }

private:
  std::vector<std::uint8_t> bytes_;
  PointsView view_;
};

const Layout kLayouts[] = {
    {"float rows", PointsView::Scalar::float32, false, false, 0},
    {"double rows", PointsView::Scalar::float64, false, false, 0},
    {"float columns", PointsView::Scalar::float32, true, false, 0},
    {"double columns", PointsView::Scalar::float64, true, false, 0},
    {"float rows backwards", PointsView::Scalar::float32, false, true, 0},
    {"double rows padded", PointsView::Scalar::float64, false, false, 5},
    {"float columns backwards", PointsView::Scalar::float32, true, true, 0},
};

bool sameBits(const pcl::PointXYZ& a, const pcl::PointXYZ& b) {
  return std::memcmp(a.data, b.data, sizeof a.data) == 0;
}

TEST(CloudFromPoints, EveryLayoutGivesPclTransformsCloudToTheBit) {
  const Cloud source = samplePoints();
  const auto estimator = support::make_estimator();
  auto input = std::make_shared<Cloud>(source);
  auto expected = std::make_shared<Cloud>();
  estimator->PclTransform(input, expected, estimator->camera_extrinsic_);
  for (const Layout& layout : kLayouts) {
    const Stored stored(source, layout);
    for (const bool transformed : {true, false}) {
      Cloud cloud;
      litterpose::cloudFromPoints(stored.view(),
                                  transformed ? &estimator->camera_extrinsic_ : nullptr, cloud);
      const Cloud& reference = transformed ? *expected : source;
      ASSERT_EQ(cloud.size(), source.size()) << layout.name;
      EXPECT_EQ(cloud.width, source.size());
      EXPECT_EQ(cloud.height, 1u);
      EXPECT_FALSE(cloud.is_dense) << layout.name;
      for (std::size_t i = 0; i < cloud.size(); ++i)
        ASSERT_TRUE(sameBits(cloud[i], reference[i]))
            << layout.name << (transformed ? ", transformed" : "") << ", point " << i;
    }
  }
}

TEST(CloudFromPoints, DensityStorageReuseAndDoublesBeyondFloat) {
  const double rows[][3] = {{1e300, -1e300, 0.25}, {0.1, 0.2, 0.3}};
  PointsView view{rows, 2, PointsView::Scalar::float64, 3 * sizeof(double), sizeof(double)};
  Cloud cloud = samplePoints();
  litterpose::cloudFromPoints(view, nullptr, cloud);
  ASSERT_EQ(cloud.size(), 2u);
  EXPECT_EQ(cloud[0].x, kInf);
  EXPECT_EQ(cloud[0].y, -kInf);
  EXPECT_EQ(cloud[1].z, 0.3f);
  EXPECT_FALSE(cloud.is_dense);
  view.data = rows[1];
  view.count = 1;
  litterpose::cloudFromPoints(view, nullptr, cloud);
  EXPECT_TRUE(cloud.is_dense);
  // Finite points that a transform holding a non-number makes non-finite.
  Eigen::Matrix4f broken = Eigen::Matrix4f::Identity();
  broken(0, 3) = std::numeric_limits<float>::quiet_NaN();
  litterpose::cloudFromPoints(view, &broken, cloud);
  EXPECT_TRUE(std::isnan(cloud[0].x));
  EXPECT_FALSE(cloud.is_dense);
  view.count = 0;
  litterpose::cloudFromPoints(view, nullptr, cloud);
  EXPECT_TRUE(cloud.empty());
}

}  // namespace
