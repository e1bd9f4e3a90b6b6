#include "golden_cases.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <sstream>

#include <pcl/io/ply_io.h>

#include "support/bundled_clouds.h"
#include "support/clouds.h"
#include "support/console.h"

namespace golden {
namespace {

using Cloud = GrabPoseEstimate::Cloud;
using CloudPtr = GrabPoseEstimate::CloudPtr;

const std::string kSourceDir = LITTERPOSE_SOURCE_DIR;
const std::string kConfig = kSourceDir + "/config/grab_pose_estimate_config.yaml";

constexpr int kRandomClouds = 200;
constexpr unsigned kFirstSeed = 20261208;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---------------------------------------------------------------------------------------
// Digests and exact numbers.

class Fnv1a {
public:
  void bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) {
      hash_ ^= p[i];
      hash_ *= 1099511628211ull;
    }
  }
  template <typename T>
  void value(const T& v) {
    bytes(&v, sizeof v);
  }
  std::string hex() const {
    char s[17];
    std::snprintf(s, sizeof s, "%016" PRIx64, hash_);
    return s;
  }

private:
  std::uint64_t hash_ = 14695981039346656037ull;
};

std::string bits(float v) {
  std::uint32_t u;
  std::memcpy(&u, &v, sizeof u);
  char s[9];
  std::snprintf(s, sizeof s, "%08" PRIx32, u);
  return s;
}

std::string bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  char s[17];
  std::snprintf(s, sizeof s, "%016" PRIx64, u);
  return s;
}

template <typename Range>
std::string bitsOf(const Range& values) {
  std::string s;
  for (const auto v : values) {
    if (!s.empty()) s += ',';
    s += bits(v);
  }
  return s;
}

// The printed lines with the milliseconds of the cost lines ("... cost 0.123 ms") left out.
std::string withoutCosts(const std::string& printed) {
  std::string out;
  out.reserve(printed.size());
  std::size_t i = 0;
  while (i < printed.size()) {
    const std::size_t at = printed.find(" cost ", i);
    if (at == std::string::npos) {
      out.append(printed, i, std::string::npos);
      break;
    }
    const std::size_t number = at + 6;
    out.append(printed, i, number - i);
    std::size_t end = number;
    while (end < printed.size() && std::strchr("0123456789.e+-", printed[end]) != nullptr) ++end;
    if (printed.compare(end, 3, " ms") == 0) {
      out += '#';
      i = end;
    } else {
      i = number;
    }
  }
  return out;
}

std::string cloudDigest(const Cloud& cloud) {
  Fnv1a h;
  for (const auto& p : cloud.points) {
    h.value(p.x);
    h.value(p.y);
    h.value(p.z);
  }
  h.value(cloud.width);
  h.value(cloud.height);
  h.value(cloud.is_dense);
  h.value(cloud.header.seq);
  h.value(cloud.header.stamp);
  h.bytes(cloud.header.frame_id.data(), cloud.header.frame_id.size());
  h.bytes(cloud.sensor_origin_.data(), sizeof(float) * 4);
  h.value(cloud.sensor_orientation_.coeffs());
  return h.hex();
}

// ---------------------------------------------------------------------------------------
// Seeded random clouds, in the arm base frame. The numbers come from the generator's exact
// integers and from arithmetic without library functions (directions are normalised
// vectors, not sines and cosines), so that every machine builds the same clouds. No call
// takes more than one draw among its arguments: the order in which arguments are evaluated
// is the compiler's choice (GCC takes the last first on x86-64, the first first on 64-bit
// ARM). Where several draws go into one call, the last is drawn first, as the record was made.

