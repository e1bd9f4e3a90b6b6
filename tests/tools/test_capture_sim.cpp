// The simulated depth camera against the geometry it was given: what comes back, once
// brought into the base frame, must lie on the visible surfaces of the solids and on the
// floor around them, with the configured noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <pcl/common/transforms.h>
#include <pcl/io/ply_io.h>
#include <sys/stat.h>

#include "depth_camera.h"
#include "litter.h"
#include "support/estimator.h"
#include "support/run_program.h"

namespace {

using capture_sim::Box;
using capture_sim::CaptureOptions;
using capture_sim::Cylinder;
using capture_sim::Object;
using Cloud = pcl::PointCloud<pcl::PointXYZ>;

constexpr double kOnSurface = 1e-4;  // float storage of camera-frame points

class CaptureSim : public testing::Test {
protected:
  void SetUp() override {
    estimator_ = support::make_estimator();
    camera_.fx = estimator_->fx_;
    camera_.fy = estimator_->fy_;
    camera_.cx = estimator_->cx_;
    camera_.cy = estimator_->cy_;
    camera_.camera_to_base = estimator_->camera_extrinsic_.cast<double>();
    floor_z_ = -estimator_->base_height_;
  }

  Cloud toBase(const Cloud& camera_frame) const {
    Cloud base;
    pcl::transformPointCloud(camera_frame, base, estimator_->camera_extrinsic_);
    return base;
  }

  CaptureOptions noiseless() const {
    CaptureOptions o;
    o.floor_z = floor_z_;
    o.depth_noise_per_m2 = 0.0;
    o.outliers = 0;
    return o;
  }

  Eigen::Vector3d cameraOrigin() const { return camera_.camera_to_base.block<3, 1>(0, 3); }

