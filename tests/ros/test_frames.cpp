// Frame ids as compared, transforms as matrices, and the transform each cloud gets in each
// ~camera_tf mode, with tf2's buffer filled here instead of by a master.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <tf2_ros/buffer.h>

#include "litterpose_ros/frames.h"

namespace {

using litterpose_ros::CameraTf;
using litterpose_ros::CloudFrames;
using litterpose_ros::Refusal;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

geometry_msgs::Transform transform(const Eigen::Quaterniond& q, const Eigen::Vector3d& t) {
  geometry_msgs::Transform out;
  out.rotation.w = q.w();
  out.rotation.x = q.x();
  out.rotation.y = q.y();
  out.rotation.z = q.z();
  out.translation.x = t.x();
  out.translation.y = t.y();
  out.translation.z = t.z();
  return out;
}

std_msgs::Header header(const std::string& frame, ros::Time stamp = ros::Time(0)) {
  std_msgs::Header h;
  h.frame_id = frame;
  h.stamp = stamp;
  return h;
}

TEST(Frames, FrameIdsLoseSurroundingBlanksAndALeadingSlash) {
  const std::pair<const char*, const char*> cases[] = {
      {"base_link", "base_link"},     {"/base_link", "base_link"},
      {"base_link ", "base_link"},    {" \t/base_link\n", "base_link"},
      {"/ base_link", "base_link"},   {"BASE_LINK", "BASE_LINK"},
      {"//base_link", "/base_link"},  {"a b", "a b"},
      {"", ""},                       {" / ", ""},
  };
  for (const auto& [given, normalised] : cases)
    EXPECT_EQ(litterpose_ros::normalisedFrameId(given), normalised) << "'" << given << "'";
}

TEST(Frames, CameraTfModesByName) {
  for (const CameraTf mode : {CameraTf::publish, CameraTf::none, CameraTf::lookup})
    EXPECT_EQ(litterpose_ros::cameraTfNamed(litterpose_ros::cameraTfName(mode)), mode);
  for (const char* name : {"", "Publish", "lookup ", "tf", "static"})
    EXPECT_FALSE(litterpose_ros::cameraTfNamed(name)) << "'" << name << "'";
}

// The matrix maps points as rotating by the normalised quaternion and then translating.
TEST(Frames, TransformsBecomeMatricesOnlyWhenFinite) {
  const Eigen::Quaterniond turn(Eigen::AngleAxisd(0.8, Eigen::Vector3d(1, -2, 0.5).normalized()));
  const Eigen::Vector3d shift(0.3, -0.1, 0.9);
  for (const double scale : {1.0, 2.5, 1e-3}) {
    const Eigen::Quaterniond scaled(scale * turn.w(), scale * turn.x(), scale * turn.y(),
                                    scale * turn.z());
    const auto m = litterpose_ros::toMatrix(transform(scaled, shift));
    ASSERT_TRUE(m) << scale;
    for (const Eigen::Vector3d& p : {Eigen::Vector3d(0, 0, 0), Eigen::Vector3d(0.2, 0.4, -1)}) {
      const Eigen::Vector3d expected = turn * p + shift;
      const Eigen::Vector3f mapped = (*m * p.cast<float>().homogeneous()).head<3>();
      EXPECT_TRUE(mapped.cast<double>().isApprox(expected, 1e-6)) << mapped.transpose();
    }
  }
  const Eigen::Vector3d zero = Eigen::Vector3d::Zero();
  const geometry_msgs::Transform refused[] = {
      transform(Eigen::Quaterniond(0, 0, 0, 0), zero),
      transform(Eigen::Quaterniond(kNaN, 0, 0, 1), zero),
      transform(Eigen::Quaterniond(1e300, 1e300, 0, 0), zero),  // its norm overflows
      transform(turn, Eigen::Vector3d(0, kNaN, 0)),
      transform(turn, Eigen::Vector3d(1e300, 0, 0)),  // beyond float
  };
  for (const auto& t : refused) EXPECT_FALSE(litterpose_ros::toMatrix(t)) << t;
}

class CloudFramesTest : public testing::Test {
protected:
  void SetUp() override { ros::Time::init(); }

  CloudFrames frames(CameraTf mode) const {
    return CloudFrames({mode, "base_link", "camera_optical", 0.05}, configured_, &buffer_);
  }

  // base_link -> mount -> camera_optical, published as another node would.
  void publishTree() {
    geometry_msgs::TransformStamped mount;
    mount.header.frame_id = "base_link";
    mount.child_frame_id = "mount";
    mount.transform = transform(Eigen::Quaterniond::Identity(), Eigen::Vector3d(0.1, 0.2, 0.3));
    geometry_msgs::TransformStamped camera;
    camera.header.frame_id = "mount";
    camera.child_frame_id = "camera_optical";
    camera.transform = transform(turn_, Eigen::Vector3d::Zero());
    ASSERT_TRUE(buffer_.setTransform(mount, "test", true));
    ASSERT_TRUE(buffer_.setTransform(camera, "test", true));
  }

