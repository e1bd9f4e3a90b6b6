// Estimates that print every kind of line (coloured, printf-formatted, stray resets, the
// kinematics' refusals), in a process whose standard output a test reads:
//   console_child REF A B   through a stream sink into the file REF; then on two threads at
//                           once, a stream sink into the file A and a callback writing each
//                           line into B; then through the default sink
#include <fstream>
#include <string_view>
#include <thread>

#include <litterpose.h>

#include "support/clouds.h"

namespace {

using litterpose::ConsoleSink;

// A bottle in reach through the common entry; one beyond it, in a widened window, through
// the main and the common entry, whose candidates the kinematics refuses.
void estimate(ConsoleSink sink) {
  GrabPoseEstimate e(LITTERPOSE_SOURCE_DIR "/config/grab_pose_estimate_config.yaml",
                     std::move(sink));
  e.grab_vertical_distance_max_ = 1.2f;
  for (int round = 0; round < 8; ++round) {
    for (const float distance : {0.35f, 0.75f}) {
      const auto bottle =
          clouds::lying_rod(clouds::at_bearing(distance, 10.0f), 30.0f, 0.22f, 0.035f, 2000);
      e.trash_type_ = distance < 0.5f ? 3 : 1;
      auto cloud = std::make_shared<clouds::Cloud>(*bottle);
      e.CommonGrabPoseFunc(cloud);
      if (distance < 0.5f) continue;
      *cloud = *bottle;
      e.GrabPoseEstimateFunc(cloud);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::ofstream reference(argv[1], std::ios::binary), a(argv[2], std::ios::binary),
      b(argv[3], std::ios::binary);
  estimate(ConsoleSink::toStream(reference));
  std::thread first([&a] { estimate(ConsoleSink::toStream(a)); });
  std::thread second([&b] {
    estimate(ConsoleSink::toCallback([&b](std::string_view line) { b << line << '\n'; }));
  });
  first.join();
  second.join();
  estimate(ConsoleSink());
  return reference && a && b ? 0 : 1;
}
