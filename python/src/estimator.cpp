// litterpose.Estimator and litterpose.Estimate.
#include <charconv>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <memory>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include <boost/system/system_error.hpp>
#include <litterpose.h>
#include <litterpose_configuration.h>
#include <litterpose_console.h>
#include <litterpose_points.h>
#include <litterpose_result.h>
#include <yaml-cpp/exceptions.h>

#include "bindings.h"

namespace litterpose_python {
namespace {

using litterpose::Reason;

// What one estimate answered, copied out of the estimator while it was held.
struct Estimate {
  int code = 0;
  litterpose::Entry entry = litterpose::Entry::CommonGrabPoseFunc;
  int trash_type = 0;
  Reason reason = Reason::kNone;
  std::string reason_text;
  int ik_code = 0;
  Eigen::Vector3f position = Eigen::Vector3f::Zero();
  Eigen::Quaterniond orientation = Eigen::Quaterniond::Identity();
  MainAxisType main_axis_type = HORIZONTAL;
  // The shape analysis ran to its end (not so after too few points or a non-finite shape);
  // the entry GrabPoseEstimateFunc leaves out the axis-aligned box.
  bool shape = false;
  bool aligned_box = false;
  Eigen::Vector3f pca_center = Eigen::Vector3f::Zero();
  Eigen::Matrix3f pca_vectors = Eigen::Matrix3f::Zero();
  Eigen::Vector3f pca_lengths = Eigen::Vector3f::Zero();
  Eigen::Vector3f obb_center = Eigen::Vector3f::Zero();
  Eigen::Quaternionf obb_orientation = Eigen::Quaternionf::Identity();
  Eigen::Vector3f obb_min = Eigen::Vector3f::Zero();
  Eigen::Vector3f obb_max = Eigen::Vector3f::Zero();
  Eigen::Vector3f aabb_center = Eigen::Vector3f::Zero();
  Eigen::Vector3f aabb_min = Eigen::Vector3f::Zero();
  Eigen::Vector3f aabb_max = Eigen::Vector3f::Zero();
  Eigen::Matrix<float, 4, 2> footprint = Eigen::Matrix<float, 4, 2>::Zero();
  std::size_t points_read = 0;
  std::size_t points_prepared = 0;
  double elapsed_ms = 0.0;

