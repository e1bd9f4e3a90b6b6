// litterpose.Kinematics: the Quorvin arm's model.
#include <cmath>
#include <string>
#include <utility>

#include <quorvin_kinematics.h>

#include "bindings.h"

namespace litterpose_python {
namespace {

constexpr double kDegree = M_PI / 180.0;
constexpr int kJoints = 6;

// A float64 array of the shape, or ValueError naming what is wrong with it.
py::array_t<double> numbers(const py::object& value, const char* name,
                            std::initializer_list<py::ssize_t> shape) {
  auto array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(value);
  if (!array) {
    PyErr_Clear();
    throw py::value_error(std::string(name) + " must be an array of numbers");
  }
  bool same = array.ndim() == static_cast<py::ssize_t>(shape.size());
  std::string expected;
  py::ssize_t axis = 0;
  for (const py::ssize_t size : shape) {
    same = same && array.shape(axis++) == size;
    expected += (expected.empty() ? "(" : ", ") + std::to_string(size);
  }
  expected += shape.size() == 1 ? ",)" : ")";
  if (!same) throw py::value_error(std::string(name) + " must be of shape " + expected);
  for (py::ssize_t i = 0; i < array.size(); ++i)
    if (!std::isfinite(array.data()[i]))
      throw py::value_error(std::string(name) + " holds a number that is not finite");
  return array;
}

class Kinematics {
public:
  explicit Kinematics(py::object console)
      : arm_(QuorvinArm::dh_d, QuorvinArm::dh_a, QuorvinArm::dh_alpha, QuorvinArm::dh_offset),
        standard_output_(arm_.line_hook()) {
    setConsole(std::move(console));
  }

  py::array_t<double> forward(const py::object& joints_deg) {
    const auto joints = numbers(joints_deg, "joints_deg", {kJoints});
    double q[kJoints];
    for (int i = 0; i < kJoints; ++i) q[i] = joints.data()[i] * kDegree;
    const PrintingOnStandardOutput printing(prints_);
    const Eigen::MatrixXd pose = arm_.forward_kinematics(q);
    auto out = doubles({4, 4});
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) out.mutable_at(r, c) = pose(r, c);
    return out;
  }

  py::tuple inverse(const py::object& pose_or_position, const py::object& quaternion,
                    const py::object& reference_deg) {
    Eigen::MatrixXd pose = Eigen::MatrixXd::Identity(4, 4);
    if (quaternion.is_none()) {
      const auto m = numbers(pose_or_position, "pose", {4, 4});
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) pose(r, c) = m.at(r, c);
    } else {
      const auto p = numbers(pose_or_position, "position", {3});
      const auto q = numbers(quaternion, "quaternion", {4});
      Eigen::Quaterniond rotation(q.at(0), q.at(1), q.at(2), q.at(3));
      if (!(rotation.norm() > 0.0)) throw py::value_error("quaternion must not be zero");
      pose.block<3, 3>(0, 0) = rotation.normalized().toRotationMatrix();
      for (int i = 0; i < 3; ++i) pose(i, 3) = p.at(i);
    }
    double reference[kJoints];
    for (int i = 0; i < kJoints; ++i) reference[i] = QuorvinArm::reference_joints[i];
    if (!reference_deg.is_none()) {
      const auto given = numbers(reference_deg, "reference_deg", {kJoints});
      for (int i = 0; i < kJoints; ++i) reference[i] = given.at(i) * kDegree;
    }
    double joints[kJoints];
    const PrintingOnStandardOutput printing(prints_);
    const int code = arm_.inverse_kinematics(pose, reference, joints);
    if (code != QuorvinKinematics::kSolved) return py::make_tuple(code, py::none());
    auto out = doubles({kJoints});
    for (int i = 0; i < kJoints; ++i) out.mutable_at(i) = joints[i] / kDegree;
    return py::make_tuple(code, out);
  }

  py::object jointLimits() const {
    if (arm_.joint_limit_.rows() == 0) return py::none();
    auto out = doubles({kJoints, 2});
    for (int r = 0; r < kJoints; ++r)
      for (int c = 0; c < 2; ++c) out.mutable_at(r, c) = arm_.joint_limit_(r, c) / kDegree;
    return std::move(out);
  }

