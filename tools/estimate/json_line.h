// One JSON object on one line, built field by field. Whatever the values, the result
// is valid JSON: non-finite numbers become null and strings are escaped, with bytes
// that are not UTF-8 (file names may hold any) replaced by U+FFFD.
#ifndef LITTERPOSE_TOOLS_ESTIMATE_JSON_LINE_H
#define LITTERPOSE_TOOLS_ESTIMATE_JSON_LINE_H

#include <initializer_list>
#include <string>
#include <string_view>

namespace litterpose_estimate {

std::string jsonString(std::string_view text);
std::string jsonNumber(double value, int significant_digits = 9);

class JsonLine {
public:
  JsonLine& text(std::string_view key, std::string_view value);
  JsonLine& integer(std::string_view key, long long value);
  JsonLine& number(std::string_view key, double value, int significant_digits = 9);
  JsonLine& numbers(std::string_view key, std::initializer_list<double> values);
  JsonLine& null(std::string_view key);
  // value must already be JSON.
  JsonLine& json(std::string_view key, std::string_view value);

  // "{...}" without a line end.
  std::string str() const { return "{" + body_ + "}"; }

private:
  std::string body_;
};

}  // namespace litterpose_estimate

#endif