  std::unique_ptr<GrabPoseEstimate> estimator_;
  capture_sim::Camera camera_;
  double floor_z_ = 0.0;
};

Eigen::Vector3d vec(const pcl::PointXYZ& p) { return {p.x, p.y, p.z}; }

// A carton on the floor, 0.40 m ahead and a little to +y, turned by 0.3 rad.
Box carton(double floor_z) {
  return {{-0.40, 0.05, floor_z + 0.03}, 0.3, {0.08, 0.05, 0.03}};
}

Eigen::Vector3d inBoxFrame(const Box& b, const Eigen::Vector3d& p) {
  return Eigen::AngleAxisd(-b.yaw, Eigen::Vector3d::UnitZ()) * (p - b.centre);
}

TEST_F(CaptureSim, NoiselessBoxPointsLieOnFacesTurnedToTheCamera) {
  const Box box = carton(floor_z_);
  const Object object{{box}, {}};
  const Cloud cloud = toBase(capture_sim::capture(camera_, object, noiseless()));

  int on_box = 0, on_floor = 0;
  for (const auto& point : cloud) {
    const Eigen::Vector3d p = vec(point);
    if (p.z() < floor_z_ + kOnSurface) {
      ++on_floor;
      EXPECT_NEAR(p.z(), floor_z_, kOnSurface);
      // Within the 2 cm margin around the footprint.
      const Eigen::Vector3d q = inBoxFrame(box, p);
      const double dx = std::max(std::abs(q.x()) - box.half_size.x(), 0.0);
      const double dy = std::max(std::abs(q.y()) - box.half_size.y(), 0.0);
      EXPECT_LE(std::hypot(dx, dy), 0.02 + kOnSurface);
      continue;
    }
    ++on_box;
    const Eigen::Vector3d q = inBoxFrame(box, p);
    // Inside the box, on one of its faces, and on one that looks towards the camera: the
    // far side and the bottom are hidden. (Points on an edge lie on two faces.)
    const Eigen::Vector3d to_camera = inBoxFrame(box, cameraOrigin()) - q;
    bool on_face = false, seen = false;
    for (int i = 0; i < 3; ++i) {
      ASSERT_LE(std::abs(q[i]), box.half_size[i] + kOnSurface);
      if (std::abs(std::abs(q[i]) - box.half_size[i]) < kOnSurface) {
        on_face = true;
        seen = seen || (q[i] > 0 ? to_camera[i] > 0 : to_camera[i] < 0);
      }
    }
    ASSERT_TRUE(on_face) << "point inside the box";
    EXPECT_TRUE(seen) << q.transpose();
  }
  EXPECT_GT(on_box, 1000);
  EXPECT_GT(on_floor, 100);
}

TEST_F(CaptureSim, NoisyBoxComesBackWithItsSizePlaceAndNoise) {
  const Box box = carton(floor_z_);
  CaptureOptions options = noiseless();
  options.depth_noise_per_m2 = 0.001;
  const Cloud camera_frame = capture_sim::capture(camera_, {{box}, {}}, options);
  const Cloud cloud = toBase(camera_frame);

  Eigen::Vector3d low = Eigen::Vector3d::Constant(1e9), high = -low;
  Eigen::Vector2d top_sum = Eigen::Vector2d::Zero();
  double top_residual2 = 0.0, top_expected2 = 0.0;
  int top = 0;
  const Eigen::Matrix3d rotation = camera_.camera_to_base.block<3, 3>(0, 0);
  for (std::size_t i = 0; i < cloud.size(); ++i) {
    const Eigen::Vector3d p = vec(cloud[i]);
    if (p.z() < floor_z_ + 0.005) continue;  // the floor, with its noise
    const Eigen::Vector3d q = inBoxFrame(box, p);
    low = low.cwiseMin(q);
    high = high.cwiseMax(q);
    // Top face: away from the side faces by more than the noise can move a point.
    if (std::abs(q.x()) < box.half_size.x() - 0.005 &&
        std::abs(q.y()) < box.half_size.y() - 0.005) {
      ++top;
      top_sum += q.head<2>();
      top_residual2 += std::pow(q.z() - box.half_size.z(), 2);
      // Depth noise sigma 0.001 z^2 along the pixel's ray, seen in the base frame's z.
      const Eigen::Vector3d unit_depth_ray = vec(camera_frame[i]) / camera_frame[i].z;
      const double depth = camera_frame[i].z;
      top_expected2 += std::pow(0.001 * depth * depth * (rotation * unit_depth_ray).z(), 2);
    }
  }
  // Extents: the full box within a pixel's footprint and the noise; at the bottom, the
  // front face reaches down to the cut that separated the floor.
  for (int k = 0; k < 3; ++k) {
    const double expected_low = k == 2 ? -box.half_size.z() + 0.005 : -box.half_size[k];
    EXPECT_NEAR(low[k], expected_low, 0.003) << "axis " << k;
    EXPECT_NEAR(high[k], box.half_size[k], 0.003) << "axis " << k;
  }
  ASSERT_GT(top, 1000);
  // The top face is seen whole: its points centre on the box's axis.
  EXPECT_NEAR(top_sum.x() / top, 0.0, 0.008);
  EXPECT_NEAR(top_sum.y() / top, 0.0, 0.008);
  // Its scatter about the true plane is the depth noise of the model.
  EXPECT_NEAR(std::sqrt(top_residual2 / top_expected2), 1.0, 0.1);
}

TEST_F(CaptureSim, StandingCanShowsItsSideAndTopButNotItsBottom) {
  const Cylinder can{{-0.35, -0.03, floor_z_ + 0.061}, Eigen::Vector3d::UnitZ(), 0.033, 0.061};
  const Cloud cloud = toBase(capture_sim::capture(camera_, {{}, {can}}, noiseless()));
  int side = 0, top = 0;
  for (const auto& point : cloud) {
    const Eigen::Vector3d p = vec(point);
    if (p.z() < floor_z_ + kOnSurface) continue;
    const double r = (p - can.centre).head<2>().norm();
    const double h = p.z() - can.centre.z();
    if (std::abs(h - can.half_length) < kOnSurface) {
      ++top;
      EXPECT_LE(r, can.radius + kOnSurface);
    } else {
      ++side;
      EXPECT_NEAR(r, can.radius, kOnSurface);
      EXPECT_LE(std::abs(h), can.half_length + kOnSurface);
      // Only the half of the mantle that faces the camera.
      EXPECT_GT((p - can.centre).head<2>().dot((cameraOrigin() - p).head<2>()), -kOnSurface);
    }
  }
  EXPECT_GT(top, 200);
  EXPECT_GT(side, 200);
}

TEST_F(CaptureSim, OutliersAreFewAndOffTheSurface) {
  const Box box = carton(floor_z_);
  CaptureOptions options = noiseless();
  options.outliers = 3;
  const Cloud cloud = toBase(capture_sim::capture(camera_, {{box}, {}}, options));
  int off = 0;
  for (const auto& point : cloud) {
    const Eigen::Vector3d p = vec(point);
    if (std::abs(p.z() - floor_z_) < kOnSurface) continue;
    const Eigen::Vector3d q = inBoxFrame(box, p);
    double inside = -1e9;  // signed distance to the box, >= 0 outside
    for (int i = 0; i < 3; ++i) inside = std::max(inside, std::abs(q[i]) - box.half_size[i]);
    bool on_face = std::abs(inside) < kOnSurface;
    if (!on_face) ++off;
  }
  EXPECT_GE(off, 1);
  EXPECT_LE(off, 3);
}

TEST_F(CaptureSim, SameSeedSameCloudOtherSeedOtherNoise) {
  CaptureOptions options;
  options.floor_z = floor_z_;
  const Object object{{carton(floor_z_)}, {}};
  const Cloud a = capture_sim::capture(camera_, object, options);
  const Cloud b = capture_sim::capture(camera_, object, options);
  options.seed += 1;
  const Cloud c = capture_sim::capture(camera_, object, options);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), c.size());
  int differ = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(vec(a[i]), vec(b[i]));
    differ += vec(a[i]) != vec(c[i]);
  }
  EXPECT_GT(differ, static_cast<int>(a.size()) / 2);
}

