// The default and the robust preparation, alone and inside the estimation entries, and the
// gripper model's cost (the entries with it on, and one candidate's check), on a realistic
// capture: a lying bottle 0.25 m ahead seen by the configured camera with a floor
// band, mixed pixels at its edges, outliers, noise and 1 mm steps. Larger clouds come from
// the same camera with a finer sensor (its intrinsics scaled, and the estimator told so),
// so that every size is a capture such a camera delivers, in its scan order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include <litterpose.h>
#include <pcl/common/transforms.h>

#include "depth_camera.h"
#include "litter.h"

namespace {

using Cloud = GrabPoseEstimate::Cloud;
using CloudPtr = GrabPoseEstimate::CloudPtr;

// Without console lines: the benchmarks time the work.
std::unique_ptr<GrabPoseEstimate> estimator(bool robust, bool gripper = false) {
  auto e = std::make_unique<GrabPoseEstimate>(
      std::string(LITTERPOSE_SOURCE_DIR) + "/config/grab_pose_estimate_config.yaml",
      litterpose::ConsoleSink::none());
  e->trash_type_ = 3;
  e->robust_preparation_.enable = robust;
  e->gripper_.enable = gripper;
  return e;
}

// A capture of about `points` points in the base frame, from the configured camera with
// its resolution scaled to deliver them; the estimator's intrinsics are scaled alike. Every
// k-th point is kept, in scan order, to make the size exact.
CloudPtr realistic_capture(GrabPoseEstimate& e, std::size_t points) {
  capture_sim::CaptureOptions o;
  o.floor_z = -e.base_height_;
  o.depth_noise_per_m2 = 0.002;
  o.depth_step = 0.001;
  o.outliers = 0;
  o.outlier_share = 0.002;
  o.floor_margin = 0.0;
  o.band_width = 0.015;
  o.band_density = 0.8;
  o.mixed_pixel_share = 0.3;
  const auto object = capture_sim::makeLitter(
      capture_sim::Litter::kBottleLying, {0.24, 0.09, 0.09, 0.05, 0.015}, {0.25, 10.0, 30.0},
      o.floor_z);
  const capture_sim::Camera configured = capture_sim::cameraOf(e);
  const std::size_t native = capture_sim::capture(configured, object, o).size();
  const double scale = std::max(1.0, std::sqrt(1.1 * static_cast<double>(points) / native));
  capture_sim::Camera camera = configured;
  camera.fx *= scale;
  camera.fy *= scale;
  camera.cx *= scale;
  camera.cy *= scale;
  camera.width = static_cast<int>(camera.width * scale);
  camera.height = static_cast<int>(camera.height * scale);
  e.fx_ = static_cast<float>(camera.fx);
  e.fy_ = static_cast<float>(camera.fy);
  e.cx_ = static_cast<float>(camera.cx);
  e.cy_ = static_cast<float>(camera.cy);
  const Cloud camera_frame = capture_sim::capture(camera, object, o);
  Cloud kept;
  const double step = std::max(1.0, static_cast<double>(camera_frame.size()) / points);
  for (double at = 0.0; at < camera_frame.size() && kept.size() < points; at += step)
    kept.push_back(camera_frame[static_cast<std::size_t>(at)]);
  auto base = std::make_shared<Cloud>();
  pcl::transformPointCloud(kept, *base, e.camera_extrinsic_);
  return base;
}

using Entry = int (GrabPoseEstimate::*)(CloudPtr&);

void run(benchmark::State& state, bool robust, Entry entry, bool gripper = false) {
  auto e = estimator(robust, gripper);
  const CloudPtr source = realistic_capture(*e, static_cast<std::size_t>(state.range(0)));
  CloudPtr work = std::make_shared<Cloud>(*source);
  const float margin = e->pass_ajust_value_;
  for (auto _ : state) {
    state.PauseTiming();
    *work = *source;
    e->pass_ajust_value_ = margin;
    state.ResumeTiming();
    if (entry == nullptr) e->PclProcessFunc(work, work);
    else benchmark::DoNotOptimize(((*e).*entry)(work));
  }
  state.counters["points"] = static_cast<double>(source->size());
}

void BM_PreparationDefault(benchmark::State& s) { run(s, false, nullptr); }
void BM_PreparationRobust(benchmark::State& s) { run(s, true, nullptr); }
void BM_CommonGrabPoseFuncDefault(benchmark::State& s) {
  run(s, false, &GrabPoseEstimate::CommonGrabPoseFunc);
}
void BM_CommonGrabPoseFuncRobust(benchmark::State& s) {
  run(s, true, &GrabPoseEstimate::CommonGrabPoseFunc);
}
void BM_GrabPoseEstimateFuncDefault(benchmark::State& s) {
  run(s, false, &GrabPoseEstimate::GrabPoseEstimateFunc);
}
void BM_GrabPoseEstimateFuncRobust(benchmark::State& s) {
  run(s, true, &GrabPoseEstimate::GrabPoseEstimateFunc);
}

// The gripper model on: the entries as above, and the check of one candidate against the
// prepared cloud and the floor (what the model adds to each candidate the arm reaches).
void BM_CommonGrabPoseFuncRobustGripper(benchmark::State& s) {
  run(s, true, &GrabPoseEstimate::CommonGrabPoseFunc, true);
}
void BM_GrabPoseEstimateFuncRobustGripper(benchmark::State& s) {
  run(s, true, &GrabPoseEstimate::GrabPoseEstimateFunc, true);
}

void BM_GripperCheckOneCandidate(benchmark::State& state) {
  auto e = estimator(true, true);
  CloudPtr cloud = realistic_capture(*e, static_cast<std::size_t>(state.range(0)));
  if (e->GrabPoseEstimateFunc(cloud) != litterpose::kGrabFound)
    state.SkipWithError(("no grasp: " + e->reason_text_).c_str());
  for (auto _ : state) benchmark::DoNotOptimize(litterpose::checkGripper(*e, e->grab_pose_));
  state.counters["points"] = static_cast<double>(e->gripper_cloud_->size());
}

#define SIZES Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_PreparationDefault)->SIZES;
BENCHMARK(BM_PreparationRobust)->SIZES;
BENCHMARK(BM_CommonGrabPoseFuncDefault)->SIZES;
BENCHMARK(BM_CommonGrabPoseFuncRobust)->SIZES;
BENCHMARK(BM_GrabPoseEstimateFuncDefault)->SIZES;
BENCHMARK(BM_GrabPoseEstimateFuncRobust)->SIZES;
BENCHMARK(BM_CommonGrabPoseFuncRobustGripper)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabPoseEstimateFuncRobustGripper)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GripperCheckOneCandidate)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
