// Closed-form inverse kinematics of the spherical-wrist arm, and the reach-sphere test.
#include "quorvin_kinematics.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr double kPi = M_PI;
// |cos theta5| above this is a straight (or folded) wrist: joints 4 and 6 share one axis.
constexpr double kWristStraightCosine = 0.99999;
// |cos theta5| above this cannot come from a rotation matrix.
constexpr double kWristCosineLimit = 1.00001;

bool is_finite_transform(const Eigen::MatrixXd& pose) {
  return pose.rows() == 4 && pose.cols() == 4 && pose.allFinite();
}

// A rotation (orthonormal, determinant +1) and a translation, the last row 0 0 0 1, within
// what poses built from single-precision quaternions hold. The solution reads only some
// of the rotation's entries: another matrix would be answered as a pose it is not.
constexpr double kRigidTolerance = 1e-4;

bool is_rigid_transform(const Eigen::MatrixXd& pose) {
  const Eigen::Matrix3d rotation = pose.topLeftCorner<3, 3>();
  const Eigen::RowVector4d last_row = pose.row(3);
  return (rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff() <=
             kRigidTolerance &&
         rotation.determinant() > 0.0 &&
         (last_row - Eigen::RowVector4d(0.0, 0.0, 0.0, 1.0)).cwiseAbs().maxCoeff() <=
             kRigidTolerance;
}
}  // namespace

const char* QuorvinKinematics::describe(int code) {
  switch (code) {
    case kSolved: return "solved";
    case kOverheadSingularity: return "overhead singularity";
    case kElbowSingularity: return "elbow singularity or out of reach";
    case kWristSingularity: return "wrist singularity";
    case kWristCosineOutOfRange: return "joint 5 cosine out of range";
    case kJoint6TurnError: return "no turn of joint 6 near the reference";
    case kJointOverLimit: return "joint over limit";
    case kInvalidPose: return "pose is not a finite rigid 4x4 transform";
    case kNonFiniteSolution: return "singular point without a finite solution";
    default: return "unknown";
  }
}

int QuorvinKinematics::inverse_kinematics(Eigen::MatrixXd pose, const double* ref,
                                          double* out) const {
  int flags[4];
  get_arm_type(ref, flags);
  return solve(pose, flags[0], flags[1], flags[2], ref, out);
}

int QuorvinKinematics::inverse_kinematics(Eigen::MatrixXd pose, const int* flags,
                                          double* out) const {
  return solve(pose, flags[0], flags[1], flags[2], nullptr, out);
}

