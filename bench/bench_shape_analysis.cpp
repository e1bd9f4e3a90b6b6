// Cloud preparation and shape analysis on object clouds of 1k, 10k and 100k points, by an
// estimator that prints nothing. The moment-of-inertia estimator with its
// default settings is measured alongside, as the cost the boxes would otherwise carry.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include <litterpose.h>
#include <pcl/features/moment_of_inertia_estimation.h>

#include "support/clouds.h"

namespace {

using clouds::Cloud;
using clouds::CloudPtr;

GrabPoseEstimate& estimator() {
  static std::unique_ptr<GrabPoseEstimate> e = std::make_unique<GrabPoseEstimate>(
      LITTERPOSE_SOURCE_DIR "/config/grab_pose_estimate_config.yaml",
      litterpose::ConsoleSink::none());
  return *e;
}

// A carton lying on the floor 0.45 m ahead, turned 25 degrees, seen as points through its
// volume plus a thin layer of floor points around it, as a segmentation leaves them.
CloudPtr object_cloud(int n) {
  const int floor_points = n / 10;
  CloudPtr cloud = clouds::floor_box(clouds::at_bearing(0.45f, 15.0f), Eigen::Vector3f(0.12f, 0.06f, 0.09f),
                                     25.0f, n - floor_points);
  CloudPtr floor = clouds::box(Eigen::Vector3f(-0.435f, 0.116f, clouds::kFloorZ), Eigen::Vector3f(0.2f, 0.14f, 0.004f),
                               25.0f, floor_points, 7);
  *cloud += *floor;
  return cloud;
}

const Cloud& sample(int n) {
  static std::map<int, CloudPtr> made;
  CloudPtr& c = made[n];
  if (!c) c = object_cloud(n);
  return *c;
}

void BM_PclProcessFunc(benchmark::State& state) {
  GrabPoseEstimate& e = estimator();
  const Cloud& source = sample(static_cast<int>(state.range(0)));
  const float margin = e.pass_ajust_value_;
  CloudPtr cloud = std::make_shared<Cloud>();
  for (auto _ : state) {
    state.PauseTiming();
    *cloud = source;
    e.pass_ajust_value_ = margin;
    state.ResumeTiming();
    e.PclProcessFunc(cloud, cloud);
    benchmark::DoNotOptimize(cloud->size());
  }
}

template <void (GrabPoseEstimate::*Step)(const GrabPoseEstimate::CloudPtr&)>
void BM_Shape(benchmark::State& state) {
  GrabPoseEstimate& e = estimator();
  const CloudPtr cloud = std::make_shared<Cloud>(sample(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    (e.*Step)(cloud);
    benchmark::ClobberMemory();
  }
}

void BM_MomentOfInertiaDefault(benchmark::State& state) {
  const CloudPtr cloud = std::make_shared<Cloud>(sample(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    pcl::MomentOfInertiaEstimation<pcl::PointXYZ> estimation;
    estimation.setInputCloud(cloud);
    estimation.compute();
    pcl::PointXYZ lo, hi, position;
    Eigen::Matrix3f rotation;
    estimation.getOBB(lo, hi, position, rotation);
    benchmark::DoNotOptimize(position);
  }
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_PclProcessFunc)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Shape, &GrabPoseEstimate::PCAFunc)->Name("BM_PCAFunc")->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Shape, &GrabPoseEstimate::OBBFunc)->Name("BM_OBBFunc")->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Shape, &GrabPoseEstimate::AABBFunc)->Name("BM_AABBFunc")->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Shape, &GrabPoseEstimate::MinAreaRectFunc)->Name("BM_MinAreaRectFunc")->Apply(sizes);
BENCHMARK(BM_MomentOfInertiaDefault)->Apply(sizes);
