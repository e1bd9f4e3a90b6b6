// The messages made from an estimate, checked against the geometry they stand for.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include <Eigen/Geometry>
#include <litterpose_result.h>

#include "litterpose_ros/grasp_messages.h"
#include "support/clouds.h"
#include "support/estimator.h"
#include "support/gripper.h"

namespace {

using visualization_msgs::Marker;

Eigen::Vector3d vec(const geometry_msgs::Point& p) { return {p.x, p.y, p.z}; }
Eigen::Quaterniond quat(const geometry_msgs::Quaternion& q) { return {q.w, q.x, q.y, q.z}; }

std_msgs::Header header(const char* frame) {
  std_msgs::Header h;
  h.frame_id = frame;
  h.stamp = ros::Time(1700000000, 250000000);
  return h;
}

TEST(GraspMessages, PoseStampedIsThePoseInTheHeadersFrame) {
  const GrabPoseEstimate::Pose6D pose{
      {0.1f, -0.2f, 0.3f},
      Eigen::Quaterniond(Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()))};
  const auto message = litterpose_ros::toPoseStamped(pose, header("base_link"));

  EXPECT_EQ(message.header.frame_id, "base_link");
  EXPECT_EQ(message.header.stamp, ros::Time(1700000000, 250000000));
  EXPECT_EQ(vec(message.pose.position), pose.position.cast<double>());
  const Eigen::Vector3d v(0.3, -1.0, 2.0);
  EXPECT_TRUE((quat(message.pose.orientation) * v).isApprox(pose.orientation * v, 1e-12));
}

TEST(GraspMessages, CameraTransformMapsCameraPointsAsTheExtrinsic) {
  const Eigen::Matrix4f extrinsic = support::make_estimator()->camera_extrinsic_;
  const auto message =
      litterpose_ros::cameraTransform(extrinsic, header("base_link"), "camera_optical");

  EXPECT_EQ(message.header.frame_id, "base_link");
  EXPECT_EQ(message.child_frame_id, "camera_optical");
  const auto& t = message.transform;
  const Eigen::Quaterniond rotation(t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z);
  EXPECT_NEAR(rotation.norm(), 1.0, 1e-12);
  for (const Eigen::Vector3d& camera_point :
       {Eigen::Vector3d(0, 0, 0.5), Eigen::Vector3d(0.1, -0.2, 0.6), Eigen::Vector3d(1, 1, 1)}) {
    const Eigen::Vector3d expected =
        (extrinsic.cast<double>() * camera_point.homogeneous()).head<3>();
    const Eigen::Vector3d mapped =
        rotation * camera_point + Eigen::Vector3d(t.translation.x, t.translation.y, t.translation.z);
    EXPECT_TRUE(mapped.isApprox(expected, 1e-6)) << mapped.transpose();
  }
}

