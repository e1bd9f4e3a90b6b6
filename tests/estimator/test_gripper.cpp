// The gripper model: the object's width against the opening, the fingers and the palm
// against the floor and the cloud, at the boundaries worked out by hand; and, end to end,
// an entry that refuses for each of the model's reasons.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "quorvin_kinematics.h"
#include "support/clouds.h"
#include "support/estimator.h"
#include "support/gripper.h"

namespace {

using litterpose::GripperVerdict;
using litterpose::Reason;

// Exact in binary: 0.109375 m with 0.0078125 m on each side fills the 0.125 m opening.
const support::GripperKeys kExact = {{"max_opening", 0.125}, {"clearance", 0.0078125}};
constexpr float kTcpZ = -0.15f;  // 26 mm above the floor
const Eigen::Vector3f kTcp(-0.4f, 0.0f, kTcpZ);

// Points at base x = -0.4 between the fingers (10 to 50 mm above the fingertips at the
// TCP): at each of the given y, or across the closing axis from `low` to `high` (both
// included) at most 5 mm apart.
clouds::CloudPtr across(std::initializer_list<float> ys, int per_y = 5) {
  clouds::CloudPtr cloud = clouds::empty();
  for (const float y : ys)
    for (int i = 0; i < per_y; ++i)
      clouds::add(*cloud, {-0.4f, y, kTcpZ + 0.01f + 0.04f * static_cast<float>(i) / per_y});
  return cloud;
}
clouds::CloudPtr row(float low, float high, const clouds::CloudPtr& with = clouds::empty()) {
  clouds::CloudPtr cloud = across({low, high});
  *cloud += *with;
  const int steps = static_cast<int>(std::ceil((high - low) / 0.005f));
  for (int k = 1; k < steps; ++k) *cloud += *across({low + (high - low) * k / steps});
  return cloud;
}

struct Geometry {
  const char* what;
  support::GripperKeys keys;
  clouds::CloudPtr cloud;  // null: no cloud kept
  GrabPoseEstimate::Pose6D pose;
  GripperVerdict verdict;
  std::string text;  // how describeGripperCheck begins
};

TEST(GripperCheck, BoundariesWorkedOutByHand) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Geometry cases[] = {
      {"exactly the opening", kExact, row(-0.0546875f, 0.0546875f),
       support::from_above(kTcp), GripperVerdict::kFree,
       "fits: object 0.109 m wide, fingers open to 0.125 m of 0.125 m"},
      {"a millimetre wider", kExact, row(-0.0551875f, 0.0551875f),
       support::from_above(kTcp), GripperVerdict::kTooWide,
       "object 0.11 m wide, gripper opens 0.125 m (0.008 m clearance each side)"},
      {"fingertips touching the floor", {}, nullptr,
       support::from_above({-0.4f, 0.0f, clouds::kFloorZ}), GripperVerdict::kFree, "fits"},
      {"fingertips 3 mm into the floor", {}, nullptr,
       support::from_above({-0.4f, 0.0f, clouds::kFloorZ - 0.003f}),
       GripperVerdict::kFingersInFloor, "fingers in the floor, 3.0 mm deep"},
      // From the side the fingers reach 10 mm down from the TCP, the palm 25 mm.
      {"palm below the floor, fingers above", {}, nullptr,
       support::from_the_side({-0.4f, 0.0f, clouds::kFloorZ + 0.015f}),
       GripperVerdict::kPalmInFloor, "palm in the floor, 10.0 mm deep"},
      // The band is [-0.01, 0.04]: fingers open symmetrically to 0.09 m, the one at -y
      // from 0.045 to 0.055 m, where a neck beyond a 0.04 m gap lies.
      {"a neck under a finger, as many points as tolerated", {},
       row(-0.01f, 0.04f, across({-0.05f})), support::from_above(kTcp),
       GripperVerdict::kFree, "fits: object 0.05 m wide, fingers open to 0.09 m"},
      {"a neck under a finger, one point more", {},
       row(-0.01f, 0.04f, across({-0.05f}, 6)), support::from_above(kTcp),
       GripperVerdict::kFingersInCloud, "fingers in the cloud, 6 points (5 tolerated)"},
      // The palm begins 60 mm above the fingertips.
      {"points in the palm", {},
       row(0.0f, 0.0f, clouds::column(-0.4f, 0.05f, kTcpZ + 0.065f, 0.005f, 6)),
       support::from_above(kTcp), GripperVerdict::kPalmInCloud,
       "palm in the cloud, 6 points (5 tolerated)"},
      {"not finite", {}, nullptr, support::from_above({nan, 0.0f, kTcpZ}),
       GripperVerdict::kUnsoundPose, "grasp pose is not finite"},
  };
  for (const Geometry& c : cases) {
    SCOPED_TRACE(c.what);
    auto e = support::make_estimator(support::gripper_on(c.keys));
    e->gripper_cloud_ = c.cloud;
    e->main_axis_type_ = VERTICAL;  // the band as the cloud shows it (see the test below)
    const litterpose::GripperCheck check = litterpose::checkGripper(*e, c.pose);
    EXPECT_EQ(check.verdict, c.verdict);
    const std::string text = litterpose::describeGripperCheck(check);
    EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
    EXPECT_EQ(e->isCollided(c.pose), c.verdict != GripperVerdict::kFree);
  }
}