class Random {
public:
  explicit Random(unsigned seed) : engine_(seed) {}
  // Uniform in [0, 1), exactly representable.
  float unit() { return static_cast<float>(engine_() >> 8) * (1.0f / 16777216.0f); }
  float uniform(float lo, float hi) { return lo + (hi - lo) * unit(); }
  bool chance(float p) { return unit() < p; }
  int below(int n) { return static_cast<int>(engine_() % static_cast<unsigned>(n)); }
  // Roughly normal: the sum of four uniforms, centred and scaled to unit variance.
  float normal() {
    float s = unit();
    s += unit();
    s += unit();
    s += unit();
    return (s - 2.0f) * 1.7320508f;
  }
  // A unit vector in the plane, uniformly turned.
  Eigen::Vector2f direction() {
    for (;;) {
      const float y = uniform(-1.0f, 1.0f);
      const Eigen::Vector2f v(uniform(-1.0f, 1.0f), y);
      const float n2 = v.squaredNorm();
      if (n2 > 0.01f && n2 <= 1.0f) return v / std::sqrt(n2);
    }
  }
  // A point count from lo to hi, most of them small: lo + (hi - lo) * u^4.
  int count(int lo, int hi) {
    const float u = unit();
    const float f = u * u * u * u;
    const int n = lo + static_cast<int>(static_cast<float>(hi - lo) * f);
    return std::min(std::max(n, lo), hi);
  }

private:
  std::mt19937 engine_;
};

struct Frame {
  Eigen::Vector3f origin;
  Eigen::Vector3f x, y, z;  // orthonormal
  Eigen::Vector3f at(float a, float b, float c) const { return origin + a * x + b * y + c * z; }
};

using clouds::add;

// Surface of a capped cylinder along frame.x, centred on the frame's origin.
void cylinder(Random& r, Cloud& cloud, const Frame& f, float length, float radius, int n,
              bool upper_half_only) {
  for (int i = 0; i < n; ++i) {
    Eigen::Vector2f d = r.direction();
    if (upper_half_only && d.y() < 0.0f) d.y() = -d.y();
    float along = r.uniform(-0.5f * length, 0.5f * length);
    float scale = radius;
    if (r.chance(0.1f)) {  // a cap
      along = r.chance(0.5f) ? -0.5f * length : 0.5f * length;
      scale = radius * r.unit();
    }
    add(cloud, f.at(along, scale * d.x(), scale * d.y()));
  }
}

// Points through the volume (or on the top and sides) of a box in the frame.
void cuboid(Random& r, Cloud& cloud, const Frame& f, const Eigen::Vector3f& size, int n,
            bool surface) {
  for (int i = 0; i < n; ++i) {
    const float z = r.uniform(-0.5f, 0.5f) * size.z();
    const float y = r.uniform(-0.5f, 0.5f) * size.y();
    Eigen::Vector3f local(r.uniform(-0.5f, 0.5f) * size.x(), y, z);
    if (surface) {
      const int face = r.below(3);
      if (face == 0) local.z() = 0.5f * size.z();
      else if (face == 1) local.x() = (r.chance(0.5f) ? 0.5f : -0.5f) * size.x();
      else local.y() = (r.chance(0.5f) ? 0.5f : -0.5f) * size.y();
    }
    add(cloud, f.at(local.x(), local.y(), local.z()));
  }
}

// A horizontal frame at a place on the floor: distance and bearing (0 straight ahead along
// -x, positive towards +y, as a unit vector), the object's long side turned by `turn`.
Frame onFloor(float distance, const Eigen::Vector2f& bearing, const Eigen::Vector2f& turn,
              float floor_z) {
  Frame f;
  f.origin = Eigen::Vector3f(-distance * bearing.x(), distance * bearing.y(), floor_z);
  f.x = Eigen::Vector3f(turn.x(), turn.y(), 0.0f);
  f.y = Eigen::Vector3f(-turn.y(), turn.x(), 0.0f);
  f.z = Eigen::Vector3f(0.0f, 0.0f, 1.0f);
  return f;
}

