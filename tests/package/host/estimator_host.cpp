// A host program of the installed estimator: construct from the installed configuration
// and bring a camera-frame cloud into the base frame.
#include <litterpose.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  GrabPoseEstimate estimator(argv[1]);
  auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
  cloud->push_back(pcl::PointXYZ(0.0f, 0.0f, 1.0f));
  estimator.PclTransform(cloud, cloud, estimator.camera_extrinsic_);
  const pcl::PointXYZ p = estimator.GetMaxPointXY(cloud);
  std::printf("estimator host: camera axis point in base frame %.3f %.3f %.3f\n", p.x, p.y, p.z);
  return std::isfinite(p.x) ? 0 : 1;
}
