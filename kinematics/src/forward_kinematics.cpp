// The arm model: parameters, joint limits, configuration flags and forward kinematics.
#include "quorvin_kinematics.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>

namespace {
constexpr double kPi = M_PI;
constexpr int kJoints = 6;

// The default destination of the printed lines: what puts writes, at once.
void print_to_stdout(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
}  // namespace

QuorvinKinematics::QuorvinKinematics(const double* dh_d, const double* dh_a,
                                     const double* dh_alpha, const double* dh_offset) {
  for (int i = 0; i < kJoints; ++i) {
    dh_d_[i] = dh_d[i];
    dh_a_[i] = dh_a[i];
    dh_alpha_[i] = dh_alpha[i];
    dh_offset_[i] = dh_offset[i];
    cos_alpha_[i] = std::cos(dh_alpha_[i]);
    sin_alpha_[i] = std::sin(dh_alpha_[i]);
  }
  transform_ = Eigen::MatrixXd::Identity(4, 4);
  reach_radius_ = dh_a_[1] + dh_d_[3] + dh_d_[5];
  line_hook_ = print_to_stdout;
}

QuorvinKinematics::~QuorvinKinematics() = default;

void QuorvinKinematics::set_line_hook(LineHook hook) { line_hook_ = std::move(hook); }

void QuorvinKinematics::print_line(std::string_view line) const {
  if (line_hook_) line_hook_(line);
}

Eigen::MatrixXd QuorvinKinematics::get_a_transform(double d, double a, double cos_alpha,
                                                   double sin_alpha, double cos_theta,
                                                   double sin_theta) const {
  Eigen::MatrixXd link(4, 4);
  link << cos_theta, -cos_alpha * sin_theta, sin_alpha * sin_theta, a * cos_theta,
      sin_theta, cos_alpha * cos_theta, -sin_alpha * cos_theta, a * sin_theta,
      0.0, sin_alpha, cos_alpha, d,
      0.0, 0.0, 0.0, 1.0;
  return link;
}

void QuorvinKinematics::get_arm_type(const double* q, int* flags) const {
  const double rho = dh_a_[0] - dh_a_[1] * std::sin(q[1]) - dh_d_[3] * std::sin(q[1] + q[2]);
  flags[0] = rho >= 0.0 ? 1 : -1;
  flags[1] = q[2] >= 0.0 ? -1 : 1;
  flags[2] = q[4] >= 0.0 ? 1 : -1;
  flags[3] = q[5] >= kPi ? 1 : (q[5] <= -kPi ? -1 : 0);
}

void QuorvinKinematics::set_joint_limit_angle_to_rad(Eigen::MatrixXd limits) {
  if (limits.rows() < kJoints || limits.cols() < 2) {
    if (line_hook_) {
      char line[96];
      std::snprintf(line, sizeof line,
                    "joint limit matrix is %ldx%ld, expected 6x2; previous limits kept!!!",
                    static_cast<long>(limits.rows()), static_cast<long>(limits.cols()));
      print_line(line);
    }
    return;
  }
  joint_limit_ = limits * kPi / 180.0;
}

void QuorvinKinematics::set_singular_threshold(double overhead, double j3, double j5) {
  overhead_singular_threshold_ = overhead;
  j3_singular_threshold_ = j3;
  j5_singular_threshold_ = j5;
}

Eigen::MatrixXd QuorvinKinematics::forward_kinematics(const double* q) {
  const double c0 = std::cos(q[0]), s0 = std::sin(q[0]);
  const double c1 = std::cos(q[1]), s1 = std::sin(q[1]);
  const double c3 = std::cos(q[3]), s3 = std::sin(q[3]);
  const double c4 = std::cos(q[4]), s4 = std::sin(q[4]);
  const double c5 = std::cos(q[5]), s5 = std::sin(q[5]);
  const double u = q[1] + q[2] + kPi / 2.0;
  const double cu = std::cos(u), su = std::sin(u);

  Eigen::MatrixXd& t = transform_;
  if (t.rows() != 4 || t.cols() != 4) t = Eigen::MatrixXd::Identity(4, 4);
  t(0, 0) = s0 * (c3 * s5 + s3 * c4 * c5) + c0 * (s3 * su * s5 - cu * s4 * c5 - c3 * su * c4 * c5);
  t(0, 1) = s0 * (c3 * c5 - s3 * c4 * s5) + c0 * (s3 * su * c5 + cu * s4 * s5 + c3 * su * c4 * s5);
  t(0, 2) = s0 * s3 * s4 + c0 * cu * c4 - c0 * su * c3 * s4;
  t(1, 0) = s0 * (s3 * su * s5 - cu * s4 * c5 - c3 * su * c4 * c5) - c0 * (c3 * s5 + s3 * c4 * c5);
  t(1, 1) = s0 * (s3 * su * c5 + cu * s4 * s5 + c3 * su * c4 * s5) - c0 * (c3 * c5 - s3 * c4 * s5);
  t(1, 2) = s0 * cu * c4 - c0 * s3 * s4 - s0 * su * c3 * s4;
  t(2, 0) = c3 * cu * c4 * c5 - su * s4 * c5 - s3 * cu * s5;
  t(2, 1) = su * s4 * s5 - s3 * cu * c5 - c3 * cu * c4 * s5;
  t(2, 2) = c3 * cu * s4 + c4 * su;
  const double rho = dh_a_[0] - dh_a_[1] * s1 + dh_d_[3] * cu - dh_a_[2] * su;
  t(0, 3) = c0 * rho + dh_d_[2] * s0 + dh_d_[5] * t(0, 2);
  t(1, 3) = s0 * rho - dh_d_[2] * c0 + dh_d_[5] * t(1, 2);
  t(2, 3) = dh_d_[0] + dh_a_[1] * c1 + dh_d_[3] * su + dh_a_[2] * cu + dh_d_[5] * t(2, 2);
  return t;
}

Eigen::MatrixXd QuorvinKinematics::forward_kinematics_with_tool(const double* q,
                                                                const double* tool) {
  if (transform_.rows() != 4 || transform_.cols() != 4) transform_.resize(4, 4);
  transform_.setIdentity();
  forward_kinematics(q);
  Eigen::MatrixXd tool_matrix = Eigen::MatrixXd::Identity(4, 4);
  tool_matrix(0, 3) = tool[0];
  tool_matrix(1, 3) = tool[1];
  tool_matrix(2, 3) = tool[2];
  transform_ = transform_ * tool_matrix;
  return transform_;
}

Eigen::MatrixXd QuorvinKinematics::forward_kinematics_slow(const double* q) const {
  Eigen::MatrixXd t = Eigen::MatrixXd::Identity(4, 4);
  for (int i = 0; i < kJoints; ++i) {
    const double theta = q[i] + dh_offset_[i];
    t = t * get_a_transform(dh_d_[i], dh_a_[i], cos_alpha_[i], sin_alpha_[i], std::cos(theta),
                            std::sin(theta));
  }
  if (line_hook_) {
    std::ostringstream text;
    text << t;
    std::istringstream rows(text.str());
    for (std::string row; std::getline(rows, row);) print_line(row);
  }
  return t;
}

int QuorvinKinematics::check_joint_limit(const double* q) const {
  if (joint_limit_.rows() == 0) return 0;
  for (int i = 0; i < kJoints; ++i) {
    if (q[i] < joint_limit_(i, 0) || q[i] > joint_limit_(i, 1)) return i + 1;
  }
  return 0;
}