// --- Artefacts of real captures -----------------------------------------------------------

// Pixel of a camera-frame point (points lie on their pixel's ray through its centre).
std::pair<int, int> pixelOf(const capture_sim::Camera& c, const pcl::PointXYZ& p) {
  return {static_cast<int>(std::lround(c.fx * p.x / p.z + c.cx)),
          static_cast<int>(std::lround(c.fy * p.y / p.z + c.cy))};
}

class CaptureArtefacts : public CaptureSim {
protected:
  // The carton, noiseless, without the floor around its footprint.
  CaptureOptions bare() const {
    CaptureOptions o = noiseless();
    o.floor_margin = 0.0;
    return o;
  }
  Cloud carton_capture(const CaptureOptions& o) const {
    return capture_sim::capture(camera_, {{carton(floor_z_)}, {}}, o);
  }
  // Image of the pixels holding a point of the cloud.
  std::vector<bool> mask(const Cloud& cloud) const {
    std::vector<bool> m(static_cast<std::size_t>(camera_.width * camera_.height), false);
    for (const auto& p : cloud) {
      const auto [u, v] = pixelOf(camera_, p);
      m[static_cast<std::size_t>(v * camera_.width + u)] = true;
    }
    return m;
  }
  // Pixels from (u, v) to the nearest set pixel of the mask, searched up to `radius`.
  double pixelsToMask(const std::vector<bool>& m, int u, int v, int radius) const {
    double best = std::numeric_limits<double>::infinity();
    for (int dv = -radius; dv <= radius; ++dv)
      for (int du = -radius; du <= radius; ++du) {
        const int x = u + du, y = v + dv;
        if (x < 0 || y < 0 || x >= camera_.width || y >= camera_.height) continue;
        if (m[static_cast<std::size_t>(y * camera_.width + x)])
          best = std::min(best, std::hypot(du, dv));
      }
    return best;
  }
  double focal() const { return 0.5 * (camera_.fx + camera_.fy); }
};