// A bottle lying on the floor 0.35 m ahead, its axis turned 30 degrees: boxed along its
// axis, framed on the floor, grasped straight from above with the fingers closing across it.
TEST(GraspMessages, MarkersShowTheBottleAndItsGrasp) {
  auto estimator = support::make_estimator();
  estimator->trash_type_ = 3;
  auto cloud = clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, 3000);
  int result = 0;
  support::printed_by([&] { result = estimator->CommonGrabPoseFunc(cloud); });  // prepares cloud
  ASSERT_EQ(result, litterpose::kGrabFound);
  const auto markers = litterpose_ros::graspMarkers(*estimator, header("base_link")).markers;
  ASSERT_EQ(markers.size(), 4u);
  std::map<int, Marker> by_id;
  for (const Marker& m : markers) {
    EXPECT_EQ(m.header.frame_id, "base_link");
    EXPECT_EQ(m.header.stamp, ros::Time(1700000000, 250000000));
    EXPECT_NEAR(quat(m.pose.orientation).norm(), 1.0, 1e-9) << m.id;
    by_id[m.id] = m;
  }
  const Eigen::Vector3d bottle_axis(std::cos(M_PI / 6), std::sin(M_PI / 6), 0.0);

  const Marker& box = by_id.at(litterpose_ros::kOrientedBoxMarker);
  ASSERT_EQ(box.type, Marker::CUBE);
  const Eigen::Quaterniond r = quat(box.pose.orientation);
  const Eigen::Vector3d half(box.scale.x / 2, box.scale.y / 2, box.scale.z / 2);
  for (const auto& p : cloud->points) {
    const Eigen::Vector3d local = r.conjugate() * (Eigen::Vector3d(p.x, p.y, p.z) - vec(box.pose.position));
    ASSERT_TRUE((local.cwiseAbs().array() <= half.array() + 1e-5).all()) << local.transpose();
  }
  int longest;
  half.maxCoeff(&longest);
  EXPECT_NEAR(2 * half[longest], 0.22, 0.01);
  EXPECT_GT(std::abs((r * Eigen::Vector3d::Unit(longest)).dot(bottle_axis)), 0.99);

  // Closed, on the floor, and every point seen from above on the inner side of all edges.
  const Marker& footprint = by_id.at(litterpose_ros::kFootprintMarker);
  ASSERT_EQ(footprint.type, Marker::LINE_STRIP);
  ASSERT_EQ(footprint.points.size(), 5u);
  EXPECT_EQ(vec(footprint.points.front()), vec(footprint.points.back()));
  for (const auto& corner : footprint.points) EXPECT_FLOAT_EQ(corner.z, clouds::kFloorZ);
  for (const auto& p : cloud->points) {
    int left = 0, right = 0;
    for (int i = 0; i < 4; ++i) {
      const Eigen::Vector2d a = vec(footprint.points[i]).head<2>();
      const Eigen::Vector2d e = vec(footprint.points[i + 1]).head<2>() - a;
      const Eigen::Vector2d q = Eigen::Vector2d(p.x, p.y) - a;
      const double side = e.x() * q.y() - e.y() * q.x();
      left += side > 1e-6;
      right += side < -1e-6;
    }
    ASSERT_TRUE(left == 0 || right == 0) << p;
  }

  const Eigen::Vector3d grasp = estimator->grab_pose_.position.cast<double>();
  const Marker& approach = by_id.at(litterpose_ros::kApproachMarker);
  ASSERT_EQ(approach.type, Marker::ARROW);
  ASSERT_EQ(approach.points.size(), 2u);
  EXPECT_TRUE(vec(approach.points[1]).isApprox(grasp, 1e-12));
  EXPECT_TRUE((vec(approach.points[1]) - vec(approach.points[0]))
                  .isApprox(Eigen::Vector3d(0, 0, -litterpose_ros::kApproachLength), 1e-9));

  const Marker& closing = by_id.at(litterpose_ros::kClosingAxisMarker);
  ASSERT_EQ(closing.type, Marker::LINE_LIST);
  ASSERT_EQ(closing.points.size(), 2u);
  const Eigen::Vector3d a = vec(closing.points[0]), b = vec(closing.points[1]);
  EXPECT_TRUE(((a + b) / 2).isApprox(grasp, 1e-9));
  EXPECT_NEAR((b - a).norm(), 2 * litterpose_ros::kClosingHalfLength, 1e-9);
  EXPECT_NEAR(a.z(), b.z(), 1e-9);
  EXPECT_LT(std::abs((b - a).normalized().dot(bottle_axis)), 0.05);
}

// With the gripper model on, the palm and both open fingers join the markers: boxes of the
// configured sizes, turned as the tool is, the fingers on either side of the grasp point
// across the closing axis, the palm above them.
TEST(GraspMessages, TheGripperModelOnAddsPalmAndFingers) {
  auto estimator = support::make_estimator(support::gripper_on());
  estimator->trash_type_ = 3;
  auto cloud = clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, 3000);
  int result = 0;
  support::printed_by([&] { result = estimator->CommonGrabPoseFunc(cloud); });
  ASSERT_EQ(result, litterpose::kGrabFound);
  const auto markers = litterpose_ros::graspMarkers(*estimator, header("base_link")).markers;
  ASSERT_EQ(markers.size(), 7u);
  const Eigen::Vector3d grasp = estimator->grab_pose_.position.cast<double>();
  const Eigen::Matrix3d tool = estimator->grab_pose_.orientation.normalized().toRotationMatrix();
  // Sizes along the tool's x, y, z; the middle's z: 60 mm of fingers, then the palm.
  const struct {
    int id;
    Eigen::Vector3d size;
    double z;
  } solids[] = {{litterpose_ros::kGripperPalmMarker, {0.05, 0.15, 0.05}, -0.085},
                {litterpose_ros::kGripperFingerMarker, {0.02, 0.01, 0.06}, -0.03},
                {litterpose_ros::kGripperFingerMarker + 1, {0.02, 0.01, 0.06}, -0.03}};
  for (const auto& s : solids) {
    SCOPED_TRACE(s.id);
    const Marker& m = markers.at(static_cast<std::size_t>(s.id));
    EXPECT_EQ(m.id, s.id);
    EXPECT_EQ(m.type, Marker::CUBE);
    EXPECT_TRUE(Eigen::Vector3d(m.scale.x, m.scale.y, m.scale.z).isApprox(s.size, 1e-6));
    EXPECT_TRUE(quat(m.pose.orientation).toRotationMatrix().isApprox(tool, 1e-6));
    const Eigen::Vector3d local = tool.transpose() * (vec(m.pose.position) - grasp);
    EXPECT_NEAR(local.x(), 0.0, 1e-6);
    EXPECT_NEAR(local.z(), s.z, 1e-6);
    // A finger's middle outside the bottle's 35 mm and within the 55 mm half opening.
    EXPECT_TRUE(s.z < -0.05 ? std::abs(local.y()) < 1e-6
                            : std::abs(local.y()) > 0.04 && std::abs(local.y()) < 0.06 + 1e-6);
    EXPECT_TRUE(s.z < -0.05 || (local.y() > 0) == (s.id != litterpose_ros::kGripperFingerMarker));
  }
}

}  // namespace