CloudPtr randomCloud(unsigned seed, float floor_z) {
  Random r(seed);
  auto cloud = std::make_shared<Cloud>();
  const int n = r.count(100, 100000);
  const float distance = r.uniform(0.1f, 0.95f);
  Eigen::Vector2f bearing = r.direction();
  if (bearing.x() < 0.0f) bearing.x() = -bearing.x();  // in front of the arm, -90 to 90 deg
  if (r.chance(0.1f)) bearing.x() = -bearing.x();      // now and then behind it
  const Frame floor = onFloor(distance, bearing, r.direction(), floor_z);
  const int kind = r.below(10);
  Frame object = floor;
  switch (kind) {
    case 0:
    case 1: {  // lying rod: bottle, stick, can on its side
      const float radius = r.uniform(0.004f, 0.05f);
      object.origin.z() += radius;
      const bool upper_half_only = r.chance(0.6f);
      cylinder(r, *cloud, object, r.uniform(0.04f, 0.35f), radius, n, upper_half_only);
      break;
    }
    case 2: {  // standing cylinder
      const float height = r.uniform(0.02f, 0.26f);
      Frame up = object;
      up.origin.z() += 0.5f * height;
      up.x = floor.z;
      up.z = -floor.x;
      cylinder(r, *cloud, up, height, r.uniform(0.015f, 0.06f), n, false);
      break;
    }
    case 3:
    case 4: {  // box: carton, sheet of paper
      const float z = r.chance(0.3f) ? r.uniform(0.0005f, 0.004f) : r.uniform(0.01f, 0.16f);
      const float y = r.uniform(0.01f, 0.15f);
      const Eigen::Vector3f size(r.uniform(0.02f, 0.25f), y, z);
      object.origin.z() += 0.5f * size.z();
      cuboid(r, *cloud, object, size, n, r.chance(0.5f));
      break;
    }
    case 5:
    case 6: {  // rod at any elevation, its lower end on the floor
      const float length = r.uniform(0.05f, 0.3f);
      const Eigen::Vector2f elevation = r.direction();  // (cos, sin) of the elevation
      Frame tilted = object;
      tilted.x = std::fabs(elevation.x()) * floor.x + std::fabs(elevation.y()) * floor.z;
      tilted.z = floor.y.cross(tilted.x);
      tilted.y = floor.y;
      tilted.origin = floor.origin + 0.5f * length * tilted.x;
      tilted.origin.z() += 0.02f;
      cylinder(r, *cloud, tilted, length, r.uniform(0.005f, 0.04f), n, false);
      break;
    }
    case 7: {  // lump: points through a squat box with rounded noise
      const float z = r.uniform(0.02f, 0.12f);
      const float y = r.uniform(0.02f, 0.12f);
      const Eigen::Vector3f size(r.uniform(0.02f, 0.12f), y, z);
      object.origin.z() += 0.5f * size.z();
      cuboid(r, *cloud, object, size, n, false);
      for (auto& p : cloud->points) p.z += 0.01f * r.normal();
      break;
    }
    default: {  // degenerate shapes
      const int shape = r.below(6);
      const int m = shape == 0 ? r.below(12) : n;
      const Eigen::Vector3f base = object.origin + Eigen::Vector3f(0.0f, 0.0f, 0.01f);
      for (int i = 0; i < m; ++i) {
        switch (shape) {
          case 0: {  // a handful of points
            const float z = r.uniform(0.0f, 0.05f);
            const float y = r.uniform(-0.05f, 0.05f);
            add(*cloud, base + Eigen::Vector3f(r.uniform(-0.05f, 0.05f), y, z));
            break;
          }
          case 1: add(*cloud, base); break;  // one point, repeated
          case 2: add(*cloud, base + r.uniform(0.0f, 0.2f) * floor.x); break;  // a line
          case 3: add(*cloud, base + Eigen::Vector3f(0.0f, 0.0f, r.uniform(0.0f, 0.15f))); break;
          case 4: {  // a horizontal plane
            const float b = r.uniform(-0.05f, 0.05f);
            add(*cloud, object.at(r.uniform(-0.1f, 0.1f), b, 0.0f));
            break;
          }
          default: {  // a vertical wall
            const float c = r.uniform(0.0f, 0.1f);
            add(*cloud, object.at(r.uniform(-0.1f, 0.1f), 0.0f, c));
          }
        }
      }
    }
  }

  // What a capture adds: depth noise, floor around the object, stray points.
  const float noise = r.chance(0.6f) ? r.uniform(0.0f, 0.003f) : 0.0f;
  if (noise > 0.0f) {
    for (auto& p : cloud->points) {
      p.x += noise * r.normal();
      p.y += noise * r.normal();
      p.z += noise * r.normal();
    }
  }
  if (r.chance(0.4f)) {
    const int floor_points = 1 + static_cast<int>(cloud->size()) / r.uniform(4.0f, 20.0f);
    const float reach = r.uniform(0.05f, 0.2f);
    for (int i = 0; i < floor_points; ++i) {
      const float c = noise * r.normal();
      const float b = r.uniform(-reach, reach);
      add(*cloud, floor.at(r.uniform(-reach, reach), b, c));
    }
  }
  if (r.chance(0.3f)) {
    const int strays = 1 + static_cast<int>(cloud->size() / 200);
    for (int i = 0; i < strays && !cloud->empty(); ++i) {
      auto p = cloud->points[static_cast<std::size_t>(r.below(static_cast<int>(cloud->size())))];
      p.z += r.uniform(-0.08f, 0.08f);
      p.x += r.uniform(-0.03f, 0.03f);
      cloud->push_back(p);
    }
  }
  if (r.chance(0.08f)) {
    const int holes = 1 + static_cast<int>(cloud->size() / 50);
    for (int i = 0; i < holes; ++i) {
      const float bad = r.chance(0.8f) ? kNaN : (r.chance(0.5f) ? kInf : -kInf);
      cloud->push_back(pcl::PointXYZ(bad, r.chance(0.5f) ? bad : 0.1f, bad));
    }
    cloud->is_dense = r.chance(0.3f);
  }
  // The preparation must keep, drop or reset a caller's header as it always did.
  cloud->header.frame_id = "base_link";
  cloud->header.stamp = seed;
  cloud->header.seq = seed % 1000;
  return cloud;
}