// Every floor pixel within the band's width of the outline (metres across the ray at the
// floor's depth) is kept, and none beyond it; found here by a search over the image.
TEST_F(CaptureArtefacts, FloorBandCoversItsWidthAroundTheOutline) {
  CaptureOptions o = bare();
  const std::vector<bool> object = mask(carton_capture(o));  // without any floor
  o.band_width = 0.01;
  const std::vector<bool> kept = mask(carton_capture(o));

  int expected = 0, kept_floor = 0, widest_reached = 0;
  for (int v = 0; v < camera_.height; ++v) {
    for (int u = 0; u < camera_.width; ++u) {
      const auto ray = camera_.pixelRay(u, v);
      if (object[static_cast<std::size_t>(v * camera_.width + u)] || ray.direction.z() >= 0)
        continue;
      const double depth = (floor_z_ - ray.origin.z()) / ray.direction.z();  // optical-axis depth
      const double reach = o.band_width * focal() / depth;
      const double away = pixelsToMask(object, u, v, static_cast<int>(reach) + 1);
      const bool in_band = away <= reach;
      const bool is_kept = kept[static_cast<std::size_t>(v * camera_.width + u)];
      expected += in_band;
      kept_floor += is_kept;
      EXPECT_EQ(is_kept, in_band) << "pixel " << u << ", " << v;
      if (is_kept && away * depth / focal() > 0.8 * o.band_width) ++widest_reached;
    }
  }
  EXPECT_GT(expected, 1000);
  EXPECT_EQ(kept_floor, expected);
  EXPECT_GT(widest_reached, 100);
}

TEST_F(CaptureArtefacts, FloorBandDensityKeepsThatShareOfItsPixels) {
  CaptureOptions full = bare();
  const std::size_t object = carton_capture(full).size();
  full.band_width = 0.015;
  CaptureOptions half = full;
  half.band_density = 0.5;
  const std::size_t band = carton_capture(full).size() - object;
  const std::size_t kept = carton_capture(half).size() - object;
  ASSERT_GT(band, 1500u);
  EXPECT_NEAR(static_cast<double>(kept) / band, 0.5, 0.04);
}

// A share of the points moved along their rays, the others untouched to the bit.
TEST_F(CaptureArtefacts, OutlierShareMovesThatManyPointsAlongTheirRays) {
  CaptureOptions o = noiseless();
  const Cloud clean = carton_capture(o);
  o.outlier_share = 0.02;
  o.outlier_sigma = 0.05;
  const Cloud noisy = carton_capture(o);
  ASSERT_EQ(clean.size(), noisy.size());
  std::size_t moved = 0, below_floor = 0;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    if (vec(clean[i]) == vec(noisy[i])) continue;
    ++moved;
    EXPECT_NEAR(noisy[i].x / noisy[i].z, clean[i].x / clean[i].z, 1e-5);
    EXPECT_NEAR(noisy[i].y / noisy[i].z, clean[i].y / clean[i].z, 1e-5);
    Cloud one;
    one.push_back(noisy[i]);
    below_floor += toBase(one)[0].z < floor_z_ - 0.005;
  }
  EXPECT_EQ(moved, static_cast<std::size_t>(std::lround(0.02 * clean.size())));
  EXPECT_GT(below_floor, 0u);
}

