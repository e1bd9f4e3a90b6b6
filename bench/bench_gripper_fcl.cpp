// The gripper model's floor test of its three boxes (two fingers and the palm, turned as a
// tilted tool is): exact, the deepest corner against the plane, as the library does it, and
// FCL's box against half-space with the contact's depth. The floor is the only part of the
// check FCL could take over: it has no test that counts a cloud's points inside a box.
#include <benchmark/benchmark.h>

#include <algorithm>

#include <Eigen/Geometry>
#include <fcl/narrowphase/collision.h>

namespace {

const Eigen::Vector3d kBoxSizes[3] = {{0.02, 0.01, 0.06}, {0.02, 0.01, 0.06}, {0.05, 0.15, 0.05}};
const Eigen::Vector3d kBoxCentres[3] = {{-0.4, -0.04, -0.12}, {-0.4, 0.04, -0.12}, {-0.4, 0.0, -0.065}};
const Eigen::Vector4d kFloorPlane(0.02, -0.01, 0.9997, 0.176);

void BM_GripperFloorTestExact(benchmark::State& state) {
  Eigen::Matrix3d turn = Eigen::AngleAxisd(0.3, Eigen::Vector3d(0.2, 1.0, 0.1).normalized()).toRotationMatrix();
  const Eigen::Vector3d normal = kFloorPlane.head<3>().normalized();
  for (auto _ : state) {
    benchmark::DoNotOptimize(turn);  // computed anew each time
    double deepest = -1.0;
    for (int b = 0; b < 3; ++b) {
      const Eigen::Vector3d n = turn.transpose() * normal;  // in the box's own frame
      const double lowest = normal.dot(kBoxCentres[b]) + kFloorPlane[3] - n.cwiseAbs().dot(kBoxSizes[b] / 2);
      deepest = std::max(deepest, -lowest);
    }
    benchmark::DoNotOptimize(deepest);
  }
}

void BM_GripperFloorTestFcl(benchmark::State& state) {
  Eigen::Matrix3d turn = Eigen::AngleAxisd(0.3, Eigen::Vector3d(0.2, 1.0, 0.1).normalized()).toRotationMatrix();
  const Eigen::Vector3d normal = kFloorPlane.head<3>().normalized();
  const fcl::Halfspaced floor(-normal, kFloorPlane[3]);  // the solid below the plane
  const fcl::Boxd boxes[3] = {fcl::Boxd(kBoxSizes[0]), fcl::Boxd(kBoxSizes[1]), fcl::Boxd(kBoxSizes[2])};
  const fcl::Transform3d identity = fcl::Transform3d::Identity();
  for (auto _ : state) {
    benchmark::DoNotOptimize(turn);
    bool any = false;
    for (int b = 0; b < 3; ++b) {
      fcl::Transform3d at = fcl::Transform3d::Identity();
      at.linear() = turn;
      at.translation() = kBoxCentres[b];
      fcl::CollisionRequestd request;
      fcl::CollisionResultd result;
      request.enable_contact = true;  // the depth, as the exact test gives it
      fcl::collide(&boxes[b], at, &floor, identity, request, result);
      any = any || result.isCollision();
    }
    benchmark::DoNotOptimize(any);
  }
}

BENCHMARK(BM_GripperFloorTestExact)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_GripperFloorTestFcl)->Unit(benchmark::kNanosecond);

}  // namespace