// ---------------------------------------------------------------------------------------
// The adversarial clouds of the robustness tests, exactly.

using clouds::at_bearing;
using clouds::column;

CloudPtr withPoints(CloudPtr cloud, int n, const pcl::PointXYZ& p) {
  for (int i = 0; i < n; ++i) cloud->push_back(p);
  return cloud;
}

CloudPtr adversaryObject() {
  return clouds::lying_rod(at_bearing(0.35f, 10.0f), 30.0f, 0.2f, 0.015f, 600);
}

std::vector<std::pair<std::string, std::function<CloudPtr()>>> adversaries() {
  return {
      {"empty", [] { return std::make_shared<Cloud>(); }},
      {"one-point", [] { return column(-0.4f, 0.0f, -0.17f, 0.01f, 1); }},
      {"two-points", [] { return column(-0.4f, 0.0f, -0.17f, 0.01f, 2); }},
      {"three-points", [] { return column(-0.4f, 0.05f, -0.17f, 0.01f, 3); }},
      {"all-equal",
       [] { return withPoints(std::make_shared<Cloud>(), 300, {-0.4f, 0.1f, -0.17f}); }},
      {"collinear",
       [] { return clouds::rod({-0.4f, 0.1f, -0.15f}, {1.0f, 0.5f, 0.0f}, 0.2f, 0.0f, 300); }},
      {"coplanar",
       [] { return clouds::box({-0.4f, 0.1f, -0.17f}, {0.1f, 0.08f, 0.0f}, 15.0f, 300); }},
      {"vertical-line", [] { return column(-0.45f, 0.05f, -0.176f, 0.001f, 300); }},
      {"some-nan", [] { return withPoints(adversaryObject(), 40, {kNaN, 0.0f, kNaN}); }},
      {"some-infinite", [] { return withPoints(adversaryObject(), 40, {kInf, -kInf, 0.0f}); }},
      {"mostly-nan",
       [] {
         return withPoints(clouds::lying_rod(at_bearing(0.35f, 10.0f), 30.0f, 0.2f, 0.015f, 60), 80,
                           {kNaN, kNaN, kNaN});
       }},
      {"all-nan", [] { return withPoints(std::make_shared<Cloud>(), 300, {kNaN, kNaN, kNaN}); }},
      {"all-nan-not-dense",
       [] {
         auto c = withPoints(std::make_shared<Cloud>(), 300, {kNaN, kNaN, kNaN});
         c->is_dense = false;
         return c;
       }},
      {"huge-coordinates",
       [] {
         auto c = adversaryObject();
         for (auto& p : c->points) p.getVector3fMap() *= 1e30f;
         return c;
       }},
      {"huge-outliers",
       [] {
         auto c = withPoints(adversaryObject(), 5, {1e20f, 1e20f, 0.0f});
         return withPoints(c, 5, {-1e20f, -1e20f, 0.0f});
       }},
      {"rod-200000",
       [] { return clouds::lying_rod(at_bearing(0.35f, 10.0f), 30.0f, 0.2f, 0.015f, 200000); }},
  };
}

