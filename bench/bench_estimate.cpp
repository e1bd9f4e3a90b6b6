// The three estimation entries end to end on a bottle lying 0.35 m ahead of the arm, as
// clouds of 1k to 1M surface points, beside what the same shape analysis costs with the
// Point Cloud Library's and OpenCV's defaults (PCA with a projection of the cloud, two
// default moment-of-inertia estimations for the boxes, the minimum-area rectangle of every
// point). Each iteration estimates on a fresh copy of the cloud (the preparation cleans it
// in place); the copy is made with the timer paused. The entries are timed by an estimator
// that prints nothing; the LogTo benchmarks show what its console lines cost on each sink.
// LogToStandardOutput writes to this program's standard output and runs only when that is
// not a terminal, for example (one command line):
//   bench_estimate --benchmark_filter=LogTo --benchmark_out=/dev/stderr
//                  --benchmark_out_format=console | cat >/dev/null
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <litterpose.h>
#include <litterpose_console.h>
#include <opencv2/imgproc.hpp>
#include <pcl/common/pca.h>
#include <pcl/features/moment_of_inertia_estimation.h>
#include <unistd.h>

#include "support/clouds.h"

namespace {

using clouds::Cloud;
using clouds::CloudPtr;
using litterpose::ConsoleSink;

// A 0.22 m bottle of 0.035 m radius lying on the floor, 0.35 m ahead and 10 degrees to
// the side, its axis turned 30 degrees: reachable from above with the first candidate.
CloudPtr bottle(int points) {
  return clouds::lying_rod(clouds::at_bearing(0.35f, 10.0f), 30.0f, 0.22f, 0.035f, points);
}

using Entry = int (GrabPoseEstimate::*)(GrabPoseEstimate::CloudPtr&);

void run_entry(benchmark::State& state, Entry entry, ConsoleSink sink,
               int expected = litterpose::kGrabFound, int trash_type = 3,
               float distance = 0.35f) {
  const CloudPtr source = clouds::lying_rod(clouds::at_bearing(distance, 10.0f), 30.0f, 0.22f,
                                            0.035f, static_cast<int>(state.range(0)));
  GrabPoseEstimate e(std::string(LITTERPOSE_SOURCE_DIR) + "/config/grab_pose_estimate_config.yaml",
                     ConsoleSink::none());
  e.setConsoleSink(std::move(sink));
  e.trash_type_ = trash_type;
  e.grab_vertical_distance_max_ = 1.2f;
  CloudPtr work = std::make_shared<Cloud>(*source);
  const int code = (e.*entry)(work);
  for (auto _ : state) {
    state.PauseTiming();
    *work = *source;
    state.ResumeTiming();
    benchmark::DoNotOptimize((e.*entry)(work));
  }
  e.consoleSink().flush();
  if (code != expected)
    state.SkipWithError(("unexpected result " + std::to_string(code)).c_str());
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}

void BM_GrabPoseEstimateFunc(benchmark::State& state) {
  run_entry(state, &GrabPoseEstimate::GrabPoseEstimateFunc, ConsoleSink::none());
}
void BM_CommonGrabPoseFunc(benchmark::State& state) {
  run_entry(state, &GrabPoseEstimate::CommonGrabPoseFunc, ConsoleSink::none());
}
void BM_GetInitialGrabPose(benchmark::State& state) {
  run_entry(state, &GrabPoseEstimate::GetInitialGrabPose, ConsoleSink::none());
}

// The worst case of CommonGrabPoseFunc: a bottle out of reach, 17 candidates refused.
void BM_CommonGrabPoseFuncAllRefused(benchmark::State& state) {
  run_entry(state, &GrabPoseEstimate::CommonGrabPoseFunc, ConsoleSink::none(),
            litterpose::kNoGrasp, 1, 0.75f);
}

// The same estimate as BM_CommonGrabPoseFunc with its console lines on each kind of sink.
void BM_CommonGrabPoseFuncLogToStandardOutput(benchmark::State& state) {
  if (::isatty(STDOUT_FILENO)) {
    state.SkipWithError("standard output is a terminal: redirect it to time its lines");
    for (auto _ : state) {
    }
    return;
  }
  run_entry(state, &GrabPoseEstimate::CommonGrabPoseFunc, ConsoleSink::standardOutput());
}
void BM_CommonGrabPoseFuncLogToStream(benchmark::State& state) {
  std::ofstream null("/dev/null");
  run_entry(state, &GrabPoseEstimate::CommonGrabPoseFunc, ConsoleSink::toStream(null));
}
// Each line handed to a callback that writes it to a pipe another process reads, as a
// host's logger would pass it on.
void BM_CommonGrabPoseFuncLogToCallbackPipe(benchmark::State& state) {
  std::FILE* reader = ::popen("cat >/dev/null", "w");
  if (reader == nullptr) {
    state.SkipWithError("cannot start a reader");
    for (auto _ : state) {
    }
    return;
  }
  run_entry(state, &GrabPoseEstimate::CommonGrabPoseFunc,
            ConsoleSink::toCallback([reader](std::string_view line) {
              std::fwrite(line.data(), 1, line.size(), reader);
              std::fputc('\n', reader);
            }));
  ::pclose(reader);
}

// The shape analysis with the libraries' defaults, on the same clouds.
void BM_PclDefaultsPipeline(benchmark::State& state) {
  const CloudPtr cloud = bottle(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    pcl::PCA<pcl::PointXYZ> pca;
    pca.setInputCloud(cloud);
    Cloud projected;
    pca.project(*cloud, projected);
    benchmark::DoNotOptimize(projected.points.data());
    for (int box = 0; box < 2; ++box) {  // the oriented and the axis-aligned box
      pcl::MomentOfInertiaEstimation<pcl::PointXYZ> moments;
      moments.setInputCloud(cloud);
      moments.compute();
      pcl::PointXYZ lo, hi, position;
      Eigen::Matrix3f rotation;
      if (box == 0) moments.getOBB(lo, hi, position, rotation);
      else moments.getAABB(lo, hi);
      benchmark::DoNotOptimize(lo);
    }
    std::vector<cv::Point2f> footprint;
    footprint.reserve(cloud->size());
    for (const auto& p : cloud->points) footprint.emplace_back(p.x, p.y);
    benchmark::DoNotOptimize(cv::minAreaRect(footprint));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void entry_sizes(benchmark::internal::Benchmark* b) {
  b->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond)->Complexity(
      benchmark::oN);
}

BENCHMARK(BM_GrabPoseEstimateFunc)->Apply(entry_sizes);
BENCHMARK(BM_CommonGrabPoseFunc)->Apply(entry_sizes);
BENCHMARK(BM_GetInitialGrabPose)->Apply(entry_sizes);
BENCHMARK(BM_CommonGrabPoseFuncAllRefused)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommonGrabPoseFuncLogToStandardOutput)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommonGrabPoseFuncLogToStream)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommonGrabPoseFuncLogToCallbackPipe)->Arg(10000)->Unit(benchmark::kMillisecond);
// A default moment-of-inertia estimation costs about 2.5 ms per thousand points.
BENCHMARK(BM_PclDefaultsPipeline)->RangeMultiplier(10)->Range(1000, 100000)->Unit(
    benchmark::kMillisecond);

}  // namespace