// The camera sees a lying bottle's near side only: taken from above, an object lying on the
// floor is as wide as it is tall where the fingers hold it, whatever of it the cloud shows.
TEST(GripperCheck, ALyingObjectIsAsWideAsItIsTall) {
  // Points across y = low..high at x = -0.4, from 30 mm below the top to the top.
  const auto side = [](float low, float high, float top) {
    clouds::CloudPtr cloud = clouds::empty();
    for (float y = low; y <= high + 1e-6f; y += 0.005f)
      for (float below = 0.0f; below <= 0.03f; below += 0.005f)
        clouds::add(*cloud, {-0.4f, y, clouds::kFloorZ + top - below});
    return cloud;
  };
  const Eigen::Vector3f tcp(-0.4f, 0.0f, clouds::kFloorZ + 0.05f);
  const struct {
    const char* what;
    clouds::CloudPtr cloud;
    MainAxisType axis;
    GrabPoseEstimate::Pose6D pose;
    GripperVerdict verdict;
    float width;
  } cases[] = {
      {"30 mm seen of a 90 mm round object", side(-0.03f, 0.0f, 0.09f), HORIZONTAL, support::from_above(tcp), GripperVerdict::kFree, 0.09f},
      {"30 mm seen of a 105 mm round object", side(-0.03f, 0.0f, 0.105f), HORIZONTAL, support::from_above(tcp), GripperVerdict::kTooWide, 0.105f},
      {"standing, not lying", side(-0.03f, 0.0f, 0.105f), VERTICAL, support::from_above(tcp), GripperVerdict::kFree, 0.03f},
      {"flat: wider than tall", side(-0.03f, 0.03f, 0.06f), HORIZONTAL, support::from_above(tcp), GripperVerdict::kFree, 0.06f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto e = support::make_estimator(support::gripper_on());
    e->gripper_cloud_ = c.cloud;
    e->main_axis_type_ = c.axis;
    const litterpose::GripperCheck check = litterpose::checkGripper(*e, c.pose);
    EXPECT_EQ(check.verdict, c.verdict) << litterpose::describeGripperCheck(check);
    EXPECT_NEAR(check.object_width, c.width, 0.0011f);
  }
}

struct Refusal {
  const char* what;
  support::GripperKeys keys;
  Reason reason;
  const char* name;  // reasonName
  std::string text;  // how the reason's text begins
};

TEST(GripperModel, EntriesRefuseWithTheModelsReason) {
  // A bottle 70 mm across, lying within reach: every entry grasps it without the model.
  const auto bottle = [] {
    return clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, 2000);
  };
  const Refusal cases[] = {
      {"narrow gripper", {{"max_opening", 0.05}}, Reason::kGripperDoesNotFit, "gripper_does_not_fit",
       "object 0.07"},
      // Fingertips 60 mm beyond the TCP at the bottle's middle.
      {"long fingers", {{"finger2tcp", 0.06}}, Reason::kGripperCollides, "gripper_collides",
       "fingers in the floor"},
  };
  for (const Refusal& c : cases) {
    for (const auto entry : {litterpose::Entry::CommonGrabPoseFunc,
                             litterpose::Entry::GetInitialGrabPose}) {
      SCOPED_TRACE(std::string(c.what) + ", entry " + std::to_string(static_cast<int>(entry)));
      GrabPoseEstimate::CloudPtr cloud = bottle();
      auto off = support::make_estimator();
      off->trash_type_ = 3;
      ASSERT_EQ(litterpose::runEntry(*off, entry, cloud), litterpose::kGrabFound);

      cloud = bottle();
      auto e = support::make_estimator(support::gripper_on(c.keys));
      e->trash_type_ = 3;
      int code = 0;
      const std::string printed =
          support::printed_by([&] { code = litterpose::runEntry(*e, entry, cloud); });
      EXPECT_EQ(code, litterpose::kNoGrasp);
      EXPECT_EQ(e->reason_, c.reason);
      EXPECT_STREQ(litterpose::reasonName(e->reason_), c.name);
      EXPECT_EQ(e->reason_text_.rfind(c.text, 0), 0u) << e->reason_text_;
      EXPECT_NE(printed.find("gripper refuses the pose: " + c.text), std::string::npos);
      if (c.reason == Reason::kGripperDoesNotFit) {
        EXPECT_NE(e->reason_text_.find(" m wide, gripper opens 0.05 m (0.005 m clearance each side)"),
                  std::string::npos);
      }
    }
  }
}

