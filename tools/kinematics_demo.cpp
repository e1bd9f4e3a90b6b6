// Forward and inverse kinematics of the arm the estimator drives: a few joint vectors
// go to a flange pose and back, in each of the arm's configurations.
#include <quorvin_kinematics.h>

#include <cmath>
#include <cstdio>

int main() {
  const double d[6] = {240.5, 0, 0, 210, 0, 144};
  const double a[6] = {0, 256, 0, 0, 0, 0};
  const double alpha[6] = {M_PI / 2, 0, M_PI / 2, -M_PI / 2, M_PI / 2, 0};
  const double offset[6] = {0, M_PI / 2, M_PI / 2, 0, 0, 0};
  QuorvinKinematics arm(d, a, alpha, offset);

  const double q[6] = {0.5, 0.3, -0.4, 0.2, 1.0, -0.6};
  const Eigen::MatrixXd pose = arm.forward_kinematics(q);
  std::printf("joints (rad):  % .4f % .4f % .4f % .4f % .4f % .4f\n", q[0], q[1], q[2], q[3],
              q[4], q[5]);
  std::printf("flange (mm):   % .4f % .4f % .4f   z axis % .4f % .4f % .4f\n\n", pose(0, 3),
              pose(1, 3), pose(2, 3), pose(0, 2), pose(1, 2), pose(2, 2));

  std::printf("shoulder elbow wrist -> joints (rad)                              pose error\n");
  for (int s : {1, -1})
    for (int e : {1, -1})
      for (int w : {1, -1}) {
        const int flags[3] = {s, e, w};
        double out[6];
        const int code = arm.inverse_kinematics(pose, flags, out);
        if (code != QuorvinKinematics::kSolved) {
          std::printf("% 8d % 5d % 5d    %s\n", s, e, w, QuorvinKinematics::describe(code));
          continue;
        }
        const double error = (arm.forward_kinematics(out) - pose).cwiseAbs().maxCoeff();
        std::printf("% 8d % 5d % 5d    % .4f % .4f % .4f % .4f % .4f % .4f   %.1e\n", s, e, w,
                    out[0], out[1], out[2], out[3], out[4], out[5], error);
      }

  double out[6];
  const int code = arm.inverse_kinematics(pose, q, out);
  std::printf("\nnear the reference posture: %s, joint 6 = % .4f rad\n",
              QuorvinKinematics::describe(code), out[5]);
  return code == QuorvinKinematics::kSolved ? 0 : 1;
}