  const Eigen::Quaterniond turn_{Eigen::AngleAxisd(2.0, Eigen::Vector3d(0.3, 1, -0.2).normalized())};
  Eigen::Matrix4f configured_ = [] {
    Eigen::Matrix4f m = Eigen::Matrix4f::Identity();
    m.block<3, 1>(0, 3) = Eigen::Vector3f(-0.5f, 0.0f, 0.4f);
    return m;
  }();
  tf2_ros::Buffer buffer_;
};

// Without lookup only the camera frame is placed, by the configured extrinsic; the base
// frame never is, however it is written; other frames, whatever their case, are unknown.
TEST_F(CloudFramesTest, WithoutLookupOnlyTheCameraFrameIsPlacedByTheConfiguration) {
  struct Case {
    const char* frame;
    std::optional<Refusal> refusal;
  };
  const Case cases[] = {
      {"camera_optical", std::nullopt},
      {"", std::nullopt},
      {"/camera_optical", std::nullopt},
      {" camera_optical\t", std::nullopt},
      {"base_link", Refusal::kBaseFrameCloud},
      {"/base_link", Refusal::kBaseFrameCloud},
      {"base_link ", Refusal::kBaseFrameCloud},
      {"BASE_LINK", Refusal::kUnknownFrame},
      {"mount", Refusal::kUnknownFrame},
      {"camera_optical\x01\xff", Refusal::kUnknownFrame},
  };
  publishTree();  // present, and not used
  for (const CameraTf mode : {CameraTf::publish, CameraTf::none}) {
    for (const Case& c : cases) {
      const auto placed = frames(mode).place(header(c.frame));
      const std::string what = std::string(litterpose_ros::cameraTfName(mode)) + " '" + c.frame + "'";
      if (!c.refusal) {
        ASSERT_TRUE(placed.camera_to_base) << what << ": " << placed.error;
        EXPECT_EQ(*placed.camera_to_base, configured_) << what;
        continue;
      }
      EXPECT_FALSE(placed.camera_to_base) << what;
      EXPECT_EQ(placed.refusal, *c.refusal) << what;
      EXPECT_EQ(placed.error.find_first_of("\x01\xff"), std::string::npos) << placed.error;
    }
  }
}

TEST_F(CloudFramesTest, LookupTakesTheCloudsFrameFromTf2) {
  publishTree();
  Eigen::Matrix4d expected = Eigen::Matrix4d::Identity();
  expected.block<3, 3>(0, 0) = turn_.toRotationMatrix();
  expected.block<3, 1>(0, 3) = Eigen::Vector3d(0.1, 0.2, 0.3);
  for (const char* frame : {"camera_optical", "/camera_optical ", ""}) {
    const auto placed = frames(CameraTf::lookup).place(header(frame));
    ASSERT_TRUE(placed.camera_to_base) << frame << ": " << placed.error;
    EXPECT_TRUE(placed.camera_to_base->cast<double>().isApprox(expected, 1e-6))
        << *placed.camera_to_base;
  }
  // Any frame tf2 knows, at the cloud's stamp; the base frame still is refused.
  const auto mount = frames(CameraTf::lookup).place(header("mount", ros::Time(5, 0)));
  ASSERT_TRUE(mount.camera_to_base) << mount.error;
  const Eigen::Vector3f mount_position = mount.camera_to_base->block<3, 1>(0, 3);
  EXPECT_TRUE(mount_position.isApprox(Eigen::Vector3f(0.1f, 0.2f, 0.3f))) << mount_position;
  EXPECT_EQ(frames(CameraTf::lookup).place(header("/base_link")).refusal, Refusal::kBaseFrameCloud);
}

// A frame tf2 does not know, or an extreme stamp, is answered within the timeout with the
// frames named and any odd byte replaced.
TEST_F(CloudFramesTest, LookupWithoutATransformSaysWhy) {
  const std::pair<std_msgs::Header, const char*> cases[] = {
      {header("nowhere\x1b[31m"), "no transform from 'nowhere?[31m' to 'base_link'"},
      {header("camera_optical", ros::Time(4294967295u, 999999999u)),
       "at 4294967295.999999999 within 0.05 s"},
      {header(std::string(5000, 'f')), "(5000 bytes)"},
  };
  for (const auto& [h, said] : cases) {
    const auto placed = frames(CameraTf::lookup).place(h);
    EXPECT_FALSE(placed.camera_to_base);
    EXPECT_EQ(placed.refusal, Refusal::kNoTransform);
    EXPECT_NE(placed.error.find(said), std::string::npos) << placed.error;
    EXPECT_LT(placed.error.size(), 1000u);
  }
}

}  // namespace