  bool found() const { return code == litterpose::kGrabFound; }
  // The codes that end an estimate before its main axis is classified.
  bool classified() const {
    return code != litterpose::kTooFewPoints && code != litterpose::kOutsideWorkspace;
  }
};

Eigen::Vector3f vec(const pcl::PointXYZ& p) { return {p.x, p.y, p.z}; }

Estimate record(const GrabPoseEstimate& e, litterpose::Entry entry, int code) {
  Estimate r;
  r.code = code;
  r.entry = entry;
  r.trash_type = e.trash_type_;
  r.reason = e.reason_;
  r.reason_text = e.reason_text_;
  r.ik_code = e.ik_code_;
  r.position = e.grab_pose_.position;
  r.orientation = e.grab_pose_.orientation;
  r.main_axis_type = e.main_axis_type_;
  r.shape = e.reason_ != Reason::kNone && e.reason_ != Reason::kTooFewPoints &&
            e.reason_ != Reason::kNonFiniteShape;
  r.aligned_box = r.shape && entry != litterpose::Entry::GrabPoseEstimateFunc;
  r.pca_center = e.pca_center_.head<3>();
  r.pca_vectors = e.pca_vectors_;
  r.pca_lengths = e.pca_lengths_;
  r.obb_center = e.obb_position_;
  r.obb_orientation = e.obb_orientation_;
  r.obb_min = vec(e.obb_min_point_);
  r.obb_max = vec(e.obb_max_point_);
  r.aabb_center = e.aabb_center_;
  r.aabb_min = vec(e.aabb_min_point_);
  r.aabb_max = vec(e.aabb_max_point_);
  for (int i = 0; i < 4; ++i) r.footprint.row(i) << e.rect_points_[i].x, e.rect_points_[i].y;
  return r;
}

template <typename Derived>
py::array_t<double> array(const Eigen::MatrixBase<Derived>& m) {
  py::array_t<double> out = Derived::ColsAtCompileTime == 1
                                ? doubles({Derived::RowsAtCompileTime})
                                : doubles({Derived::RowsAtCompileTime, Derived::ColsAtCompileTime});
  double* data = out.mutable_data();
  for (int r = 0; r < m.rows(); ++r)
    for (int c = 0; c < m.cols(); ++c) data[r * m.cols() + c] = static_cast<double>(m(r, c));
  return out;
}

// A float read from the configuration as the file wrote it (0.2, not 0.200000003).
double asWritten(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::strtod(std::string(text, end).c_str(), nullptr);
}

py::object when(bool present, py::object value) { return present ? value : py::none(); }

const char* entryName(litterpose::Entry entry) {
  switch (entry) {
    case litterpose::Entry::GrabPoseEstimateFunc: return "main";
    case litterpose::Entry::CommonGrabPoseFunc: return "common";
    case litterpose::Entry::GetInitialGrabPose: return "initial";
  }
  return "unknown";
}

// Every number an estimate holds beyond its scalars, in a fixed order: f(value) for each
// float or double member, so that saving and restoring an estimate walk the same list.
template <typename E, typename F>
void eachNumber(E& r, F&& f) {
  const auto all = [&f](auto& m) {
    for (Eigen::Index i = 0; i < m.size(); ++i) f(m.data()[i]);
  };
  all(r.position);
  all(r.orientation.coeffs());
  all(r.pca_center);
  all(r.pca_vectors);
  all(r.pca_lengths);
  all(r.obb_center);
  all(r.obb_orientation.coeffs());
  all(r.obb_min);
  all(r.obb_max);
  all(r.aabb_center);
  all(r.aabb_min);
  all(r.aabb_max);
  all(r.footprint);
}

// The version of an estimate's pickled state; a state of another one is refused.
constexpr int kStateVersion = 1;

// An estimate as a tuple of Python's own values, for pickle and copy.
py::tuple stateOf(const Estimate& r) {
  py::list numbers;
  eachNumber(r, [&numbers](auto value) { numbers.append(static_cast<double>(value)); });
  return py::make_tuple(kStateVersion, r.code, entryName(r.entry), r.trash_type,
                        static_cast<int>(r.reason), r.reason_text, r.ik_code,
                        static_cast<int>(r.main_axis_type), r.shape, r.aligned_box, r.points_read,
                        r.points_prepared, r.elapsed_ms, py::tuple(numbers));
}

// The estimate a state of stateOf describes. Raises ValueError for anything else (a
// pickle from another version, or one edited by hand).
Estimate fromState(const py::handle& state_object) {
  const auto refuse = [](const std::string& what) {
    throw py::value_error("not the state of a litterpose.Estimate: " + what);
  };
  if (!py::isinstance<py::tuple>(state_object)) refuse("not a tuple");
  const auto state = py::reinterpret_borrow<py::tuple>(state_object);
  constexpr std::size_t kFields = 14;
  if (state.size() != kFields || intArgument(state[0], "the state's version") != kStateVersion)
    refuse("another version or length");
  Estimate r;
  try {
    r.code = intArgument(state[1], "code");
    const auto entry = litterpose::entryNamed(py::str(state[2]).cast<std::string>());
    if (!entry) refuse("an unknown entry");
    r.entry = *entry;
    r.trash_type = intArgument(state[3], "trash_type");
    r.reason = static_cast<Reason>(intArgument(state[4], "reason"));
    if (std::string(litterpose::reasonName(r.reason)) == "unknown") refuse("an unknown reason");
    r.reason_text = py::str(state[5]).cast<std::string>();
    r.ik_code = intArgument(state[6], "ik_code");
    const int axis = intArgument(state[7], "main_axis_type");
    if (axis < HORIZONTAL || axis > TILTED_HIGH) refuse("an unknown main-axis class");
    r.main_axis_type = static_cast<MainAxisType>(axis);
    r.shape = state[8].cast<bool>();
    r.aligned_box = state[9].cast<bool>();
    r.points_read = state[10].cast<std::size_t>();
    r.points_prepared = state[11].cast<std::size_t>();
    r.elapsed_ms = state[12].cast<double>();
    if (!py::isinstance<py::tuple>(state[13])) refuse("its numbers are not a tuple");
    const auto numbers = py::reinterpret_borrow<py::tuple>(state[13]);
    std::size_t count = 0;
    eachNumber(r, [&count](auto&) { ++count; });
    if (numbers.size() != count) refuse("another count of numbers");
    std::size_t next = 0;
    eachNumber(r, [&](auto& value) {
      value = static_cast<std::remove_reference_t<decltype(value)>>(numbers[next++].cast<double>());
    });
  } catch (const py::cast_error&) {
    refuse("a value of another type");
  }
  if (r.found() && !(r.position.allFinite() && r.orientation.coeffs().allFinite()))
    refuse("a grasp pose that is not finite");
  return r;
}

// Raises OSError(errno, message, filename), which Python turns into FileNotFoundError,
// PermissionError, ... by the number.
[[noreturn]] void raiseOSError(int number, const std::string& message, const py::object& path) {
  py::object error = py::module_::import("builtins").attr("OSError")(number, message, path);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

class ConfigurationError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class Estimator {
  // Runs f on the estimator while no other thread uses it. An estimate on another thread
  // holds the estimator without the GIL and may need the GIL for a console line: the GIL
  // is given up while waiting for the estimator.
  template <typename F>
  auto holding(F&& f) {
    refuseFromItsOwnEstimate();
    std::unique_lock<std::mutex> hold(mutex_, std::try_to_lock);
    if (!hold.owns_lock()) {
      py::gil_scoped_release released;
      hold.lock();
    }
    return f(*estimator_);
  }

public:
  // While an estimate runs, its console lines may call back into Python on the same thread;
  // a call on this estimator from there would wait for itself.
  void refuseFromItsOwnEstimate() const {
    if (estimating_on_ == std::this_thread::get_id())
      throw std::runtime_error(
          "this estimator is busy with an estimate on this thread (a console callback cannot "
          "use the estimator whose lines it receives)");
  }

  Estimator(const FilePath& config_path, py::object console)
      : config_path_(config_path.name), console_(console) {
    const ConsoleChoice choice = consoleChoice(console, "litterpose.estimator");
    console_target_ = choice.target;
    prints_ = choice.kind == ConsoleChoice::Kind::standard_output;
    const std::string failure = "cannot load the configuration file '" + config_path.shown + "': ";
    const PrintingOnStandardOutput printing(prints_);
    try {
      estimator_ = std::make_unique<GrabPoseEstimate>(config_path.bytes, sink(choice));
    } catch (const litterpose::ConfigurationFileError& error) {
      raiseOSError(error.error_number, failure + error.reason, config_path_);
    } catch (const YAML::Exception& error) {
      throw ConfigurationError(failure + error.what());
    } catch (const boost::system::system_error& error) {
      raiseOSError(error.code().value(),
                   "cannot create the estimator's data directories: " + std::string(error.what()),
                   config_path_);
    }
    configured_.emplace(*estimator_);
  }

  Estimate estimate(const py::handle& points, const py::handle& trash_type_argument,
                    const std::string& entry_name, const std::string& frame) {
    const int trash_type = intArgument(trash_type_argument, "trash_type");
    const auto entry = litterpose::entryNamed(entry_name);
    if (!entry)
      throw py::value_error("entry must be 'main', 'common' or 'initial', not '" + entry_name +
                            "'");
    if (frame != "camera" && frame != "base")
      throw py::value_error("frame must be 'camera' or 'base', not '" + frame + "'");
    refuseFromItsOwnEstimate();
    const PointsArgument input = pointsArgument(points);

    const PrintingOnStandardOutput printing(prints_);
    py::gil_scoped_release released;
    const std::lock_guard<std::mutex> hold(mutex_);
    struct Estimating {
      std::atomic<std::thread::id>& on;
      explicit Estimating(std::atomic<std::thread::id>& thread) : on(thread) {
        on = std::this_thread::get_id();
      }
      ~Estimating() { on = std::thread::id(); }
    } estimating(estimating_on_);
    GrabPoseEstimate& e = *estimator_;
    auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    litterpose::cloudFromPoints(input.view, frame == "camera" ? &e.camera_extrinsic_ : nullptr,
                                *cloud);
    const std::size_t points_read = cloud->size();
    configured_->restore(e);
    e.trash_type_ = trash_type;
    const auto start = std::chrono::steady_clock::now();
    const int code = litterpose::runEntry(e, *entry, cloud);
    const auto stop = std::chrono::steady_clock::now();
    Estimate result = record(e, *entry, code);
    result.points_read = points_read;
    result.points_prepared = cloud->size();
    result.elapsed_ms = std::chrono::duration<double, std::milli>(stop - start).count();
    return result;
  }

  py::object configPath() const { return config_path_; }

  py::object console() const { return console_; }
  void setConsole(py::object console) {
    const ConsoleChoice choice = consoleChoice(console, "litterpose.estimator");
    holding([&](GrabPoseEstimate& e) {
      e.setConsoleSink(sink(choice));
      prints_ = choice.kind == ConsoleChoice::Kind::standard_output;
    });
    console_ = std::move(console);
    console_target_ = choice.target;
  }

  // For the garbage collector: the Python objects the console holds, and their release
  // (unless an estimate holds the estimator; then the cycle stays until a later collection).
  int traverse(visitproc visit, void* arg) const {
    return visitConsole(console_, console_target_, visit, arg);
  }
  void clear() {
    std::unique_lock<std::mutex> hold(mutex_, std::try_to_lock);
    if (!hold.owns_lock()) return;
    if (estimator_) estimator_->setConsoleSink(litterpose::ConsoleSink::none());
    console_target_.reset();
    console_ = py::none();
  }

  py::array_t<double> cameraExtrinsic() {
    return holding([](GrabPoseEstimate& e) { return array(e.camera_extrinsic_); });
  }

  py::dict cameraIntrinsics() {
    return holding([](GrabPoseEstimate& e) {
      py::dict d;
      d["fx"] = asWritten(e.fx_);
      d["fy"] = asWritten(e.fy_);
      d["cx"] = asWritten(e.cx_);
      d["cy"] = asWritten(e.cy_);
      return d;
    });
  }

  // By the configuration's keys.
  py::dict windows() {
    return holding([](GrabPoseEstimate& e) {
      const std::pair<const char*, float> values[] = {
          {"base_height", e.base_height_},
          {"workspace_r_min", e.workspace_r_min_},
          {"workspace_r_max", e.workspace_r_max_},
          {"workspace_angle_min", e.workspace_angle_min_},
          {"workspace_angle_max", e.workspace_angle_max_},
          {"grab_vertical_distance_min", e.grab_vertical_distance_min_},
          {"grab_vertical_distance_max", e.grab_vertical_distance_max_},
          {"grab_vertical_angle_min", e.grab_vertical_angle_min_},
          {"grab_vertical_angle_max", e.grab_vertical_angle_max_},
          {"grab_parallel_distance_min", e.grab_parallel_distance_min_},
          {"grab_parallel_distance_max", e.grab_parallel_distance_max_},
          {"grab_parallel_angle_min", e.grab_parallel_angle_min_},
          {"grab_parallel_angle_max", e.grab_parallel_angle_max_},
      };
      py::dict d;
      for (const auto& [key, value] : values) d[key] = asWritten(value);
      return d;
    });
  }

  py::dict robustPreparation() {
    return holding([](GrabPoseEstimate& e) {
      const auto& r = e.robust_preparation_;
      py::dict d;
      d["enable"] = r.enable;
      const std::pair<const char*, float> values[] = {
          {"below_floor_margin", r.below_floor_margin}, {"std_dev_mul", r.std_dev_mul},
          {"voxel_size", r.voxel_size},                 {"floor_clearance", r.floor_clearance},
          {"bottom_share", r.bottom_share},             {"leaf_pixels", r.leaf_pixels},
          {"footprint_trim", r.footprint_trim},         {"footprint_margin", r.footprint_margin},
          {"floor_height_tolerance", r.floor_height_tolerance},
          {"floor_tilt_tolerance", r.floor_tilt_tolerance},
      };
      for (const auto& [key, value] : values) d[key] = asWritten(value);
      if (r.leaf_size >= 0.0f) d["leaf_size"] = asWritten(r.leaf_size);  // a fixed leaf
      return d;
    });
  }

  py::dict gripper() {
    return holding([](GrabPoseEstimate& e) {
      const auto& g = e.gripper_;
      py::dict d;
      d["enable"] = g.enable;
      const std::pair<const char*, float> values[] = {
          {"max_opening", g.max_opening},   {"finger_length", g.finger_length},
          {"finger_width", g.finger_width}, {"finger_thickness", g.finger_thickness},
          {"palm_width", g.palm_width},     {"palm_depth", g.palm_depth},
          {"palm_height", g.palm_height},   {"clearance", g.clearance},
      };
      for (const auto& [key, value] : values) d[key] = asWritten(value);
      d["stray_points"] = g.stray_points;
      return d;
    });
  }

  bool robustPreparationEnabled() {
    return holding([](GrabPoseEstimate& e) { return e.robust_preparation_.enable; });
  }
  void setRobustPreparationEnabled(bool enable) {
    holding([enable](GrabPoseEstimate& e) { e.robust_preparation_.enable = enable; });
  }

private:
  static litterpose::ConsoleSink sink(const ConsoleChoice& choice) {
    switch (choice.kind) {
      case ConsoleChoice::Kind::standard_output: return litterpose::ConsoleSink::standardOutput();
      case ConsoleChoice::Kind::lines: return litterpose::ConsoleSink::toCallback(choice.lines);
      case ConsoleChoice::Kind::none: break;
    }
    return litterpose::ConsoleSink::none();
  }

  py::object config_path_;  // as os.fsdecode gives it
  py::object console_;
  std::shared_ptr<py::object> console_target_;
  std::atomic<bool> prints_{false};  // the console is standard output
  std::mutex mutex_;
  std::atomic<std::thread::id> estimating_on_{};
  std::unique_ptr<GrabPoseEstimate> estimator_;
  std::optional<litterpose::ConfiguredState> configured_;
};

const char* kEstimatorDoc = R"(The grasp pose estimator, built from its YAML configuration.

One estimator serves one thread at a time: calls on it from several threads wait for each
other. Estimators on different threads run in parallel (an estimate releases the GIL).

Each estimate answers as a freshly built estimator of the same configuration would: what
one estimate leaves behind (the preparation's z margin, the main-axis class) is reset
before the next.

Args:
    config_path: the configuration file (grab_pose_estimate_config.yaml).
    console: where the estimator's console lines go: None (nowhere, the default), True or
        "stdout" (the process's standard output, as C++ hosts print them), "logging"
        (debug records of the logger "litterpose.estimator"), a logging.Logger, or a
        callable taking each line as a str. Loggers and callables get the lines without
        their colour codes.

Raises:
    OSError: the file cannot be opened (FileNotFoundError, PermissionError, ...), or the
        data directories that construction creates cannot be made.
    ConfigurationError: the file is no valid configuration; the message says why.
)";

const char* kEstimateDoc = R"(Estimates the grasp pose of one object's cloud.

Args:
    points: an (N, 3) float32 or float64 array in metres, of any strides (read in place,
        never copied), rows of non-numbers allowed; or an object holding such points in its
        attribute ``points``, such as an Open3D PointCloud, or in ``point["positions"]``,
        such as Open3D's tensor PointCloud, or a tensor with ``numpy()`` (copied).
    trash_type: the detector's trash type (1, 2 or 3).
    entry: "common" (CommonGrabPoseFunc), "main" (GrabPoseEstimateFunc) or "initial"
        (GetInitialGrabPose).
    frame: "camera" when the points are in the camera frame (brought into the arm base frame
        with the configured extrinsic), "base" when they already are in the base frame.

Returns:
    An Estimate.

Raises:
    ValueError: points of another shape or dtype, an unknown entry or frame, a trash type
        beyond a C int.
    TypeError: a trash type that is no integer.
)";

}  // namespace

void bindEstimator(py::module_& m) {
  py::register_exception<ConfigurationError>(m, "ConfigurationError", PyExc_ValueError);

  py::class_<Estimate>(m, "Estimate", py::custom_type_setup(refuseUnmade<Estimate>),
                      R"(What one estimate answered.

Positions are in metres in the arm base frame. The pose (position, quaternion, rotation) is
None unless code is 1; main_axis_type is None when the estimate ended before classifying the
main axis (codes 11 and 41); the shape members are None when it ended before the shape
analysis was done (too few points, a non-finite shape), and the axis-aligned box also for
the entry "main", which does not compute it.

Estimators make estimates; Estimate(state) remakes one from the state its __reduce__ saved,
which is what pickle, copy and multiprocessing use.)")
      .def(py::init(&fromState), py::arg("state"))
      .def_property_readonly("code", [](const Estimate& r) { return r.code; },
                             "The entry's result code (1: a grasp pose was found).")
      .def_property_readonly("found", &Estimate::found, "Whether code is 1.")
      .def_property_readonly(
          "meaning", [](const Estimate& r) { return litterpose::describeResult(r.code, r.entry); },
          "The code's meaning as this entry returns it.")
      .def_property_readonly(
          "reason", [](const Estimate& r) { return litterpose::reasonName(r.reason); },
          "What the estimate decided, by name: 'found', 'too_few_points', 'outside_window', ...")
      .def_property_readonly("reason_text", [](const Estimate& r) { return r.reason_text; },
                             "What the estimate decided, with the numbers that decided it.")
      .def_property_readonly("ik_code", [](const Estimate& r) { return r.ik_code; },
                             "The inverse kinematics' code of the last candidate pose tried.")
      .def_property_readonly("entry", [](const Estimate& r) { return entryName(r.entry); },
                             "The entry that answered: 'main', 'common' or 'initial'.")
      .def_property_readonly("trash_type", [](const Estimate& r) { return r.trash_type; })
      .def_property_readonly(
          "position", [](const Estimate& r) { return when(r.found(), array(r.position)); },
          "Grasp position of the tool centre point, (3,) metres; None unless code is 1.")
      .def_property_readonly(
          "quaternion",
          [](const Estimate& r) {
            const Eigen::Vector4d wxyz(r.orientation.w(), r.orientation.x(), r.orientation.y(),
                                       r.orientation.z());
            return when(r.found(), array(wxyz));
          },
          "Grasp orientation as a unit quaternion (w, x, y, z); None unless code is 1.")
      .def_property_readonly(
          "rotation",
          [](const Estimate& r) {
            return when(r.found(), array(r.orientation.toRotationMatrix()));
          },
          "Grasp orientation as a (3, 3) rotation matrix; None unless code is 1.")
      .def_property_readonly(
          "main_axis_type",
          [](const Estimate& r) {
            return when(r.classified(), py::int_(static_cast<int>(r.main_axis_type)));
          },
          "Class of the main axis: 1 horizontal, 2 vertical, 3 tilted low, 4 tilted high.")
      .def_property_readonly(
          "pca_center", [](const Estimate& r) { return when(r.shape, array(r.pca_center)); },
          "Centroid of the prepared cloud, (3,).")
      .def_property_readonly(
          "pca_vectors", [](const Estimate& r) { return when(r.shape, array(r.pca_vectors)); },
          "Principal axes as the columns of a (3, 3) array, the main axis first.")
      .def_property_readonly(
          "pca_lengths", [](const Estimate& r) { return when(r.shape, array(r.pca_lengths)); },
          "Extents of the cloud along the principal axes, (3,).")
      .def_property_readonly(
          "obb_center", [](const Estimate& r) { return when(r.shape, array(r.obb_center)); },
          "Centre of the oriented bounding box, (3,).")
      .def_property_readonly(
          "obb_rotation",
          [](const Estimate& r) {
            return when(r.shape, array(r.obb_orientation.toRotationMatrix()));
          },
          "Axes of the oriented bounding box as the columns of a (3, 3) rotation.")
      .def_property_readonly(
          "obb_min", [](const Estimate& r) { return when(r.shape, array(r.obb_min)); },
          "Lower corner of the oriented box in its own frame (about its centre), (3,).")
      .def_property_readonly(
          "obb_max", [](const Estimate& r) { return when(r.shape, array(r.obb_max)); },
          "Upper corner of the oriented box in its own frame (about its centre), (3,).")
      .def_property_readonly(
          "aabb_center",
          [](const Estimate& r) { return when(r.aligned_box, array(r.aabb_center)); },
          "Centre of the axis-aligned bounding box, (3,).")
      .def_property_readonly(
          "aabb_min", [](const Estimate& r) { return when(r.aligned_box, array(r.aabb_min)); },
          "Lower corner of the axis-aligned bounding box, (3,).")
      .def_property_readonly(
          "aabb_max", [](const Estimate& r) { return when(r.aligned_box, array(r.aabb_max)); },
          "Upper corner of the axis-aligned bounding box, (3,).")
      .def_property_readonly(
          "footprint", [](const Estimate& r) { return when(r.shape, array(r.footprint)); },
          "Corners (x, y) of the footprint's minimum-area rectangle, (4, 2).")
      .def_property_readonly("points_read", [](const Estimate& r) { return r.points_read; },
                             "Points handed to the estimate.")
      .def_property_readonly("points_prepared",
                             [](const Estimate& r) { return r.points_prepared; },
                             "Points left after the preparation.")
      .def_property_readonly("elapsed_ms", [](const Estimate& r) { return r.elapsed_ms; },
                             "Time the entry took, in milliseconds.")
      .def("__repr__", [](const py::handle& self) {
        const Estimate& r = made<Estimate>(self);
        std::string text = "Estimate(code=" + std::to_string(r.code) + ", meaning='" +
                           litterpose::describeResult(r.code, r.entry) + "', reason='" +
                           litterpose::reasonName(r.reason) + "'";
        if (r.found())
          text += ", position=" +
                  py::repr(array(r.position).attr("tolist")()).cast<std::string>();
        return text + ")";
      })
      .def("__reduce__",
           [](const py::object& self) {
             return py::make_tuple(py::type::of(self),
                                   py::make_tuple(stateOf(made<Estimate>(self))));
           },
           "Pickles the estimate as its class and its state.");

  py::class_<Estimator>(m, "Estimator", kEstimatorDoc, py::custom_type_setup(madeByInit<Estimator>))
      .def(py::init([](const py::object& path, py::object console) {
             return std::make_unique<Estimator>(filePath(path), std::move(console));
           }),
           py::arg("config_path"), py::kw_only(), py::arg("console") = py::none())
      .def("estimate", &Estimator::estimate, kEstimateDoc, py::arg("points"),
           py::arg("trash_type") = 3, py::arg("entry") = "common", py::arg("frame") = "camera")
      .def_property_readonly("config_path", &Estimator::configPath)
      .def_property("console", &Estimator::console, &Estimator::setConsole,
                    "Where the console lines go (see the class); settable.")
      .def_property_readonly("camera_extrinsic", &Estimator::cameraExtrinsic,
                             "Camera-to-base transform, (4, 4), metres.")
      .def_property_readonly("camera_intrinsics", &Estimator::cameraIntrinsics,
                             "fx, fy, cx and cy, in pixels.")
      .def_property_readonly("windows", &Estimator::windows,
                             "The workspace and grasp windows (metres, degrees) and the base "
                             "height, by their configuration keys.")
      .def_property_readonly("robust_preparation", &Estimator::robustPreparation,
                             "The robust preparation's keys (enable and its parameters).")
      .def_property_readonly("gripper", &Estimator::gripper,
                             "The gripper model's keys (enable, sizes in metres, stray_points).")
      .def_property("robust_preparation_enabled", &Estimator::robustPreparationEnabled,
                    &Estimator::setRobustPreparationEnabled,
                    "Whether the robust preparation runs; settable for this estimator.");
}

}  // namespace litterpose_python
