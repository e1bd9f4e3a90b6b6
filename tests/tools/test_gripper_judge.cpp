// The gripper judge of litterpose-eval against cases worked out by hand: boxes on a level
// floor (or one set higher than configured), a grasp from straight above at x = -0.4.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gripper_judge.h"
#include "support/estimator.h"

namespace {

constexpr double kFloor = -0.176;

// A box from y_low to y_high across the closing axis, 60 mm long, from the floor up to
// `height`, at x = -0.4.
capture_sim::Box box(double y_low, double y_high, double height) {
  return {{-0.4, (y_low + y_high) / 2, kFloor + height / 2}, 0.0,
          {0.03, (y_high - y_low) / 2, height / 2}};
}

struct Case {
  const char* what;
  std::vector<capture_sim::Box> boxes;
  double tcp_height;     // above the configured floor
  double floor_offset;   // the true floor above the configured one
  bool fits;
  bool collides;
  std::string judged;
};

TEST(GripperJudge, CasesWorkedOutByHand) {
  // The bundled configuration's gripper: opens 0.11 m, fingers 10 mm thick and 60 mm long,
  // 5 mm clearance, fingertips at the TCP, palm 50 mm high behind them.
  const litterpose_eval::GripperSize g = litterpose_eval::readGripper(support::default_config_path());
  ASSERT_DOUBLE_EQ(g.max_opening, 0.11);
  const Case cases[] = {
      {"as wide as the opening", {box(-0.055, 0.055, 0.04)}, 0.02, 0.0, true, false, "fits"},
      {"2 mm wider: the open fingers land on it", {box(-0.057, 0.057, 0.04)}, 0.02, 0.0, false,
       true, "too wide"},
      {"fingertips 3 mm into the floor", {}, -0.003, 0.0, true, true, "finger in the floor"},
      {"a floor 10 mm higher than configured", {}, 0.005, 0.01, true, true,
       "finger in the floor"},
      // Band [-0.01, 0.04]: fingers open to 0.09 m, the one at -y from -0.055 to -0.045,
      // on a neck beyond a 35 mm gap.
      {"a neck under a finger", {box(-0.01, 0.04, 0.04), box(-0.06, -0.045, 0.03)}, 0.02, 0.0,
       true, true, "finger in the object"},
      // A gap narrower than a finger with its clearance belongs to the band.
      {"a handle 15 mm off the body", {box(-0.02, 0.02, 0.04), box(0.035, 0.045, 0.04)}, 0.02,
       0.0, true, false, "fits"},
      // The palm begins 60 mm above the fingertips.
      {"a tall object reaching into the palm", {box(-0.02, 0.02, 0.15)}, 0.02, 0.0, true, true,
       "palm in the object"},
  };
  const Eigen::Matrix3d down = Eigen::AngleAxisd(M_PI, Eigen::Vector3d::UnitY()).toRotationMatrix();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    capture_sim::Scene scene;
    scene.object.boxes = c.boxes;
    scene.conditions.floor_offset = c.floor_offset;
    const auto j = litterpose_eval::judgeGripper(scene, kFloor, g,
                                                 {-0.4, 0.0, kFloor + c.tcp_height}, down);
    EXPECT_EQ(j.fits, c.fits);
    EXPECT_EQ(j.collides, c.collides);
    EXPECT_EQ(j.what, c.judged);
  }
}

}  // namespace