std::string entryName(Entry e) {
  switch (e) {
    case Entry::main: return "main";
    case Entry::common: return "common";
    case Entry::initial: return "initial";
  }
  return "?";
}

int call(GrabPoseEstimate& e, Entry entry, CloudPtr& cloud) {
  switch (entry) {
    case Entry::main: return e.GrabPoseEstimateFunc(cloud);
    case Entry::common: return e.CommonGrabPoseFunc(cloud);
    case Entry::initial: return e.GetInitialGrabPose(cloud);
  }
  return 0;
}

std::vector<std::string> bundledClouds() {
  std::vector<std::string> files;
  for (const auto& path : support::bundledCloudPaths())
    files.push_back(std::filesystem::path(path).filename().string());
  return files;
}

}  // namespace

std::vector<CloudCase> cloudCases() {
  std::vector<CloudCase> cases;
  for (const std::string& file : bundledClouds()) {
    cases.push_back({"data/" + file, Settings{}, [file](GrabPoseEstimate& e) {
                       auto camera = std::make_shared<Cloud>();
                       if (pcl::PLYReader().read(kSourceDir + "/data/" + file, *camera) < 0)
                         throw std::runtime_error("cannot read data/" + file);
                       auto cloud = std::make_shared<Cloud>();
                       e.PclTransform(camera, cloud, e.camera_extrinsic_);
                       return cloud;
                     }});
  }
  for (const auto& [name, make] : adversaries()) {
    cases.push_back({"adversary/" + name, Settings{},
                     [make = make](GrabPoseEstimate&) { return make(); }});
  }
  for (int i = 0; i < kRandomClouds; ++i) {
    const unsigned seed = kFirstSeed + static_cast<unsigned>(i);
    Random r(seed ^ 0x5eedu);
    Settings s;
    s.is_on_floor = r.chance(0.2f);
    s.is_grab_slanted = r.chance(0.5f);
    s.enable_pcacenter_extend = r.chance(0.8f);
    cases.push_back({"random/" + std::to_string(seed), s, [seed](GrabPoseEstimate& e) {
                       return randomCloud(seed, -e.base_height_);
                     }});
  }
  return cases;
}

std::vector<Run> runs() {
  std::vector<Run> all;
  for (int type : {1, 2, 3})
    for (bool prepare : {true, false}) all.push_back({Entry::main, type, prepare});
  for (Entry entry : {Entry::common, Entry::initial})
    for (int type : {1, 2, 3}) all.push_back({entry, type, true});
  // The robust preparation, through each entry with the trash type that grasps from the side.
  for (Entry entry : {Entry::main, Entry::common, Entry::initial})
    all.push_back({entry, 3, true, true});
  return all;
}

std::string runId(const CloudCase& cloud, const Run& run) {
  return cloud.id + "|" + entryName(run.entry) + "|" + std::to_string(run.trash_type) + "|" +
         (run.prepare ? "prepared" : "unprepared") + (run.robust ? "|robust" : "");
}

const std::vector<std::string>& fieldNames() {
  static const std::vector<std::string> names{
      "run",          "code",          "points",       "cloud",        "printed",
      "lowest_z",     "highest_z",     "height",       "pass_margin",  "extend_length",
      "grab_distance", "grab_angle",   "axis_type",    "pca_vectors",  "pca_center",
      "pca_lengths",  "grab_mainaxis", "grab_tcp",     "pose_position", "pose_orientation",
      "obb_position", "obb_orientation", "obb_min",    "obb_max",      "aabb_center",
      "aabb_min",     "aabb_max",      "rect_points",  "rect_direction"};
  return names;
}