// Mixed pixels: object pixels at an edge towards the floor, pushed along their ray towards
// the floor behind them, never past it.
TEST_F(CaptureArtefacts, MixedPixelsLieBetweenTheObjectEdgeAndTheFloorBehind) {
  CaptureOptions o = noiseless();
  const Cloud clean = carton_capture(o);
  o.mixed_pixel_share = 1.0;
  const Cloud mixed = carton_capture(o);
  ASSERT_EQ(clean.size(), mixed.size());
  CaptureOptions bare_object = bare();
  const std::vector<bool> object = mask(carton_capture(bare_object));
  std::size_t changed = 0;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    if (vec(clean[i]) == vec(mixed[i])) continue;
    ++changed;
    const auto [u, v] = pixelOf(camera_, clean[i]);
    EXPECT_EQ(pixelsToMask(object, u, v, 0), 0.0);
    // An edge pixel: a neighbour is not the object.
    bool edge = false;
    for (const auto& [du, dv] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
      edge = edge || !object[static_cast<std::size_t>((v + dv) * camera_.width + u + du)];
    EXPECT_TRUE(edge) << u << ", " << v;
    const auto ray = camera_.pixelRay(u, v);
    const double floor_depth = (floor_z_ - ray.origin.z()) / ray.direction.z();
    EXPECT_GT(mixed[i].z, clean[i].z);
    EXPECT_LE(mixed[i].z, floor_depth + 1e-4);
  }
  EXPECT_GT(changed, 50u);
}

TEST_F(CaptureArtefacts, DepthStepRoundsEveryDepth) {
  CaptureOptions o;
  o.floor_z = floor_z_;
  o.depth_step = 0.002;
  for (const auto& p : carton_capture(o)) {
    const double steps = p.z / o.depth_step;
    ASSERT_NEAR(steps, std::round(steps), 1e-3) << p.z;
  }
}

// A partial mask drops that share of the object's pixels, all on one side of a line.
TEST_F(CaptureArtefacts, PartialMaskDropsAShareOfTheObjectOnOneSide) {
  CaptureOptions o = bare();
  const Cloud whole = carton_capture(o);
  o.mask_drop_share = 0.25;
  const Cloud partial = carton_capture(o);
  std::vector<std::pair<double, double>> kept, dropped;
  std::set<std::pair<int, int>> remaining;
  for (const auto& p : partial) remaining.insert(pixelOf(camera_, p));
  for (const auto& p : whole) {
    const auto px = pixelOf(camera_, p);
    (remaining.count(px) ? kept : dropped).push_back({double(px.first), double(px.second)});
  }
  EXPECT_EQ(dropped.size(), static_cast<std::size_t>(std::lround(0.25 * whole.size())));
  EXPECT_EQ(partial.size() + dropped.size(), whole.size());
  bool separable = false;
  for (int step = 0; step < 720 && !separable; ++step) {
    const double a = step * M_PI / 360.0;
    double last_dropped = -1e9, first_kept = 1e9;
    for (const auto& [u, v] : dropped)
      last_dropped = std::max(last_dropped, u * std::cos(a) + v * std::sin(a));
    for (const auto& [u, v] : kept)
      first_kept = std::min(first_kept, u * std::cos(a) + v * std::sin(a));
    separable = last_dropped <= first_kept + 1.0;
  }
  EXPECT_TRUE(separable);
}

// --- Floors that are not flat, and solids with an inside ----------------------------------

// A ray meets a rough floor where its relief is, and not before: each ray is walked in
// half-millimetre steps up to the hit.
TEST_F(CaptureSim, RaysMeetARoughFloorFirstWhereItsReliefIs) {
  const auto wave = [](double amplitude, double wavelength, double direction) {
    return capture_sim::Roughness::Wave{
        2 * M_PI / wavelength * Eigen::Vector2d(std::cos(direction), std::sin(direction)),
        amplitude, direction};
  };
  const std::pair<const char*, capture_sim::Roughness> reliefs[] = {
      {"flat", {}},
      {"bumpy", {{wave(0.004, 0.08, 1.0), wave(0.006, 0.2, -0.5)}}},
      {"steep", {{wave(0.01, 0.08, 2.0)}}},
  };
  for (const auto& [what, relief] : reliefs) {
    SCOPED_TRACE(what);
    int hits = 0;
    for (int v = 0; v < camera_.height; v += 40) {
      for (int u = 0; u < camera_.width; u += 40) {
        const auto ray = camera_.pixelRay(u, v);
        const auto t = capture_sim::floorHit(ray, floor_z_, relief);
        ASSERT_EQ(t.has_value(), ray.direction.z() < 0.0) << u << ", " << v;
        if (!t) continue;
        ++hits;
        const auto above = [&, &relief = relief](double s) {
          const Eigen::Vector3d p = ray.origin + s * ray.direction;
          return p.z() - floor_z_ - relief.height(p.head<2>());
        };
        EXPECT_NEAR(above(*t), 0.0, relief.waves.empty() ? 1e-15 : 1e-7) << u << ", " << v;
        const double step = 0.0005 / ray.direction.norm();
        // A crest grazed by a hair's breadth may be passed.
        for (double s = 0.0; s < *t - step; s += step)
          ASSERT_GT(above(s), -0.005 * relief.amplitude()) << u << ", " << v;
      }
    }
    EXPECT_GT(hits, 100);
  }
}

