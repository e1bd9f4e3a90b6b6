// Kinematic model of the Quorvin six-axis arm: standard Denavit-Hartenberg
// forward kinematics, joint limits and a closed-form inverse kinematics.
//
// Angles are radians (joint limits are handed in as degrees); lengths are in
// the unit of the DH arrays, millimetres for the arm the estimator configures.
// The lines it prints (refusals of the inverse kinematics, the pose of
// forward_kinematics_slow) go to standard output unless a line hook takes them.
#ifndef QUORVIN_KINEMATICS_H
#define QUORVIN_KINEMATICS_H

#include <cmath>
#include <functional>
#include <string_view>

#include <Eigen/Dense>

class QuorvinKinematics {
public:
  // Result codes of inverse_kinematics.
  static constexpr int kSolved = 0;
  static constexpr int kOverheadSingularity = -1001;
  static constexpr int kElbowSingularity = -1002;
  static constexpr int kWristSingularity = -1003;
  static constexpr int kWristCosineOutOfRange = -1004;
  static constexpr int kJoint6TurnError = -1005;
  static constexpr int kJointOverLimit = -1006;
  // The pose is not a 4 x 4 matrix, holds a non-finite element, or is no rigid transform
  // (its rotation not orthonormal with determinant +1, its last row not 0 0 0 1, within
  // 1e-4).
  static constexpr int kInvalidPose = -1007;
  // The closed form met an exact singular point (0/0) and gave no finite solution.
  static constexpr int kNonFiniteSolution = -1008;

  // Text of a result code, for hosts that log or display it.
  static const char* describe(int code);

  // Receives each printed line without its line end.
  using LineHook = std::function<void(std::string_view line)>;

  // Four arrays of six values each: DH d, DH a, DH alpha (rad), joint zero offsets (rad).
  QuorvinKinematics(const double* dh_d, const double* dh_a, const double* dh_alpha,
                    const double* dh_offset);
  ~QuorvinKinematics();

  // Where the printed lines go from now on: standard output (flushed after each line) until
  // a hook is set; an empty hook drops them without formatting them.
  void set_line_hook(LineHook hook);
  const LineHook& line_hook() const { return line_hook_; }

  // Link matrix Rot_z(theta) * Trans_z(d) * Trans_x(a) * Rot_x(alpha).
  Eigen::MatrixXd get_a_transform(double d, double a, double cos_alpha, double sin_alpha,
                                  double cos_theta, double sin_theta) const;
  // flags: shoulder, elbow, wrist (each +1/-1) and joint-6 turn (-1, 0, 1).
  void get_arm_type(const double* q, int* flags) const;
  // limits: 6 x 2 in degrees, column 0 lower and column 1 upper limit.
  void set_joint_limit_angle_to_rad(Eigen::MatrixXd limits);
  void set_singular_threshold(double overhead, double j3, double j5);

  Eigen::MatrixXd forward_kinematics(const double* q);
  Eigen::MatrixXd forward_kinematics_with_tool(const double* q, const double* tool);
  // General DH chain; prints the pose. The reference for forward_kinematics.
  Eigen::MatrixXd forward_kinematics_slow(const double* q) const;

  // 0 when every joint is within its limits, else the 1-based number of the first one outside.
  int check_joint_limit(const double* q) const;
  // The position lies strictly inside the sphere reached by the stretched arm plus tool[2].
  bool check_in_robot_space(const Eigen::MatrixXd& pose, const double* tool) const;

  // Solution in the configuration of the reference joint vector, joint 6 turned near ref[5].
  int inverse_kinematics(Eigen::MatrixXd pose, const double* ref, double* out) const;
  // Solution in the configuration given by flags (shoulder, elbow, wrist).
  int inverse_kinematics(Eigen::MatrixXd pose, const int* flags, double* out) const;

  double dh_d_[6];
  double dh_a_[6];
  double dh_alpha_[6];
  double dh_offset_[6];
  Eigen::MatrixXd joint_limit_;
  double overhead_singular_threshold_ = 0.0;
  double j3_singular_threshold_ = 0.0;
  double j5_singular_threshold_ = 0.0;
  Eigen::MatrixXd transform_;
  double reach_radius_;
  double cos_alpha_[6];
  double sin_alpha_[6];

private:
  int solve(const Eigen::MatrixXd& pose, int shoulder, int elbow, int wrist, const double* ref,
            double* out) const;
  void print_line(std::string_view line) const;

  LineHook line_hook_;
};

// The Quorvin arm as the estimator builds it (GrabPoseEstimate's dh_d_, dh_a_, dh_alpha_,
// dh_offset_ and ik_ref_joints_), for hosts that model the same arm on their own: DH d and a
// in millimetres, alpha and the joint zero offsets in radians, and the reference joint
// vector (radians) whose configuration the estimator's inverse kinematics keeps.
struct QuorvinArm {
  static constexpr double dh_d[6] = {240.5, 0, 0, 210, 0, 144};
  static constexpr double dh_a[6] = {0, 256, 0, 0, 0, 0};
  static constexpr double dh_alpha[6] = {M_PI / 2, 0, M_PI / 2, -M_PI / 2, M_PI / 2, 0};
  static constexpr double dh_offset[6] = {0, M_PI / 2, M_PI / 2, 0, 0, 0};
  static constexpr double reference_joints[6] = {0, 0.6891, 1.5223, 0, 0.9253, 0};
};

#endif  // QUORVIN_KINEMATICS_H
