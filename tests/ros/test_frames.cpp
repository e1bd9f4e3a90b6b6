// The transform each cloud gets by its frame id in each ~camera_tf mode, tf2's buffer
// filled here instead of by a master; and refusal lines kept few.
#include <gtest/gtest.h>

#include <cmath>

#include <tf2_ros/buffer.h>

#include "litterpose_ros/frames.h"
#include "litterpose_ros/untrusted_text.h"

namespace {

using litterpose_ros::CameraTf;
using litterpose_ros::Refusal;
using namespace std::chrono_literals;

TEST(CloudFrames, EachFrameIdGetsItsTransformOrItsRefusalInEachMode) {
  ros::Time::init();
  tf2_ros::Buffer tf;
  geometry_msgs::TransformStamped mount;  // base_link -> camera: turned about z, raised
  mount.header.frame_id = "base_link";
  mount.child_frame_id = "camera";
  mount.transform.rotation.z = mount.transform.rotation.w = std::sqrt(0.5);
  mount.transform.translation.z = 0.5;
  ASSERT_TRUE(tf.setTransform(mount, "test", true));
  Eigen::Matrix4f configured = Eigen::Matrix4f::Identity();
  configured(0, 3) = -0.3f;
  Eigen::Matrix4f from_tf = Eigen::Matrix4f::Identity();
  from_tf.block<2, 2>(0, 0) << 0, -1, 1, 0;
  from_tf(2, 3) = 0.5f;

  struct Case {
    CameraTf mode;
    std::string frame;
    std::optional<Refusal> refusal;  // none: placed by the mode's transform
  };
  const Case cases[] = {
      {CameraTf::none, "", {}},
      {CameraTf::publish, " /camera\t", {}},
      {CameraTf::none, "base_link ", Refusal::kBaseFrameCloud},
      {CameraTf::publish, "BASE_LINK", Refusal::kUnknownFrame},
      {CameraTf::lookup, "/camera ", {}},
      {CameraTf::lookup, "/base_link", Refusal::kBaseFrameCloud},
      {CameraTf::lookup, "nowhere\x1b[0m", Refusal::kNoTransform},
      {CameraTf::lookup, std::string(5000, 'f'), Refusal::kNoTransform},
  };
  for (const Case& c : cases) {
    const litterpose_ros::CloudFrames frames({c.mode, "base_link", "camera", 0.02}, configured, &tf);
    std_msgs::Header header;
    header.frame_id = c.frame;
    const auto placed = frames.place(header);
    const std::string what = std::string(litterpose_ros::cameraTfName(c.mode)) + " '" +
                             c.frame.substr(0, 20) + "': " + placed.error;
    if (c.refusal) {
      EXPECT_FALSE(placed.camera_to_base) << what;
      EXPECT_EQ(placed.refusal, *c.refusal) << what;
      EXPECT_EQ(placed.error.find('\x1b'), std::string::npos) << what;
      EXPECT_LT(placed.error.size(), 500u) << what;
      // The frame id is cut as any text from a message, inside tf2's message as well.
      EXPECT_EQ(placed.error.find(std::string(litterpose_ros::kMostCharactersQuoted + 1, 'f')),
                std::string::npos)
          << what;
    } else {
      ASSERT_TRUE(placed.camera_to_base) << what;
      EXPECT_TRUE(placed.camera_to_base->isApprox(c.mode == CameraTf::lookup ? from_tf : configured))
          << what << "\n" << *placed.camera_to_base;
    }
  }
  geometry_msgs::Transform none;  // no rotation, and a number that is none
  none.translation.x = std::nan("");
  EXPECT_FALSE(litterpose_ros::toMatrix(none));
}

TEST(RefusalThrottle, OneLinePerCauseAndPeriodWithTheCountLeftOut) {
  const std::tuple<const char*, std::chrono::milliseconds, std::optional<std::uint64_t>> steps[] = {
      {"unreadable_cloud", 0ms, 0},      {"unreadable_cloud", 1ms, {}}, {"no_transform", 2ms, 0},
      {"unreadable_cloud", 9999ms, {}},  {"unreadable_cloud", 10000ms, 2},
      {"no_transform", 10002ms, 0},      {"unreadable_cloud", 60000ms, 0},
  };
  litterpose_ros::RefusalThrottle throttle(10s);
  const auto start = litterpose_ros::RefusalThrottle::Clock::now();
  for (const auto& [cause, at, admitted] : steps)
    EXPECT_EQ(throttle.admit(cause, start + at), admitted) << cause << " at " << at.count();
}

}  // namespace
