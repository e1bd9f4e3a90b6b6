// What each kind of console sink receives; two estimators on two threads print apart, every
// line through their own sinks, and leave standard output to the default sink, which writes
// there what a stream receives (console_child runs the estimators).
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <quorvin_kinematics.h>

#include "support/estimator.h"
#include "support/run_program.h"

namespace {

using litterpose::ConsoleSink;
using Lines = std::vector<std::string>;

TEST(ConsoleSink, StreamsGetTheBytesCallbacksCompleteLinesNothingNothing) {
  std::ostringstream stream;
  Lines lines;
  const auto collect = [&lines](std::string_view line) { lines.emplace_back(line); };
  {
    ConsoleSink sinks[] = {ConsoleSink::toStream(stream), ConsoleSink::toCallback(collect),
                           ConsoleSink::none(), ConsoleSink::toCallback(nullptr)};
    for (ConsoleSink& sink : sinks) {
      sink.write("\x1b[0m");  // a stray reset waits for the next line
      sink.line("\x1b[1;33mone\x1b[0m");
      sink.write("two\n\nthr");
      sink.write("ee");
    }
    EXPECT_EQ(lines, (Lines{"\x1b[0m\x1b[1;33mone\x1b[0m", "two", ""}));
    EXPECT_FALSE(sinks[3].enabled());
    sinks[1].write("\n\x1b[0m");
  }  // an unfinished line of colours only is dropped, any other is handed over
  ConsoleSink::toCallback(collect).write("end");
  EXPECT_EQ(stream.str(), "\x1b[0m\x1b[1;33mone\x1b[0m\ntwo\n\nthree");
  EXPECT_EQ(lines, (Lines{"\x1b[0m\x1b[1;33mone\x1b[0m", "two", "", "three", "end"}));

  const std::pair<const char*, const char*> stripped[] = {
      {"\x1b[1;33mgrab_distance_: 0.5\x1b[0m", "grab_distance_: 0.5"},
      {"点云\x1b[0m\x1b[0m", "点云"}, {"a\x1b[1;3", "a"}, {"a\x1b" "b", "a\x1b" "b"}};
  for (const auto& [in, out] : stripped) EXPECT_EQ(litterpose::stripColours(in), out) << in;

  auto e = support::make_estimator();
  e->setConsoleSink(ConsoleSink::none());
  EXPECT_FALSE(e->kinematics_->line_hook());  // its lines are not even formatted
}

// The milliseconds of the cost lines differ from run to run.
std::string untimed(const std::string& log) {
  return std::regex_replace(log, std::regex(" cost [0-9.e+-]+ ms"), " cost # ms");
}

// Standard output holds the lines of the estimator with the default sink only: the two
// estimators on their threads print through their own sinks, every line.
TEST(EstimatorConsole, TwoEstimatorsOnTwoThreadsPrintApartAndLeaveStandardOutputAlone) {
  const std::string ref = run_program::scratchPath("ref"), a = run_program::scratchPath("a"),
                    b = run_program::scratchPath("b");
  const auto child = run_program::run(run_program::program(CONSOLE_CHILD_PROGRAM) + " " +
                                      run_program::quote(ref) + " " + run_program::quote(a) +
                                      " " + run_program::quote(b));
  ASSERT_EQ(child.status, 0) << child.err;
  EXPECT_EQ(child.err, "");
  const std::string expected = untimed(run_program::slurp(ref));
  EXPECT_NE(expected.find("\nj3 singularity error!!!\n"), std::string::npos);  // kinematics
  EXPECT_NE(expected.find("\nq_grab: "), std::string::npos);                  // printf
  EXPECT_EQ(untimed(run_program::slurp(a)), expected);
  EXPECT_EQ(untimed(run_program::slurp(b)), expected);
  EXPECT_EQ(untimed(child.out), expected);
}

}  // namespace
