// Randomised scenes: ground truth of each object, sizes within their class, placements
// judged by the caller's rule, and a set that is the same whatever its length.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

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
std::optional<capture_sim::Expected> byDistance(const capture_sim::GroundTruth& t) {
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
  for (const Litter kind : capture_sim::sceneClasses()) {
    SCOPED_TRACE(capture_sim::litterName(kind));
    for (int i = 0; i < 200; ++i) {
      const auto d = capture_sim::randomDimensions(kind, rng);
      EXPECT_GT(d.length, 0.0);
      EXPECT_GT(d.height, 0.0);
      if (kind == Litter::kCanStanding) {
        EXPECT_GT(d.height, 1.5 * d.width);
      } else {
        EXPECT_GE(d.length, 4.0 / 3.0 * d.width - 1e-12);
        EXPECT_LT(d.height, d.length);
      }
    }
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
    EXPECT_EQ(s.truth.kind, capture_sim::sceneClasses()[s.index % 7]);
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

TEST(SceneSet, NoClearPlaceIsAnError) {
  capture_sim::SceneSetOptions o;
  o.count = 1;
  const auto never = [](const capture_sim::GroundTruth&) -> std::optional<capture_sim::Expected> {
    return std::nullopt;
  };
  EXPECT_THROW(capture_sim::randomScenes(o, defaultCamera(), kFloor, never), std::runtime_error);
}

}  // namespace
