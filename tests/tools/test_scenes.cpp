// Randomised scenes: ground truth of each object, sizes within their class, placements
// judged by the caller's rule, a set that is the same whatever its length, and the field's
// floor and camera where its conditions put them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <pcl/common/transforms.h>

#include "scenes.h"
#include "support/estimator.h"

namespace {

using capture_sim::Litter;

constexpr double kFloor = -0.176;

capture_sim::Camera defaultCamera() {
  const auto e = support::make_estimator();
  capture_sim::Camera c;
  c.fx = e->fx_;
  c.fy = e->fy_;
  c.cx = e->cx_;
  c.cy = e->cy_;
  c.camera_to_base = e->camera_extrinsic_.cast<double>();
  return c;
}

// Every entry finds a grasp nearer than 0.45 m, none farther.
std::optional<capture_sim::Expected> byDistance(const capture_sim::GroundTruth& t,
                                                const capture_sim::PointCount& = {}) {
  const double d = t.centre.head<2>().norm();
  if (std::abs(d - 0.45) < 0.02) return std::nullopt;
  return d < 0.45 ? capture_sim::Expected{1, 1, 1} : capture_sim::Expected{302, 101, 1};
}

TEST(SceneTruth, CentreOfMassLongAxisAndHeight) {
  // A bottle body 0.2 m long, radius 0.03, with a neck of 0.04 m, radius 0.015, 0.4 m
  // straight ahead, turned 90 degrees: the neck moves the centre along +y.
  const capture_sim::Dimensions size{0.2, 0.06, 0.06, 0.04, 0.015};
  const auto t = capture_sim::groundTruth(Litter::kBottleLying, size, {0.4, 0.0, 90.0}, kFloor);
  const double body = 0.03 * 0.03 * 0.2, neck = 0.015 * 0.015 * 0.04;
  EXPECT_NEAR(t.centre.x(), -0.4, 1e-12);
  EXPECT_NEAR(t.centre.y(), neck * 0.12 / (body + neck), 1e-12);
  EXPECT_NEAR(t.centre.z(), kFloor + 0.03, 1e-12);
  EXPECT_NEAR(t.long_axis.x(), 0.0, 1e-12);
  EXPECT_NEAR(t.long_axis.y(), 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(t.height, 0.06);

  const auto can = capture_sim::groundTruth(Litter::kCanStanding, {0.066, 0.066, 0.12},
                                            {0.5, 30.0, 0.0}, kFloor);
  EXPECT_NEAR(can.centre.head<2>().norm(), 0.5, 1e-12);
  EXPECT_NEAR(std::atan2(can.centre.y(), -can.centre.x()), M_PI / 6, 1e-12);
  EXPECT_NEAR(can.centre.z(), kFloor + 0.06, 1e-12);
}

TEST(SceneTruth, SizesStayInTheirClassWithAClearLongSide) {
  std::mt19937 rng(3);
  for (const Litter kind : capture_sim::sceneClasses(capture_sim::Artefacts::field)) {
    SCOPED_TRACE(capture_sim::litterName(kind));
    for (int i = 0; i < 200; ++i) {
      const auto d = capture_sim::randomDimensions(kind, rng);
      EXPECT_GT(d.length, 0.0);
      EXPECT_GT(d.height, 0.0);
      if (!capture_sim::isLying(kind)) {  // tall: grasped from the side
        EXPECT_GT(d.height, 1.25 * d.length);
      } else if (capture_sim::hasLongAxis(kind)) {
        EXPECT_GE(d.length, 4.0 / 3.0 * d.width - 1e-12);
        EXPECT_LT(d.height, d.length);
      } else {  // round, on its face
        EXPECT_EQ(d.length, d.width);
        EXPECT_LT(d.height, 0.6 * d.length);
      }
    }
  }
}

// The solids of the classes a gripper may not fit, 0.4 m ahead and not turned (object x
// along base x): where their material is, and the gaps a finger may enter.
TEST(SceneSolids, HandleNeckAndGapsWhereTheSizesPutThem) {
  const auto cup = capture_sim::makeLitter(Litter::kCupWithHandle, {0.08, 0.08, 0.10, 0, 0, 0.02},
                                           {0.4, 0.0, 0.0}, kFloor);
  const auto bottle = capture_sim::makeLitter(
      Litter::kBottleFolded, {0.14, 0.066, 0.066, 0.07, 0.013, 0.015}, {0.4, 0.0, 0.0}, kFloor);
  const auto carton =
      capture_sim::makeLitter(Litter::kCartonWide, {0.24, 0.16, 0.05}, {0.4, 0.0, 0.0}, kFloor);
  // Handle: grip 7 mm thick from 60 mm off the cup's axis, 55 mm high about mid-height,
  // arms at its ends 24 mm above and below the middle.
  const struct {
    const char* what;
    const capture_sim::Object& object;
    Eigen::Vector3d at;  // relative to (-0.4, 0, floor)
    bool material;
  } cases[] = {
      {"handle's grip", cup, {0.0635, 0.0, 0.05}, true},
      {"between wall and grip", cup, {0.05, 0.0, 0.05}, false},
      {"handle's upper arm", cup, {0.05, 0.0, 0.074}, true},
      {"cup's hollow", cup, {0.0, 0.0, 0.05}, false},
      {"folded neck", bottle, {0.035, 0.061, 0.013}, true},
      {"between body and neck", bottle, {0.035, 0.0405, 0.013}, false},
      {"wide carton's edge across", carton, {0.0, 0.0795, 0.025}, true},
      {"beyond it", carton, {0.0, 0.0805, 0.025}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(capture_sim::inside(Eigen::Vector3d(-0.4, 0.0, kFloor) + c.at, c.object),
              c.material);
  }
}

TEST(SceneSet, ClassesInTurnPlacesJudgedAndInView) {
  capture_sim::SceneSetOptions o;
  o.count = 70;
  o.seed = 11;
  o.range = {0.1, 0.9, -60.0, 60.0};
  o.lying_reach = o.standing_reach = {0.2, 0.5, -40.0, 40.0};
  const auto camera = defaultCamera();
  const auto scenes = capture_sim::randomScenes(o, camera, kFloor, byDistance);
  ASSERT_EQ(scenes.size(), 70u);
  int found = 0;
  for (const auto& s : scenes) {
    EXPECT_EQ(s.truth.kind, capture_sim::sceneClasses(o.artefacts)[s.index % 7]);
    EXPECT_EQ(s.expected, *byDistance(s.truth));
    EXPECT_TRUE(capture_sim::inView(camera, s.object, s.options));
    EXPECT_GT(s.options.band_width, 0.0);  // realistic by default
    found += s.expected[1] == 1;
  }
  // Three in four scenes are to be grasped.
  EXPECT_NEAR(found / 70.0, o.reachable_share, 0.15);
}

TEST(SceneSet, ASmallerSetIsTheBeginningOfALargerOne) {
  capture_sim::SceneSetOptions o;
  o.artefacts = capture_sim::Artefacts::clean;
  o.range = {0.1, 0.9, -60.0, 60.0};
  o.lying_reach = o.standing_reach = {0.2, 0.5, -40.0, 40.0};
  const auto camera = defaultCamera();
  o.count = 9;
  const auto few = capture_sim::randomScenes(o, camera, kFloor, byDistance);
  o.count = 20;
  const auto more = capture_sim::randomScenes(o, camera, kFloor, byDistance);
  for (std::size_t i = 0; i < few.size(); ++i) {
    EXPECT_EQ(few[i].truth.centre, more[i].truth.centre);
    EXPECT_EQ(few[i].options.seed, more[i].options.seed);
    EXPECT_EQ(few[i].options.band_width, 0.0);  // clean: as the sample clouds
    EXPECT_EQ(few[i].options.outliers, 3);
  }
}

TEST(SceneSet, TheFieldDrawsItsConditionsPerScene) {
  capture_sim::SceneSetOptions o;
  o.count = 24;
  o.seed = 4;
  o.artefacts = capture_sim::Artefacts::field;
  o.range = {0.1, 0.9, -60.0, 60.0};
  o.lying_reach = o.standing_reach = {0.2, 0.5, -40.0, 40.0};
  const auto camera = defaultCamera();
  for (const auto& s : capture_sim::randomScenes(o, camera, kFloor, byDistance)) {
    EXPECT_EQ(s.truth.kind, capture_sim::sceneClasses(o.artefacts)[s.index % 15]);
    EXPECT_GT(s.conditions.slope_deg, 0.0);
    EXPECT_FALSE(s.options.roughness.waves.empty());
    EXPECT_TRUE(capture_sim::inView(s.camera, s.object, s.options));
    EXPECT_EQ(s.truth.object_points, capture_sim::objectPoints(s.camera, s.object, s.options));
  }

  // The other profiles see the configured floor through the configured camera itself.
  o.artefacts = capture_sim::Artefacts::realistic;
  for (const auto& s : capture_sim::randomScenes(o, camera, kFloor, byDistance)) {
    EXPECT_EQ(s.camera.camera_to_base, camera.camera_to_base);
    EXPECT_TRUE(s.options.roughness.waves.empty());
  }
}

// --- The field's floor and camera -------------------------------------------------------

struct ConditionCase {
  const char* what;
  capture_sim::Conditions conditions;
  bool rough;
};

// The floor's plane and the camera's true mounting built here independently: the plane
// through the point offset above the configured floor on the arm's axis, its normal tilted
// by the slope towards the downhill bearing; the mounting turned about the camera's origin,
// then moved.
TEST(SceneConditions, FloorObjectAndCameraAreWhereTheConditionsPutThem) {
  const Eigen::Vector3d shift(0.006, -0.005, 0.005);
  const Eigen::Vector3d turn = 1.5 * M_PI / 180.0 * Eigen::Vector3d(0.3, 1.0, -0.2).normalized();
  const ConditionCase cases[] = {
      {"level", {}, false},
      {"floor 3 cm higher", {0.03}, false},
      {"floor 3 cm lower", {-0.03}, false},
      {"falling 6 degrees ahead", {0.0, 6.0, 0.0}, false},
      {"falling 6 degrees to the right", {0.0, 6.0, 90.0}, false},
      {"rough", {}, true},
      {"camera off its calibration", {0.0, 0.0, 0.0, shift, turn}, false},
      {"everything at once", {-0.02, 5.0, -120.0, shift, turn}, true},
  };
  capture_sim::Roughness relief;
  relief.waves = {{2 * M_PI / 0.12 * Eigen::Vector2d(std::cos(0.3), std::sin(0.3)), 0.004, 1.0},
                  {2 * M_PI / 0.4 * Eigen::Vector2d(std::cos(2.0), std::sin(2.0)), 0.006, 0.2}};
  const auto configured = defaultCamera();
  const Litter kind = Litter::kCartonBox;
  const auto size = capture_sim::standardDimensions(kind);
  const capture_sim::Placement at{0.4, 10.0, 30.0};

  for (const ConditionCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto& k = c.conditions;
    capture_sim::CaptureOptions o;
    o.floor_z = kFloor;
    o.depth_noise_per_m2 = 0.0;
    o.outliers = 0;
    o.floor_margin = 0.05;
    if (c.rough) o.roughness = relief;

    const double rest = kFloor + capture_sim::restingLift(
                                     capture_sim::makeLitter(kind, size, at, kFloor), o.roughness);
    const auto object = capture_sim::makeLitter(kind, size, at, rest);
    const auto truth = capture_sim::inBaseFrame(capture_sim::groundTruth(kind, size, at, rest),
                                                object, k.levelToBase(kFloor));
    const auto camera = capture_sim::renderingCamera(configured, k, kFloor);
    const auto cloud = capture_sim::capture(camera, object, o);

    const double slope = k.slope_deg * M_PI / 180.0, downhill = k.downhill_deg * M_PI / 180.0;
    const Eigen::Vector3d normal =
        std::cos(slope) * Eigen::Vector3d::UnitZ() +
        std::sin(slope) * Eigen::Vector3d(-std::cos(downhill), std::sin(downhill), 0.0);
    const Eigen::Vector3d foot(0.0, 0.0, kFloor + k.floor_offset);
    // Base frame from the frame whose floor is level at kFloor, where the object was made.
    const Eigen::Isometry3d level_to_base =
        Eigen::Translation3d(foot) *
        Eigen::Quaterniond::FromTwoVectors(Eigen::Vector3d::UnitZ(), normal) *
        Eigen::Translation3d(-Eigen::Vector3d(0.0, 0.0, kFloor));
    Eigen::Matrix4d mounting = configured.camera_to_base;
    if (k.camera_turn.norm() > 0)
      mounting.block<3, 3>(0, 0) =
          Eigen::AngleAxisd(k.camera_turn.norm(), k.camera_turn.normalized()).toRotationMatrix() *
          configured.camera_to_base.block<3, 3>(0, 0);
    mounting.block<3, 1>(0, 3) += k.camera_shift;

    // Every point, brought into the base frame by the true mounting, lies on the floor or
    // on the object.
    const auto& box = object.boxes.at(0);
    int on_floor = 0, on_object = 0;
    for (const auto& point : cloud) {
      const Eigen::Vector3d p =
          (mounting * Eigen::Vector4d(point.x, point.y, point.z, 1.0)).head<3>();
      const Eigen::Vector3d l = level_to_base.inverse() * p;
      const Eigen::Vector3d b =
          Eigen::AngleAxisd(-box.yaw, Eigen::Vector3d::UnitZ()) * (l - box.centre);
      const double outside = (b.cwiseAbs() - box.half_size).maxCoeff();
      if (std::abs(outside) < 1e-4) {
        ++on_object;
      } else {
        ASSERT_NEAR(l.z(), kFloor + o.roughness.height(l.head<2>()), 1e-4) << p.transpose();
        ++on_floor;
      }
    }
    EXPECT_GT(on_object, 1000);
    EXPECT_GT(on_floor, 500);
    EXPECT_LE(std::abs(on_object - capture_sim::objectPoints(camera, object, o)), on_object / 100);

    // The object rests on the highest point of the floor under it.
    double highest = -1.0;
    for (double x = -box.half_size.x(); x <= box.half_size.x(); x += 0.002)
      for (double y = -box.half_size.y(); y <= box.half_size.y(); y += 0.002) {
        const Eigen::Vector2d xy =
            box.centre.head<2>() + Eigen::Rotation2Dd(box.yaw) * Eigen::Vector2d(x, y);
        highest = std::max(highest, o.roughness.height(xy));
      }
    EXPECT_NEAR(rest - kFloor, highest, 1e-3);

    // Its truth, in the base frame.
    EXPECT_LT((truth.centre - level_to_base * box.centre).norm(), 1e-9);
    double low = 1e9, high = -1e9;
    for (int corner = 0; corner < 8; ++corner) {
      const Eigen::Vector3d s((corner & 1) ? 1 : -1, (corner & 2) ? 1 : -1, (corner & 4) ? 1 : -1);
      const Eigen::Vector3d corner_at =
          box.centre + Eigen::AngleAxisd(box.yaw, Eigen::Vector3d::UnitZ()) *
                           s.cwiseProduct(box.half_size);
      const double z = (level_to_base * corner_at).z();
      low = std::min(low, z);
      high = std::max(high, z);
    }
    EXPECT_NEAR(truth.low_z, low, 1e-9);
    EXPECT_NEAR(truth.high_z, high, 1e-9);
    const Eigen::Vector3d axis = level_to_base.linear() *
                                 Eigen::AngleAxisd(box.yaw, Eigen::Vector3d::UnitZ()) *
                                 Eigen::Vector3d::UnitX();
    EXPECT_LT((truth.long_axis - axis.head<2>().normalized()).norm(), 1e-9);
  }
}

// A scene of a class that finds no clear place is left out; the others keep their numbers.
TEST(SceneSet, ASceneWithoutAClearPlaceIsLeftOut) {
  capture_sim::SceneSetOptions o;
  o.count = 14;
  o.range = {0.1, 0.9, -60.0, 60.0};
  o.lying_reach = o.standing_reach = {0.2, 0.5, -40.0, 40.0};
  const capture_sim::Litter nowhere = capture_sim::sceneClasses(o.artefacts)[1];
  const auto judge = [&](const capture_sim::GroundTruth& t,
                         const capture_sim::PointCount& points) -> std::optional<capture_sim::Expected> {
    if (t.kind == nowhere) return std::nullopt;
    return byDistance(t, points);
  };
  const auto scenes = capture_sim::randomScenes(o, defaultCamera(), kFloor, judge);
  std::vector<int> indices;
  for (const auto& s : scenes) indices.push_back(s.index);
  EXPECT_EQ(indices, (std::vector<int>{0, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13}));
}

TEST(SceneSet, NoClearPlaceIsAnError) {
  capture_sim::SceneSetOptions o;
  o.count = 1;
  const auto never = [](const capture_sim::GroundTruth&,
                        const capture_sim::PointCount&) -> std::optional<capture_sim::Expected> {
    return std::nullopt;
  };
  EXPECT_THROW(capture_sim::randomScenes(o, defaultCamera(), kFloor, never), std::runtime_error);
}

}  // namespace
