// Reading a recorded cloud of 1M points (a binary PLY as litterpose-capture-sim writes it,
// a binary PCD, a binary_compressed PCD): the project's reader against the way the programs
// read clouds before it, through PCL's readers into a PCLPointCloud2 and then x, y and z out
// of it. Both paths end with the same cloud of floats.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <pcl/PCLPointCloud2.h>
#include <pcl/console/print.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <unistd.h>

#include "cloud_file.h"

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;

constexpr std::size_t kPoints = 1000000;

enum Kind { kPly, kPcd, kCompressedPcd };

// The files, written once per run into the temporary directory and removed at exit.
struct Files {
  std::string path[3];
  Files() {
    Cloud cloud;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> at(-0.5f, 0.5f);
    for (std::size_t i = 0; i < kPoints; ++i)
      cloud.push_back(pcl::PointXYZ(at(random), at(random), 0.8f + at(random)));
    const std::string stem = "/tmp/litterpose_bench_cloud_io_" + std::to_string(::getpid());
    path[kPly] = stem + ".ply";
    path[kPcd] = stem + ".pcd";
    path[kCompressedPcd] = stem + "_compressed.pcd";
    pcl::PLYWriter().write(path[kPly], cloud, /*binary=*/true, /*use_camera=*/false);
    pcl::PCDWriter().writeBinary(path[kPcd], cloud);
    pcl::PCDWriter().writeBinaryCompressed(path[kCompressedPcd], cloud);
  }
  ~Files() {
    for (const auto& p : path) std::remove(p.c_str());
  }
};

const Files& files() {
  static const Files f;
  return f;
}

// The reading before the project's reader: PCL's reader, then each coordinate out of the
// point records (float copied, double rounded).
bool readWithPcl(const std::string& path, Kind kind, Cloud& cloud) {
  pcl::PCLPointCloud2 raw;
  const auto level = pcl::console::getVerbosityLevel();
  pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS);
  const int status =
      kind == kPly ? pcl::PLYReader().read(path, raw) : pcl::PCDReader().read(path, raw);
  pcl::console::setVerbosityLevel(level);
  if (status < 0) return false;
  const pcl::PCLPointField* xyz[3] = {nullptr, nullptr, nullptr};
  for (const auto& field : raw.fields)
    for (int axis = 0; axis < 3; ++axis)
      if (field.name == std::string(1, static_cast<char>('x' + axis))) xyz[axis] = &field;
  for (const auto* field : xyz)
    if (field == nullptr) return false;
  const std::size_t points = static_cast<std::size_t>(raw.width) * raw.height;
  cloud.resize(points);
  bool dense = true;
  for (std::size_t i = 0; i < points; ++i) {
    const std::uint8_t* row = raw.data.data() + i * raw.point_step;
    for (int axis = 0; axis < 3; ++axis) {
      float value;
      if (xyz[axis]->datatype == pcl::PCLPointField::FLOAT32) {
        std::memcpy(&value, row + xyz[axis]->offset, sizeof value);
      } else {
        double d;
        std::memcpy(&d, row + xyz[axis]->offset, sizeof d);
        value = static_cast<float>(d);
      }
      cloud[i].data[axis] = value;
    }
    dense = dense && std::isfinite(cloud[i].x) && std::isfinite(cloud[i].y) &&
            std::isfinite(cloud[i].z);
  }
  cloud.width = raw.width;
  cloud.height = raw.height;
  cloud.is_dense = dense;
  return true;
}

void BM_PclReaders(benchmark::State& state) {
  const Kind kind = static_cast<Kind>(state.range(0));
  for (auto _ : state) {
    Cloud cloud;
    if (!readWithPcl(files().path[kind], kind, cloud) || cloud.size() != kPoints)
      state.SkipWithError("not read");
    benchmark::DoNotOptimize(cloud.points.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

void BM_ReadCloud(benchmark::State& state) {
  const Kind kind = static_cast<Kind>(state.range(0));
  for (auto _ : state) {
    Cloud cloud;
    if (litterpose_io::readCloud(files().path[kind], cloud) || cloud.size() != kPoints)
      state.SkipWithError("not read");
    benchmark::DoNotOptimize(cloud.points.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// A PLY of one point whose header declares `elements` empty elements before the vertices, as
// many as fit in the header's megabyte: the checks for a second name take a time linear in
// the header's lines.
void BM_ReadCloudManyElements(benchmark::State& state) {
  const auto elements = static_cast<std::size_t>(state.range(0));
  std::string header = "ply\nformat ascii 1.0\n";
  for (std::size_t e = 0; e < elements; ++e) header += "element e" + std::to_string(e) + " 0\n";
  header += "element vertex 1\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
  const std::string path =
      "/tmp/litterpose_bench_cloud_io_elements_" + std::to_string(::getpid()) + ".ply";
  if (std::FILE* file = std::fopen(path.c_str(), "w")) {
    std::fputs((header + "0.1 0.2 0.3\n").c_str(), file);
    std::fclose(file);
  }
  for (auto _ : state) {
    Cloud cloud;
    if (litterpose_io::readCloud(path, cloud) || cloud.size() != 1) state.SkipWithError("not read");
    benchmark::DoNotOptimize(cloud.points.data());
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * elements));
}

// Argument: 0 binary PLY, 1 binary PCD, 2 binary_compressed PCD.
BENCHMARK(BM_PclReaders)->Arg(kPly)->Arg(kPcd)->Arg(kCompressedPcd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCloud)->Arg(kPly)->Arg(kPcd)->Arg(kCompressedPcd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCloudManyElements)->Arg(6000)->Arg(60000)->Unit(benchmark::kMillisecond);

}  // namespace
