// The scene litterview draws, built through the same function the program calls.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include <pcl/common/transforms.h>
#include <pcl/io/ply_io.h>
#include <vtkActor.h>
#include <vtkProp.h>
#include <vtkProperty.h>
#include <vtkPropCollection.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>

#include "scene.h"
#include "support/estimator.h"
#include "support/gripper.h"

namespace {

using Cloud = GrabPoseEstimate::Cloud;
using CloudPtr = GrabPoseEstimate::CloudPtr;

const char* const kElementIds[] = {"cloud_trash", "arm_base", "camera_base", "pca_transform",
                                   "grab_mainaxis", "OBB", "AABB", "plane",
                                   "rect0", "rect1", "rect2", "rect3"};

// A visualiser without a window of its own, with counts of what it holds.
class InspectedViewer : public pcl::visualization::PCLVisualizer {
public:
  InspectedViewer() : PCLVisualizer("scene test", false), props_at_start_(props()) {}
  // The visualiser keeps its coordinate-system map to itself; they are the props that are
  // neither clouds nor shapes.
  std::size_t coordinateSystems() { return props() - props_at_start_ - clouds() - shapes(); }
  std::size_t clouds() { return getCloudActorMap()->size(); }
  std::size_t shapes() { return getShapeActorMap()->size(); }
  vtkProp* shape(const std::string& id) { return getShapeActorMap()->at(id).GetPointer(); }

private:
  std::size_t props() {
    return static_cast<std::size_t>(
        getRendererCollection()->GetFirstRenderer()->GetViewProps()->GetNumberOfItems());
  }
  std::size_t props_at_start_;
};

// The viewer's default cloud, brought into the base frame as main does.
CloudPtr defaultCloud(const GrabPoseEstimate& estimator) {
  Cloud camera_frame;
  pcl::PLYReader reader;
  const std::string path = std::string(LITTERPOSE_SOURCE_DIR) + "/data/B001PA420231018-1[0].ply";
  EXPECT_EQ(reader.read(path, camera_frame), 0);
  auto cloud = std::make_shared<Cloud>();
  pcl::transformPointCloud(camera_frame, *cloud, estimator.camera_extrinsic_);
  return cloud;
}

CloudPtr firstPoints(const Cloud& cloud, std::size_t n) {
  auto part = std::make_shared<Cloud>();
  part->points.assign(cloud.points.begin(), cloud.points.begin() + n);
  part->width = static_cast<std::uint32_t>(n);
  part->height = 1;
  return part;
}

// Bounds of a drawn shape: xmin, xmax, ymin, ymax, zmin, zmax.
std::array<double, 6> bounds(vtkProp* prop) {
  std::array<double, 6> b{};
  const double* raw = prop->GetBounds();
  std::copy(raw, raw + 6, b.begin());
  return b;
}

TEST(ViewerScene, SuccessfulEstimateShowsExactlyTheTwelveElements) {
  auto estimator = support::make_estimator();
  CloudPtr cloud = defaultCloud(*estimator);
  InspectedViewer viewer;
  litterview::SceneOutcome outcome;
  const std::string printed = support::printed_by(
      [&] { outcome = litterview::estimateAndDraw(viewer, *estimator, cloud); });

  ASSERT_TRUE(outcome.estimated);
  ASSERT_EQ(outcome.result, litterpose::kGrabFound) << printed;
  EXPECT_NE(printed.find("flash_estimate: 1"), std::string::npos);
  for (const char* id : kElementIds) EXPECT_TRUE(viewer.contains(id)) << id;
  EXPECT_EQ(viewer.clouds(), 2u);             // cloud_trash, plane
  EXPECT_EQ(viewer.shapes(), 7u);             // grab_mainaxis, OBB, AABB, rect0..3
  EXPECT_EQ(viewer.coordinateSystems(), 3u);  // arm_base, camera_base, pca_transform
}

// With the gripper model on, the palm and the open fingers at the grasp (where the ROS
// markers' test checks them); a refusal draws none of them.
TEST(ViewerScene, TheGripperModelOnDrawsPalmAndFingersAtTheGrasp) {
  const struct {
    const char* what;
    double max_opening;
    bool drawn;
  } cases[] = {{"fits", 0.11, true}, {"refused as too wide", 0.03, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto estimator = support::make_estimator(support::gripper_on({{"max_opening", c.max_opening}}));
    CloudPtr cloud = defaultCloud(*estimator);
    InspectedViewer viewer;
    litterview::SceneOutcome outcome;
    support::printed_by([&] { outcome = litterview::estimateAndDraw(viewer, *estimator, cloud); });
    EXPECT_EQ(outcome.result == litterpose::kGrabFound, c.drawn);
    EXPECT_EQ(viewer.shapes(), c.drawn ? 10u : 7u);
    for (const char* id : {"gripper_palm", "gripper_finger0", "gripper_finger1"})
      EXPECT_EQ(viewer.contains(id), c.drawn) << id;
  }
}

// The log without the lines that carry wall-clock times.
std::string untimed(const std::string& log) {
  std::istringstream lines(log);
  std::string line, kept;
  while (std::getline(lines, line))
    if (line.find(" cost ") == std::string::npos) kept += line + "\n";
  return kept;
}

TEST(ViewerScene, EstimatesAsAHostProgramDoes) {
  auto viewer_estimator = support::make_estimator();
  CloudPtr viewer_cloud = defaultCloud(*viewer_estimator);
  InspectedViewer viewer;
  litterview::SceneOutcome outcome;
  const std::string viewer_log = support::printed_by(
      [&] { outcome = litterview::estimateAndDraw(viewer, *viewer_estimator, viewer_cloud); });

  auto host_estimator = support::make_estimator();
  CloudPtr host_cloud = defaultCloud(*host_estimator);
  host_estimator->trash_type_ = 3;
  int host_result = 0;
  const std::string host_log = support::printed_by(
      [&] { host_result = host_estimator->CommonGrabPoseFunc(host_cloud); });

  EXPECT_EQ(outcome.result, host_result);
  const std::string result_line = std::string(MAGENTA_BOLD) + "flash_estimate: " +
                                  std::to_string(host_result) + RESET_FORMAT + "\n";
  // Between the viewer's point-count line and its result line: the estimate's own log.
  const std::size_t first_line_end = viewer_log.find('\n') + 1;
  ASSERT_GE(viewer_log.size(), first_line_end + result_line.size());
  EXPECT_EQ(viewer_log.substr(viewer_log.size() - result_line.size()), result_line);
  EXPECT_EQ(untimed(viewer_log.substr(first_line_end,
                                      viewer_log.size() - result_line.size() - first_line_end)),
            untimed(host_log));
  EXPECT_EQ(viewer_cloud->size(), host_cloud->size());  // prepared alike
}

TEST(ViewerScene, FootprintRectangleLiesOnTheConfiguredFloor) {
  for (const double base_height : {0.176, 0.25}) {
    auto estimator = support::make_estimator(
        [&](YAML::Node& c) { c["grab_pose_estimate"]["base_height"] = base_height; });
    CloudPtr cloud = defaultCloud(*estimator);
    InspectedViewer viewer;
    litterview::SceneOutcome outcome;
    support::printed_by([&] { outcome = litterview::estimateAndDraw(viewer, *estimator, cloud); });
    ASSERT_TRUE(outcome.estimated);

    for (int i = 0; i < 4; ++i) {
      const auto b = bounds(viewer.shape("rect" + std::to_string(i)));
      EXPECT_NEAR(b[4], -base_height, 1e-6) << "rect" << i;
      EXPECT_NEAR(b[5], -base_height, 1e-6) << "rect" << i;
      // The line joins corner i to corner i + 1 of the footprint rectangle.
      const cv::Point2f& a = estimator->rect_points_[i];
      const cv::Point2f& c = estimator->rect_points_[(i + 1) % 4];
      EXPECT_NEAR(b[0], std::min(a.x, c.x), 1e-6);
      EXPECT_NEAR(b[1], std::max(a.x, c.x), 1e-6);
      EXPECT_NEAR(b[2], std::min(a.y, c.y), 1e-6);
      EXPECT_NEAR(b[3], std::max(a.y, c.y), 1e-6);
      EXPECT_FLOAT_EQ(outcome.lines.rect[i].from.z(), static_cast<float>(-base_height));
    }
  }
}

TEST(ViewerScene, GraspAxisStartsAtTheGraspPointAndRunsOneDecimetre) {
  auto estimator = support::make_estimator();
  CloudPtr cloud = defaultCloud(*estimator);
  InspectedViewer viewer;
  litterview::SceneOutcome outcome;
  support::printed_by([&] { outcome = litterview::estimateAndDraw(viewer, *estimator, cloud); });
  ASSERT_TRUE(outcome.estimated);

  const Eigen::Vector3f from = estimator->grab_tcp_;
  const Eigen::Vector3f to = from + 0.1f * estimator->grab_mainaxis_;
  const auto b = bounds(viewer.shape("grab_mainaxis"));
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(b[2 * k], std::min(from[k], to[k]), 1e-6);
    EXPECT_NEAR(b[2 * k + 1], std::max(from[k], to[k]), 1e-6);
  }
  EXPECT_NEAR((outcome.lines.grab_mainaxis.to - outcome.lines.grab_mainaxis.from).norm(),
              0.1f * estimator->grab_mainaxis_.norm(), 1e-6);
}

TEST(ViewerScene, BoxesAreWireframesAndTheAxisAlignedOneIsRed) {
  auto estimator = support::make_estimator();
  CloudPtr cloud = defaultCloud(*estimator);
  InspectedViewer viewer;
  support::printed_by([&] { litterview::estimateAndDraw(viewer, *estimator, cloud); });

  for (const char* id : {"OBB", "AABB"}) {
    auto* actor = vtkActor::SafeDownCast(viewer.shape(id));
    ASSERT_NE(actor, nullptr) << id;
    EXPECT_EQ(actor->GetProperty()->GetRepresentation(), VTK_WIREFRAME) << id;
  }
  double rgb[3];
  vtkActor::SafeDownCast(viewer.shape("AABB"))->GetProperty()->GetColor(rgb);
  EXPECT_DOUBLE_EQ(rgb[0], 1.0);
  EXPECT_DOUBLE_EQ(rgb[1], 0.0);
  EXPECT_DOUBLE_EQ(rgb[2], 0.0);

  // The axis-aligned box spans the prepared cloud's corners.
  const auto b = bounds(viewer.shape("AABB"));
  EXPECT_NEAR(b[0], estimator->aabb_min_point_.x, 1e-6);
  EXPECT_NEAR(b[5], estimator->aabb_max_point_.z, 1e-6);
}

TEST(ViewerScene, NinetyNinePointsAreNotEstimatedAndShowNothing) {
  auto estimator = support::make_estimator();
  CloudPtr cloud = firstPoints(*defaultCloud(*estimator), 99);
  InspectedViewer viewer;
  litterview::SceneOutcome outcome;
  const std::string printed = support::printed_by(
      [&] { outcome = litterview::estimateAndDraw(viewer, *estimator, cloud); });

  EXPECT_FALSE(outcome.estimated);
  EXPECT_EQ(printed, std::string(MAGENTA_BOLD) + "原始点云数量：99\n" + RED_BOLD +
                         "原始点云数量太少，请重新检测\n");
  EXPECT_EQ(viewer.clouds(), 0u);
  EXPECT_EQ(viewer.shapes(), 0u);
  EXPECT_EQ(viewer.coordinateSystems(), 0u);
  EXPECT_EQ(cloud->size(), 99u);  // not prepared either
}

TEST(ViewerScene, HundredPointsAreEstimatedAndDrawnWhateverTheResult) {
  auto estimator = support::make_estimator();
  CloudPtr cloud = firstPoints(*defaultCloud(*estimator), 100);
  InspectedViewer viewer;
  litterview::SceneOutcome outcome;
  const std::string printed = support::printed_by(
      [&] { outcome = litterview::estimateAndDraw(viewer, *estimator, cloud); });

  ASSERT_TRUE(outcome.estimated);
  EXPECT_EQ(printed.rfind(std::string(MAGENTA_BOLD) + "原始点云数量：100\n", 0), 0u);
  EXPECT_NE(printed.find("CommonGrabPoseFunc"), std::string::npos);
  EXPECT_NE(printed.find("flash_estimate: " + std::to_string(outcome.result)), std::string::npos);
  for (const char* id : kElementIds) EXPECT_TRUE(viewer.contains(id)) << id;
}

}  // namespace