// Distance of a point from the surface of a solid, by its own geometry: a box; a capped
// cylinder; a cup, the cylinder with its inside, open at the top, taken out.
double fromSurface(const Object& o, const Eigen::Vector3d& p) {
  double best = std::numeric_limits<double>::infinity();
  for (const Box& b : o.boxes) {
    const Eigen::Vector3d q = inBoxFrame(b, p);
    best = std::min(best, std::abs((q.cwiseAbs() - b.half_size).maxCoeff()));
  }
  for (const Cylinder& c : o.cylinders) {
    const double along = (p - c.centre).dot(c.axis);
    const double across = (p - c.centre - along * c.axis).norm();
    double solid = std::max(std::abs(along) - c.half_length, across - c.radius);
    if (c.wall > 0) {
      const double inside = std::max(across - (c.radius - c.wall), -c.half_length + c.wall - along);
      solid = std::max(solid, -inside);
    }
    best = std::min(best, std::abs(solid));
  }
  return best;
}

TEST_F(CaptureSim, SmallTallAndOpenSolidsShowTheirVisibleSurfacesOnly) {
  using capture_sim::Litter;
  const std::pair<Litter, capture_sim::Placement> cases[] = {
      {Litter::kCupStanding, {0.6, 5.0, 0.0}},   {Litter::kCartonStanding, {0.6, -15.0, 35.0}},
      {Litter::kBottleCap, {0.35, 10.0, 0.0}},   {Litter::kTunaCan, {0.45, -20.0, 0.0}},
      {Litter::kCigaretteButt, {0.3, 0.0, 70.0}},
  };
  for (const auto& [kind, at] : cases) {
    SCOPED_TRACE(static_cast<int>(kind));
    const Object object = capture_sim::makeLitter(kind, at, floor_z_);
    const CaptureOptions options = noiseless();
    int on_object = 0, inside = 0;
    for (const auto& point : toBase(capture_sim::capture(camera_, object, options))) {
      const Eigen::Vector3d p = vec(point);
      if (fromSurface(object, p) > kOnSurface) {
        ASSERT_NEAR(p.z(), floor_z_, kOnSurface) << p.transpose();
        continue;
      }
      ++on_object;
      for (const Cylinder& c : object.cylinders) {
        const double along = (p - c.centre).dot(c.axis);
        inside += c.wall > 0 && along < c.half_length - 0.001 &&
                  (p - c.centre - along * c.axis).norm() < c.radius - c.wall + kOnSurface;
      }
    }
    EXPECT_GT(on_object, kind == Litter::kCigaretteButt ? 20 : 100);
    // Points on the object's bottom edge lie on the floor too.
    EXPECT_NEAR(on_object, capture_sim::objectPoints(camera_, object, options), on_object / 100);
    // Through a cup's open top the camera sees its inside.
    EXPECT_EQ(inside > 50, kind == Litter::kCupStanding) << inside;
  }
}