  void setJointLimits(const py::object& limits_deg) {
    if (limits_deg.is_none()) {
      arm_.joint_limit_.resize(0, 0);
      return;
    }
    const auto given = numbers(limits_deg, "joint_limits", {kJoints, 2});
    Eigen::MatrixXd limits(kJoints, 2);
    for (int r = 0; r < kJoints; ++r) {
      limits(r, 0) = given.at(r, 0);
      limits(r, 1) = given.at(r, 1);
      if (limits(r, 0) > limits(r, 1))
        throw py::value_error("joint_limits: joint " + std::to_string(r + 1) +
                              " has its lower limit above its upper one");
    }
    arm_.set_joint_limit_angle_to_rad(limits);
  }

  py::object console() const { return console_; }
  void setConsole(py::object console) {
    const ConsoleChoice choice = consoleChoice(console, "litterpose.kinematics");
    switch (choice.kind) {
      case ConsoleChoice::Kind::none: arm_.set_line_hook(nullptr); break;
      case ConsoleChoice::Kind::standard_output: arm_.set_line_hook(standard_output_); break;
      case ConsoleChoice::Kind::lines: arm_.set_line_hook(choice.lines); break;
    }
    prints_ = choice.kind == ConsoleChoice::Kind::standard_output;
    console_ = std::move(console);
    console_target_ = choice.target;
  }

  // For the garbage collector (see collectable).
  int traverse(visitproc visit, void* arg) const {
    return visitConsole(console_, console_target_, visit, arg);
  }
  void clear() {
    arm_.set_line_hook(nullptr);
    console_target_.reset();
    console_ = py::none();
  }

private:
  QuorvinKinematics arm_;
  QuorvinKinematics::LineHook standard_output_;
  bool prints_ = false;  // the console is standard output
  py::object console_;
  std::shared_ptr<py::object> console_target_;
};

}  // namespace

void bindKinematics(py::module_& m) {
  py::class_<Kinematics>(m, "Kinematics", py::custom_type_setup(madeByInit<Kinematics>), R"(The Quorvin arm as the estimator models it.

Poses are 4 x 4 homogeneous transforms of the flange in the arm base frame, in millimetres
(the kinematics' unit); joint angles are in degrees. Calls hold the GIL: one thread at a
time.

Args:
    console: where the inverse kinematics' lines (its refusals) go, as for Estimator;
        nowhere by default, "logging" uses the logger "litterpose.kinematics".
)")
      .def(py::init<py::object>(), py::kw_only(), py::arg("console") = py::none())
      .def("forward", &Kinematics::forward, py::arg("joints_deg"),
           "The flange pose, (4, 4) millimetres, of six joint angles in degrees.")
      .def("inverse", &Kinematics::inverse, py::arg("pose"), py::arg("quaternion") = py::none(),
           py::kw_only(), py::arg("reference_deg") = py::none(),
           R"(Joint angles that put the flange at a pose.

Args:
    pose: a (4, 4) transform in millimetres; or, with quaternion, the position (3,).
    quaternion: the orientation (w, x, y, z) of the position given as pose.
    reference_deg: six joint angles in degrees whose arm configuration the solution keeps,
        joint 6 turned nearest to theirs; by default the estimator's reference.

Returns:
    (code, joints_deg): code 0 and the six angles in degrees, or a negative code (see
    describe) and None.
)")
      .def_static("describe", &QuorvinKinematics::describe, py::arg("code"),
                  "The meaning of an inverse kinematics code.")
      .def_property_readonly_static(
          "reference_deg",
          [](const py::object&) {
            auto out = doubles({kJoints});
            for (int i = 0; i < kJoints; ++i)
              out.mutable_at(i) = QuorvinArm::reference_joints[i] / kDegree;
            return out;
          },
          "The estimator's reference joint angles, in degrees.")
      .def_property("joint_limits", &Kinematics::jointLimits, &Kinematics::setJointLimits,
                    "Lower and upper limit of each joint in degrees, (6, 2), or None when the "
                    "joints are not limited (as the estimator's arm); settable.")
      .def_property("console", &Kinematics::console, &Kinematics::setConsole,
                    "Where the lines go; settable.");
}

}  // namespace litterpose_python
