// JSON lines of litterpose-estimate, checked by a strict independent parser.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <string>

#include "json_line.h"
#include "support/run_program.h"

namespace {

using litterpose_estimate::JsonLine;
using run_program::quote;

// Python's reading of the lines, re-encoded canonically.
run_program::Outcome canonical(const std::string& lines) {
  const std::string path = run_program::scratchPath("lines.json");
  std::ofstream(path, std::ios::binary) << lines;
  return run_program::run(quote(PYTHON_PROGRAM) + " " + quote(JSON_LINES_CHECKER) +
                          " canonical " + quote(path));
}

TEST(JsonLine, NonFiniteNumbersBecomeNull) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::string line = JsonLine()
                               .number("nan", std::nan(""))
                               .number("inf", inf)
                               .numbers("v", {1.5, -inf, 2.0})
                               .str();
  const auto r = canonical(line + "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"inf\": null, \"nan\": null, \"v\": [1.5, null, 2]}\n");
}

TEST(JsonLine, StringsWithQuotesBackslashesAndControlsStayStrings) {
  const std::string name = "a \"b\" \\c\n\t\r\x01\x7f ä.ply";
  const auto r = canonical(JsonLine().text("file", name).str() + "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"file\": \"a \\\"b\\\" \\\\c\\n\\t\\r\\u0001\\u007f \\u00e4.ply\"}\n");
}

TEST(JsonLine, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  // A lone continuation byte, a truncated sequence, an overlong form and a surrogate.
  const std::string name = std::string("x\x80y\xe2\x82z\xc0\xafw\xed\xa0\x80") + "\xf0\x9f\x99\x82";
  const auto r = canonical(JsonLine().text("f", name).str() + "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"f\": \"x\\ufffdy\\ufffd\\ufffdz\\ufffd\\ufffdw\\ufffd\\ufffd\\ufffd"
            "\\ud83d\\ude42\"}\n");
}

TEST(JsonLine, FieldsKeepTheirOrderAndNumbersTheirValue) {
  const std::string line = JsonLine()
                               .text("a", "x")
                               .integer("b", -3)
                               .number("c", 0.1234567891)
                               .null("d")
                               .json("e", JsonLine().number("w", 1e-7).str())
                               .str();
  EXPECT_EQ(line, "{\"a\":\"x\",\"b\":-3,\"c\":0.123456789,\"d\":null,\"e\":{\"w\":1e-07}}");
  const auto r = canonical(line + "\n");
  ASSERT_EQ(r.status, 0) << r.err;
}

}  // namespace