std::string recordRun(const CloudCase& cloud_case, const Run& run) {
  std::unique_ptr<GrabPoseEstimate> e;
  CloudPtr cloud;
  e = std::make_unique<GrabPoseEstimate>(kConfig,
                                         litterpose::ConsoleSink::toStream(support::printed()));
  cloud = cloud_case.make(*e);
  e->is_on_floor_ = cloud_case.settings.is_on_floor;
  e->is_grab_slanted_ = cloud_case.settings.is_grab_slanted;
  e->enable_pcacenter_extend_ = cloud_case.settings.enable_pcacenter_extend;
  e->enable_process_cloud_ = run.prepare;
  e->robust_preparation_.enable = run.robust;
  e->trash_type_ = run.trash_type;

  std::string code;
  const std::string printed = support::printed_by([&] {
    try {
      code = std::to_string(call(*e, run.entry, cloud));
    } catch (const std::exception& ex) {
      code = "exception";
    }
  });
  Fnv1a printed_digest;
  const std::string kept = withoutCosts(printed);
  printed_digest.bytes(kept.data(), kept.size());

  const auto& m = *e;
  const Eigen::Quaterniond& q = m.grab_pose_.orientation;
  std::vector<float> rect;
  for (const auto& p : m.rect_points_) {
    rect.push_back(p.x);
    rect.push_back(p.y);
  }
  const auto point = [](const pcl::PointXYZ& p) { return std::vector<float>{p.x, p.y, p.z}; };
  const auto vec = [](const auto& v) {
    return std::vector<float>(v.data(), v.data() + v.size());
  };
  const std::vector<std::string> fields{
      runId(cloud_case, run),
      code,
      std::to_string(cloud ? cloud->size() : 0),
      cloud ? cloudDigest(*cloud) : "null",
      printed_digest.hex(),
      bits(m.trash_lowest_z_),
      bits(m.trash_highest_z_),
      bits(m.trash_height_),
      bits(m.pass_ajust_value_),
      bits(m.extend_length_),
      bits(m.grab_distance_),
      bits(m.grab_angle_),
      std::to_string(static_cast<int>(m.main_axis_type_)),
      bitsOf(vec(m.pca_vectors_)),
      bitsOf(vec(m.pca_center_)),
      bitsOf(vec(m.pca_lengths_)),
      bitsOf(vec(m.grab_mainaxis_)),
      bitsOf(vec(m.grab_tcp_)),
      bitsOf(vec(m.grab_pose_.position)),
      bitsOf(std::vector<double>{q.w(), q.x(), q.y(), q.z()}),
      bitsOf(vec(m.obb_position_)),
      bitsOf(std::vector<float>{m.obb_orientation_.w(), m.obb_orientation_.x(),
                                m.obb_orientation_.y(), m.obb_orientation_.z()}),
      bitsOf(point(m.obb_min_point_)),
      bitsOf(point(m.obb_max_point_)),
      bitsOf(vec(m.aabb_center_)),
      bitsOf(point(m.aabb_min_point_)),
      bitsOf(point(m.aabb_max_point_)),
      bitsOf(rect),
      bitsOf(vec(m.rect_direction_)),
  };
  std::string line;
  for (const auto& f : fields) {
    if (!line.empty()) line += ' ';
    line += f;
  }
  return line;
}

std::map<std::string, std::string> parseLine(const std::string& line) {
  std::map<std::string, std::string> fields;
  const auto& names = fieldNames();
  // The run id may hold blanks (file names); every other field does not.
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string w;
  while (in >> w) words.push_back(w);
  if (words.size() < names.size()) return {};
  const std::size_t id_words = words.size() - (names.size() - 1);
  std::string id;
  for (std::size_t i = 0; i < id_words; ++i) id += (i ? " " : "") + words[i];
  fields[names[0]] = id;
  for (std::size_t i = 1; i < names.size(); ++i) fields[names[i]] = words[id_words + i - 1];
  return fields;
}

std::string recordPath() { return kSourceDir + "/tests/golden/estimates.golden"; }

}  // namespace golden