int QuorvinKinematics::solve(const Eigen::MatrixXd& pose, int shoulder, int elbow, int wrist,
                             const double* ref, double* out) const {
  if (!is_finite_transform(pose)) {
    print_line("pose is not a finite 4x4 transform!!!");
    return kInvalidPose;
  }
  if (!is_rigid_transform(pose)) {
    print_line("pose is not a rigid transform!!!");
    return kInvalidPose;
  }
  const double* d = dh_d_;
  const double* a = dh_a_;
  const double r02 = pose(0, 2), r12 = pose(1, 2), r22 = pose(2, 2);

  // Wrist centre, d[5] behind the flange along its z axis.
  const double w0 = pose(0, 3) - d[5] * r02;
  const double w1 = pose(1, 3) - d[5] * r12;
  const double w2 = pose(2, 3) - d[5] * r22;

  const double r = std::sqrt(w0 * w0 + w1 * w1);
  if (r - std::fabs(d[2]) < overhead_singular_threshold_) {
    print_line("overhead singularity error!!!");
    return kOverheadSingularity;
  }

  // Joint 1.
  const double psi = std::asin(d[2] / r);
  const double phi = std::atan2(w1, w0);
  double t = shoulder == 1 ? phi + psi : phi - psi;
  if (t > kPi) t -= 2.0 * kPi;
  if (t < -kPi) t += 2.0 * kPi;
  double theta1;
  if (shoulder == 1) {
    theta1 = t;
  } else {
    theta1 = t >= 0.0 ? t - kPi : t + kPi;
  }

  // Joints 2 and 3: law of cosines in the arm plane.
  const double c1 = std::cos(theta1), s1 = std::sin(theta1);
  const double L = std::sqrt(a[2] * a[2] + d[3] * d[3]);
  const double X = w0 - d[2] * s1 - a[0] * c1;
  const double Y = w1 + d[2] * c1 - a[0] * s1;
  const double Z = w2 - d[0];
  const double k = (a[1] * a[1] + L * L - X * X - Y * Y - Z * Z) / (2.0 * a[1] * L);
  if (std::fabs(k) > 1.0 - j3_singular_threshold_) {
    print_line("j3 singularity error!!!");
    return kElbowSingularity;
  }
  const double beta = std::asin(a[2] / L);
  const double gamma = std::acos(k);
  const double e = elbow == 1 ? (kPi / 2.0 - beta) - (kPi - gamma)
                              : (kPi - gamma) + (kPi / 2.0 - beta);
  const double k1 = L * std::cos(e + beta);
  const double k2 = a[1] + L * std::sin(e + beta);
  const double rho = w0 * c1 + w1 * s1 - a[0];
  const double theta2 = -std::atan2(rho * k2 - Z * k1, rho * k1 + Z * k2);
  const double theta3 = e - kPi / 2.0;

  // Joint 5.
  const double cu = std::cos(e + theta2), su = std::sin(e + theta2);
  const double m = r02 * c1 + r12 * s1;
  const double c5 = m * cu + r22 * su;
  if (std::fabs(c5) > kWristCosineLimit) {
    print_line("cosTheta05 value is larger than 1!!!");
    return kWristCosineOutOfRange;
  }
  double theta5;
  double cos_theta5;
  if (std::fabs(c5) > kWristStraightCosine) {
    if (j5_singular_threshold_ > 0.0) {
      print_line("j5 singularity error!!!");
      return kWristSingularity;
    }
    if (c5 > 0.0) {
      // Straight wrist: joints 4 and 6 turn about one axis; joint 4 takes what the
      // wrist-centre frame gives and joint 6 makes up the rest.
      theta5 = wrist == 1 ? 0.0 : -0.0;
      cos_theta5 = 1.0;
    } else {
      // Folded wrist (joint 5 at +-pi): the same degeneracy with the axis reversed.
      theta5 = wrist == 1 ? kPi : -kPi;
      cos_theta5 = -1.0;
    }
  } else {
    const double g = std::acos(c5);
    theta5 = wrist == 1 ? g : -g;
    if (g < j5_singular_threshold_) {
      print_line("j5 singularity error!!!");
      return kWristSingularity;
    }
    cos_theta5 = std::cos(theta5);
  }

  // Joint 4.
  const double y4 = r02 * s1 - r12 * c1;
  const double x4 = r22 * cu - su * m;
  const double theta4 = theta5 > 0.0 ? std::atan2(y4, x4) : std::atan2(-y4, -x4);

  // Joint 6.
  const double c4 = std::cos(theta4), s4 = std::sin(theta4);
  const double u = pose(0, 0) * s1 - pose(1, 0) * c1;
  const double v = pose(0, 1) * s1 - pose(1, 1) * c1;
  double theta6 = std::atan2(u * c4 - v * s4 * cos_theta5, u * s4 * cos_theta5 + v * c4);

  const double solution[6] = {theta1, theta2, theta3, theta4, theta5, theta6};
  for (double value : solution) {
    if (!std::isfinite(value)) {
      print_line("singular pose without a finite solution!!!");
      return kNonFiniteSolution;
    }
  }

  // Exactly half a turn from the reference, both turns are equally near: keep this one
  // rather than refuse a reachable pose (a tool straight down and straight ahead lands
  // here against a reference of 0).
  if (ref != nullptr && !(std::fabs(theta6 - ref[5]) <= kPi)) {
    if (std::fabs(theta6 - 2.0 * kPi - ref[5]) < kPi) {
      theta6 -= 2.0 * kPi;
    } else if (std::fabs(theta6 + 2.0 * kPi - ref[5]) < kPi) {
      theta6 += 2.0 * kPi;
    } else {
      print_line("slove j6 error!!!");
      return kJoint6TurnError;
    }
  }

  out[0] = theta1;
  out[1] = theta2;
  out[2] = theta3;
  out[3] = theta4;
  out[4] = theta5;
  out[5] = theta6;

  const int joint = check_joint_limit(out);
  if (joint > 0) {
    if (line_hook_) {
      char line[64];
      std::snprintf(line, sizeof line, "***********joint%d is over limit!!!***********", joint);
      print_line(line);
    }
    return kJointOverLimit;
  }
  return kSolved;
}

bool QuorvinKinematics::check_in_robot_space(const Eigen::MatrixXd& pose,
                                             const double* tool) const {
  if (!is_finite_transform(pose)) {
    print_line("pose is not a finite 4x4 transform!!!");
    return false;
  }
  const double x = pose(0, 3), y = pose(1, 3), z = pose(2, 3) - dh_d_[0];
  const double radius = reach_radius_ + tool[2];
  return x * x + y * y + z * z < radius * radius;
}
