// Forward and inverse kinematics of the estimator's arm.
#include <benchmark/benchmark.h>
#include <quorvin_kinematics.h>

#include <cmath>
#include <array>
#include <random>
#include <vector>

namespace {
constexpr double kD[6] = {240.5, 0, 0, 210, 0, 144};
constexpr double kA[6] = {0, 256, 0, 0, 0, 0};
constexpr double kAlpha[6] = {M_PI / 2, 0, M_PI / 2, -M_PI / 2, M_PI / 2, 0};
constexpr double kOffset[6] = {0, M_PI / 2, M_PI / 2, 0, 0, 0};
constexpr int kSamples = 1024;

struct Workload {
  QuorvinKinematics arm{kD, kA, kAlpha, kOffset};
  std::vector<std::array<double, 6>> joints;
  std::vector<Eigen::MatrixXd> poses;
  Workload() {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> angle(-M_PI, M_PI);
    while (joints.size() < kSamples) {
      std::array<double, 6> q;
      for (double& v : q) v = angle(rng);
      if (std::fabs(std::sin(q[4])) < 0.05 || std::fabs(std::sin(q[2])) < 0.05) continue;
      joints.push_back(q);
      poses.push_back(arm.forward_kinematics(q.data()));
    }
  }
};

Workload& workload() {
  static Workload w;
  return w;
}

void BM_ForwardKinematics(benchmark::State& state) {
  Workload& w = workload();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.arm.forward_kinematics(w.joints[i].data()));
    i = (i + 1) % kSamples;
  }
}
BENCHMARK(BM_ForwardKinematics);

// The pose is handed over by value, as the interface requires; the copy is part of the cost.
void BM_InverseKinematicsReference(benchmark::State& state) {
  Workload& w = workload();
  double out[6];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.arm.inverse_kinematics(w.poses[i], w.joints[i].data(), out));
    i = (i + 1) % kSamples;
  }
}
BENCHMARK(BM_InverseKinematicsReference);

void BM_InverseKinematicsFlags(benchmark::State& state) {
  Workload& w = workload();
  std::vector<std::array<int, 4>> flags(kSamples);
  for (size_t k = 0; k < kSamples; ++k) w.arm.get_arm_type(w.joints[k].data(), flags[k].data());
  double out[6];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.arm.inverse_kinematics(w.poses[i], flags[i].data(), out));
    i = (i + 1) % kSamples;
  }
}
BENCHMARK(BM_InverseKinematicsFlags);
}  // namespace
