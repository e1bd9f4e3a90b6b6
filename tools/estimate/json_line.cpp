#include "json_line.h"

#include <cmath>
#include <cstdio>

namespace litterpose_estimate {
namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  std::size_t n;
  unsigned min_second = 0x80, max_second = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) n = 2;
  else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) min_second = 0xA0;
    if (b == 0xED) max_second = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) min_second = 0x90;
    if (b == 0xF4) max_second = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < min_second || byte(i + 1) > max_second) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t n = utf8Length(text, i);
      if (n == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

std::string jsonNumber(double value, int significant_digits) {
  if (!std::isfinite(value)) return "null";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", significant_digits, value);
  return buffer;
}

JsonLine& JsonLine::json(std::string_view key, std::string_view value) {
  if (!body_.empty()) body_ += ',';
  body_ += jsonString(key);
  body_ += ':';
  body_.append(value);
  return *this;
}

JsonLine& JsonLine::text(std::string_view key, std::string_view value) {
  return json(key, jsonString(value));
}

JsonLine& JsonLine::integer(std::string_view key, long long value) {
  return json(key, std::to_string(value));
}

JsonLine& JsonLine::number(std::string_view key, double value, int significant_digits) {
  return json(key, jsonNumber(value, significant_digits));
}

JsonLine& JsonLine::numbers(std::string_view key, std::initializer_list<double> values) {
  std::string array = "[";
  for (double v : values) {
    if (array.size() > 1) array += ',';
    array += jsonNumber(v);
  }
  return json(key, array + "]");
}

JsonLine& JsonLine::null(std::string_view key) { return json(key, "null"); }

}  // namespace litterpose_estimate