TEST(GripperModel, AnObjectThatFitsIsGraspedAsWithoutIt) {
  GrabPoseEstimate::CloudPtr cloud =
      clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, 2000);
  GrabPoseEstimate::CloudPtr same = std::make_shared<clouds::Cloud>(*cloud);
  auto off = support::make_estimator();
  auto on = support::make_estimator(support::gripper_on());
  off->trash_type_ = on->trash_type_ = 3;
  ASSERT_EQ(litterpose::runEntry(*off, litterpose::Entry::CommonGrabPoseFunc, cloud), 1);
  ASSERT_EQ(litterpose::runEntry(*on, litterpose::Entry::CommonGrabPoseFunc, same), 1);
  EXPECT_TRUE(on->grab_pose_.position.isApprox(off->grab_pose_.position));
  EXPECT_EQ(on->gripper_check_.verdict, GripperVerdict::kFree);
  EXPECT_EQ(on->gripper_cloud_, same);  // kept, not copied
}

// Sizes a host sets in code pass no configuration check: the entries refuse to run on them
// rather than find every pose free. So do they without an arm model.
TEST(GripperModel, UnusableSizesSetInCodeAndAMissingArmModelAreErrors) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* member;
    void (*spoil)(GrabPoseEstimate&, float);
    float value;
  } cases[] = {
      {"gripper_.max_opening", [](GrabPoseEstimate& e, float v) { e.gripper_.max_opening = v; }, nan},
      {"gripper_.finger_width", [](GrabPoseEstimate& e, float v) { e.gripper_.finger_width = v; }, -1.0f},
      {"gripper_.palm_height", [](GrabPoseEstimate& e, float v) { e.gripper_.palm_height = v; }, 0.0f},
      {"gripper_.clearance", [](GrabPoseEstimate& e, float v) { e.gripper_.clearance = v; }, -0.001f},
      {"finger2tcp_", [](GrabPoseEstimate& e, float v) { e.finger2tcp_ = v; }, -std::numeric_limits<float>::infinity()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.member);
    auto e = support::make_estimator(support::gripper_on());
    e->trash_type_ = 3;
    c.spoil(*e, c.value);
    GrabPoseEstimate::CloudPtr cloud =
        clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, 2000);
    try {
      litterpose::runEntry(*e, litterpose::Entry::CommonGrabPoseFunc, cloud);
      ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(c.member), std::string::npos) << error.what();
    }
  }
  auto e = support::make_estimator();
  e->trash_type_ = 3;
  e->kinematics_.reset();
  GrabPoseEstimate::CloudPtr cloud =
      clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, 2000);
  EXPECT_THROW(litterpose::runEntry(*e, litterpose::Entry::CommonGrabPoseFunc, cloud),
               std::logic_error);
}

}  // namespace
