// litterview: one grasp estimate on a recorded cloud, drawn in a 3-D window.
#include <iostream>
#include <memory>

#include <litterpose.h>
#include <pcl/common/transforms.h>
#include <pcl/visualization/pcl_visualizer.h>

#include "cloud_file.h"
#include "display.h"
#include "scene.h"
#include "screenshot.h"
#include "startup.h"

namespace {

const char kConfigPath[] =
    "/home/halvane/WorkSpace/onWorking/halvanepro/src/halvanepro_pose_estimate/config/"
    "grab_pose_estimate_config.yaml";
const char kCloudPath[] =
    "/home/halvane/WorkSpace/onWorking/halvanepro/src/halvanepro_pose_estimate/data/"
    "B001PA420231018-1[0].ply";

// Built before main, as the program has always done; a configuration on the command
// line replaces it in main.
litterview::EstimatorSlot g_estimator(kConfigPath);

}  // namespace

int main(int argc, char** argv) {
  const auto args = litterview::parseArguments(argc, argv);
  if (!args) return 2;
  if (args->help) {
    std::cout << litterview::kUsage;
    return 0;
  }
  if (args->config) g_estimator.rebuild(*args->config);
  GrabPoseEstimate* estimator = g_estimator.get();
  if (estimator == nullptr) {
    std::cerr << "litterview: " << g_estimator.error() << std::endl;
    return g_estimator.refused() ? 2 : 1;
  }
  // A cloud that cannot be read is reported, not shown as an empty scene.
  auto input = std::make_shared<GrabPoseEstimate::Cloud>();
  if (const auto error = litterpose_io::readCloud(args->cloud.value_or(kCloudPath), *input)) {
    std::cerr << "litterview: " << *error << std::endl;
    return 2;
  }

  if (const std::string problem = litterview::displayProblem(); !problem.empty()) {
    std::cerr << "litterview: " << problem << std::endl;
    return 1;
  }
  pcl::visualization::PCLVisualizer viewer("Point Cloud Viewer");
  viewer.setBackgroundColor(0, 0, 0);
  auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
  pcl::transformPointCloud(*input, *cloud, estimator->camera_extrinsic_);

  litterview::estimateAndDraw(viewer, *estimator, cloud);
  viewer.setSize(1280, 960);
  litterview::aimCamera(viewer, *estimator);

  if (args->screenshot) return litterview::saveScreenshot(viewer, *args->screenshot) ? 0 : 1;
  while (!viewer.wasStopped()) viewer.spinOnce(1, false);
  return 0;
}
