// The console sink: what each kind of sink receives, that every line of an estimator goes
// to its own sink (the kinematics' too), that two estimators on two threads print apart
// without touching standard output, and that the default sink writes to standard output
// what a stream receives (console_child runs the estimators where the test sees its
// standard output).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <litterpose_console.h>

#include "console_scenario.h"
#include "support/estimator.h"
#include "support/run_program.h"

namespace {

using litterpose::ConsoleSink;
using Lines = std::vector<std::string>;

ConsoleSink collecting(Lines& lines) {
  return ConsoleSink::toCallback([&lines](std::string_view line) { lines.emplace_back(line); });
}

TEST(ConsoleSink, KindsReceiveWhatTheyPromise) {
  std::ostringstream stream;
  Lines lines;
  struct Case {
    const char* name;
    ConsoleSink sink;
    ConsoleSink::Kind kind;
  } cases[] = {
      {"default", ConsoleSink(), ConsoleSink::Kind::standard_output},
      {"stream", ConsoleSink::toStream(stream), ConsoleSink::Kind::stream},
      {"callback", collecting(lines), ConsoleSink::Kind::callback},
      {"empty callback", ConsoleSink::toCallback(nullptr), ConsoleSink::Kind::none},
      {"none", ConsoleSink::none(), ConsoleSink::Kind::none},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.sink.kind(), c.kind);
    EXPECT_EQ(c.sink.enabled(), c.kind != ConsoleSink::Kind::none);
    EXPECT_EQ(c.sink.stream() != nullptr, c.kind == ConsoleSink::Kind::standard_output ||
                                              c.kind == ConsoleSink::Kind::stream);
  }
  cases[1].sink.write("\x1b[0m");
  cases[1].sink.line("\x1b[1;33mone\x1b[0m");
  cases[1].sink.write("two\nthree");
  EXPECT_EQ(stream.str(), "\x1b[0m\x1b[1;33mone\x1b[0m\ntwo\nthree");
}

TEST(ConsoleSink, CallbackGetsCompleteLinesAndTheUnfinishedOneWaits) {
  Lines lines;
  {
    ConsoleSink sink = collecting(lines);
    sink.write("\x1b[0m");  // a stray reset before the next line
    EXPECT_TRUE(lines.empty());
    sink.line("\x1b[1;33mone\x1b[0m");
    sink.write("two\n\nthr");
    sink.write("ee");
    EXPECT_EQ(lines, (Lines{"\x1b[0m\x1b[1;33mone\x1b[0m", "two", ""}));
    sink.line("");
    sink.write("\x1b[0m");
  }  // an unfinished line of colour codes only is dropped
  EXPECT_EQ(lines, (Lines{"\x1b[0m\x1b[1;33mone\x1b[0m", "two", "", "three"}));

  lines.clear();
  { ConsoleSink(collecting(lines)).write("last words"); }
  EXPECT_EQ(lines, Lines{"last words"});
}

TEST(ConsoleSink, ACopyStartsWithoutTheUnfinishedLineAMoveTakesIt) {
  Lines lines;
  ConsoleSink first = collecting(lines);
  first.write("half");
  ConsoleSink copy = first;
  copy.line("new");
  ConsoleSink moved = std::move(first);
  moved.line(" done");
  EXPECT_EQ(lines, (Lines{"new", "half done"}));
}

TEST(ConsoleSink, StripColoursRemovesEscapeSequencesOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x1b[1;33mgrab_distance_: 0.5\x1b[0m", "grab_distance_: 0.5"},
      {"处理后点云数量：42", "处理后点云数量：42"},
      {"\x1b[0m\x1b[0m", ""},
      {"a\x1b[1;3", "a"},      // unterminated at the end
      {"a\x1b" "b", "a\x1b" "b"},  // an escape without '[' is not a sequence
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(litterpose::stripColours(in), out) << in;
}

// ---------------------------------------------------------------------------------------

std::string scenarioThroughStream(int rounds) {
  std::ostringstream out;
  GrabPoseEstimate e(console_scenario::configPath(), ConsoleSink::toStream(out));
  console_scenario::run(e, rounds);
  return out.str();
}

TEST(EstimatorConsole, EveryLineOfAnEstimateGoesToTheSinkTheKinematicsToo) {
  const std::string printed = scenarioThroughStream(1);
  for (const char* part : {"相机内参： fx:", "q_grab: ", "grab_pose.position: ", "rot_z: ",
                           "-------------------CommonGrabPoseFunc", "j3 singularity error!!!\n"})
    EXPECT_NE(printed.find(part), std::string::npos) << part;
}

TEST(EstimatorConsole, ASinkSetLaterTakesTheLinesFromThenOn) {
  auto e = support::make_estimator();
  EXPECT_FALSE(e->kinematics_->line_hook());  // nothing is formatted for nowhere
  std::ostringstream later;
  e->setConsoleSink(ConsoleSink::toStream(later));
  EXPECT_TRUE(e->kinematics_->line_hook());
  console_scenario::run(*e, 1);
  EXPECT_EQ(support::withoutCosts(later.str()),
            support::withoutCosts(scenarioThroughStream(1).substr(
                scenarioThroughStream(0).size())));  // all but the construction's lines
}

TEST(EstimatorConsole, ACallbackReceivesTheStreamsTextLineByLine) {
  Lines lines;
  {
    GrabPoseEstimate e(console_scenario::configPath(), collecting(lines));
    console_scenario::run(e, 1);
  }
  std::string joined;
  for (const auto& line : lines) joined += line + "\n";
  EXPECT_EQ(support::withoutCosts(joined), support::withoutCosts(scenarioThroughStream(1)));
}

constexpr int kRounds = 8;

std::string callbackText(int rounds) {
  std::string text;
  GrabPoseEstimate e(console_scenario::configPath(),
                     ConsoleSink::toCallback([&text](std::string_view line) {
                       text.append(line);
                       text += '\n';
                     }));
  console_scenario::run(e, rounds);
  return text;
}

TEST(EstimatorConsole, TwoEstimatorsOnTwoThreadsPrintApartAndLeaveStandardOutputAlone) {
  const std::string a = run_program::scratchPath("a.log"), b = run_program::scratchPath("b.log");
  const auto child = run_program::run(run_program::program(CONSOLE_CHILD_PROGRAM) +
                                      " two-threads " + std::to_string(kRounds) + " " +
                                      run_program::quote(a) + " " + run_program::quote(b));
  ASSERT_EQ(child.status, 0) << child.err;
  EXPECT_EQ(child.out, "");
  EXPECT_EQ(child.err, "");
  EXPECT_EQ(support::withoutCosts(run_program::slurp(a)),
            support::withoutCosts(scenarioThroughStream(kRounds)));
  EXPECT_EQ(support::withoutCosts(run_program::slurp(b)),
            support::withoutCosts(callbackText(kRounds)));
}

TEST(EstimatorConsole, TheDefaultSinkWritesToStandardOutputWhatAStreamReceives) {
  const auto child = run_program::run(run_program::program(CONSOLE_CHILD_PROGRAM) +
                                      " standard-output " + std::to_string(kRounds));
  ASSERT_EQ(child.status, 0) << child.err;
  EXPECT_EQ(support::withoutCosts(child.out),
            support::withoutCosts(scenarioThroughStream(kRounds)));
}

}  // namespace
