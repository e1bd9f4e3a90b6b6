// A host program of the installed kinematics library: a forward/inverse round trip.
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
  double out[6];
  if (arm.inverse_kinematics(arm.forward_kinematics(q), q, out) != 0) return 1;
  for (int i = 0; i < 6; ++i)
    if (std::fabs(out[i] - q[i]) > 1e-9) return 2;
  std::puts("kinematics host: round trip ok");
  return 0;
}