// "<what>_<case>_<distance>m_<bearing>deg.ply" -> distance and bearing; false for other names.
bool namedPlace(const std::string& name, double& distance, double& bearing) {
  const std::size_t deg = name.rfind("deg.ply");
  const std::size_t bearing_at = name.rfind("m_", deg);
  const std::size_t distance_at = name.rfind('_', bearing_at);
  if (deg == std::string::npos || bearing_at == std::string::npos ||
      distance_at == std::string::npos)
    return false;
  distance = std::stod(name.substr(distance_at + 1, bearing_at - distance_at - 1));
  bearing = std::stod(name.substr(bearing_at + 2, deg - bearing_at - 2));
  return true;
}

// The clouds in data/ are what the simulator makes of its catalogue, and each name says
// where its object lies.
TEST_F(CaptureSim, BundledCloudsMatchTheCatalogueAndTheirNames) {
  const auto& captures = capture_sim::sampleCaptures();
  ASSERT_GE(captures.size(), 10u);
  for (std::size_t i = 0; i < captures.size(); ++i) {
    const auto& c = captures[i];
    SCOPED_TRACE(c.file_name);
    const std::string path = std::string(LITTERPOSE_SOURCE_DIR) + "/data/" + c.file_name;
    struct stat s;
    ASSERT_EQ(::stat(path.c_str(), &s), 0);
    EXPECT_LT(s.st_size, 1 << 20);

    Cloud stored;
    ASSERT_EQ(pcl::PLYReader().read(path, stored), 0);
    CaptureOptions options;
    options.floor_z = floor_z_;
    options.seed = capture_sim::kSampleSeed + static_cast<unsigned>(i);
    const Cloud fresh =
        capture_sim::capture(camera_, capture_sim::makeLitter(c.kind, c.at, floor_z_), options);
    ASSERT_EQ(stored.size(), fresh.size()) << "data/ is stale: scripts/make-sample-clouds.sh";
    for (std::size_t k = 0; k < stored.size(); k += 97) EXPECT_EQ(vec(stored[k]), vec(fresh[k]));

    double distance = 0, bearing = 0;
    if (c.file_name != "B001PA420231018-1[0].ply") {
      ASSERT_TRUE(namedPlace(c.file_name, distance, bearing));
      EXPECT_DOUBLE_EQ(distance, c.at.distance);
      EXPECT_DOUBLE_EQ(bearing, c.at.bearing_deg);
    }

    // The cloud, object and the floor around it, centres on the named place; the hidden
    // far side shifts it towards the camera, which stands behind the arm.
    Eigen::Vector2d sum = Eigen::Vector2d::Zero();
    for (const auto& point : toBase(stored)) sum += Eigen::Vector2d(point.x, point.y);
    const Eigen::Vector2d centre = sum / static_cast<double>(stored.size());
    EXPECT_LT(centre.norm(), c.at.distance + 0.01);
    EXPECT_GT(centre.norm(), c.at.distance - 0.05);
    EXPECT_NEAR(std::atan2(centre.y(), -centre.x()) * 180.0 / M_PI, c.at.bearing_deg, 3.0);
  }
}

// The program refuses what it cannot render, naming the argument, before it writes anything.
TEST(CaptureSimProgram, RefusesArgumentsItCannotUse) {
  const struct {
    const char* args;
    const char* words;
  } refused[] = {
      {"--seed x", "--seed needs a number from 0 to 4294967295, not 'x'"},
      {"--seed -1", "not '-1'"},
      {"--seed 4294967296", "not '4294967296'"},
      {"--band-width -1", "--band-width needs a number from 0 to 1, not '-1'"},
      {"--depth-noise nan", "not 'nan'"},
      {"--loud", "unexpected argument '--loud'"},
  };
  const std::string out = run_program::scratchPath("captures");
  for (const auto& r : refused) {
    SCOPED_TRACE(r.args);
    const auto o = run_program::run(run_program::program(LITTERPOSE_CAPTURE_SIM_PROGRAM) +
                                    " --config " + run_program::quote(support::default_config_path()) +
                                    " --out " + run_program::quote(out) + " " + r.args);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(r.words), std::string::npos) << o.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
