// What a C++ host pays for one estimate of a cloud in the camera frame: the baseline of the
// Python module's estimate (bench/bench_python.py runs both on the same cloud, in the same
// run). BM_HostEstimate is the host's way, as litterpose-estimate and the ROS node do it:
// PclTransform into a fresh cloud, then CommonGrabPoseFunc for trash type 3. Beside it the
// same estimate with the cloud made by cloudFromPoints from a float32 array (what the module
// does), and each way of making the cloud alone.
//
// The cloud (camera frame, PLY or PCD) is the file named by the environment variable
// LITTERPOSE_BENCH_CLOUD, or the bundled default cloud.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <cloud_file.h>
#include <litterpose.h>
#include <litterpose_console.h>
#include <litterpose_points.h>

namespace {

using Cloud = GrabPoseEstimate::Cloud;

struct Setup {
  GrabPoseEstimate estimator{std::string(LITTERPOSE_SOURCE_DIR) +
                                 "/config/grab_pose_estimate_config.yaml",
                             litterpose::ConsoleSink::none()};
  litterpose::ConfiguredState configured{estimator};
  GrabPoseEstimate::CloudPtr camera = std::make_shared<Cloud>();
  std::vector<float> rows;  // the same points as an (N, 3) float32 array
  std::vector<double> double_rows;
  std::string error;

  Setup() {
    const char* path = std::getenv("LITTERPOSE_BENCH_CLOUD");
    const std::string file = path ? path : LITTERPOSE_SOURCE_DIR "/data/B001PA420231018-1[0].ply";
    if (const auto failure = litterpose_io::readCloud(file, *camera)) error = *failure;
    for (const auto& p : *camera)
      for (int k = 0; k < 3; ++k) {
        rows.push_back(p.data[k]);
        double_rows.push_back(p.data[k]);
      }
  }
  litterpose::PointsView view(bool doubles) const {
    if (doubles)
      return {double_rows.data(), camera->size(), litterpose::PointsView::Scalar::float64,
              3 * sizeof(double), sizeof(double)};
    return {rows.data(), camera->size(), litterpose::PointsView::Scalar::float32,
            3 * sizeof(float), sizeof(float)};
  }
  int estimate(GrabPoseEstimate::CloudPtr& cloud) {
    configured.restore(estimator);
    estimator.trash_type_ = 3;
    return estimator.CommonGrabPoseFunc(cloud);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

bool usable(benchmark::State& state) {
  if (setup().error.empty()) return true;
  state.SkipWithError(setup().error.c_str());
  for (auto _ : state) {
  }
  return false;
}

void finish(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * static_cast<long>(setup().camera->size()));
  state.counters["points"] = static_cast<double>(setup().camera->size());
}

void BM_HostEstimate(benchmark::State& state) {
  if (!usable(state)) return;
  Setup& s = setup();
  for (auto _ : state) {
    auto cloud = std::make_shared<Cloud>();
    s.estimator.PclTransform(s.camera, cloud, s.estimator.camera_extrinsic_);
    benchmark::DoNotOptimize(s.estimate(cloud));
  }
  finish(state);
}

void BM_HostEstimateFromArray(benchmark::State& state) {
  if (!usable(state)) return;
  Setup& s = setup();
  const litterpose::PointsView view = s.view(false);
  for (auto _ : state) {
    auto cloud = std::make_shared<Cloud>();
    litterpose::cloudFromPoints(view, &s.estimator.camera_extrinsic_, *cloud);
    benchmark::DoNotOptimize(s.estimate(cloud));
  }
  finish(state);
}

void BM_PclTransform(benchmark::State& state) {
  if (!usable(state)) return;
  Setup& s = setup();
  for (auto _ : state) {
    auto cloud = std::make_shared<Cloud>();
    s.estimator.PclTransform(s.camera, cloud, s.estimator.camera_extrinsic_);
    benchmark::DoNotOptimize(cloud->points.data());
  }
  finish(state);
}

void BM_CloudFromPoints(benchmark::State& state) {
  if (!usable(state)) return;
  Setup& s = setup();
  const litterpose::PointsView view = s.view(state.range(0) == 64);
  for (auto _ : state) {
    auto cloud = std::make_shared<Cloud>();
    litterpose::cloudFromPoints(view, &s.estimator.camera_extrinsic_, *cloud);
    benchmark::DoNotOptimize(cloud->points.data());
  }
  finish(state);
}

}  // namespace

BENCHMARK(BM_HostEstimate);
BENCHMARK(BM_HostEstimateFromArray);
BENCHMARK(BM_PclTransform);
BENCHMARK(BM_CloudFromPoints)->Arg(32)->Arg(64)->ArgName("bits");
