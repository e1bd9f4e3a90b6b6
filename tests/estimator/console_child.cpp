// The console scenario in a process of its own, so that a test sees everything it writes
// to standard output:
//   console_child standard-output ROUNDS     an estimator with the default sink
//   console_child two-threads ROUNDS A B     two estimators on two threads, one writing to
//                                            the file A through a stream sink, one to the
//                                            file B through a callback (a line each)
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "console_scenario.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 0;
  if (mode == "standard-output" && argc == 3) {
    GrabPoseEstimate e(console_scenario::configPath());
    console_scenario::run(e, rounds);
    return 0;
  }
  if (mode == "two-threads" && argc == 5) {
    std::ofstream a(argv[3], std::ios::binary);
    std::ofstream b(argv[4], std::ios::binary);
    std::thread first([&] {
      GrabPoseEstimate e(console_scenario::configPath(), litterpose::ConsoleSink::toStream(a));
      console_scenario::run(e, rounds);
    });
    std::thread second([&] {
      GrabPoseEstimate e(console_scenario::configPath(),
                         litterpose::ConsoleSink::toCallback([&b](std::string_view line) {
                           b << line << '\n';
                         }));
      console_scenario::run(e, rounds);
    });
    first.join();
    second.join();
    return a && b ? 0 : 1;
  }
  return 2;
}
