#include "text.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>

#include "read_error.h"

namespace litterpose_io::detail {
namespace {

// How much more of a file Lines reads when a line goes beyond what is in memory.
constexpr std::size_t kChunk = std::size_t{1} << 20;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether a real that from_chars found out of range is too small (it then rounds to
// zero) rather than too large: the decimal exponent of its first significant digit is
// negative.
bool underflows(std::string_view word) {
  std::size_t i = word[0] == '-' ? 1 : 0;
  bool before_point = true, significant = false;
  long integer_digits = 0, leading_fraction_zeros = 0;
  for (; i < word.size() && (isDigit(word[i]) || word[i] == '.'); ++i) {
    if (word[i] == '.') {
      before_point = false;
      continue;
    }
    significant = significant || word[i] != '0';
    if (before_point && significant) ++integer_digits;
    if (!before_point && !significant) ++leading_fraction_zeros;
  }
  long exponent = 0;
  if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
    const char* begin = word.data() + i + 1;
    const char* end = word.data() + word.size();
    const bool negative = begin < end && *begin == '-';
    if (begin < end && (*begin == '+' || *begin == '-')) ++begin;
    // An exponent beyond a long's range is beyond every real's.
    if (std::from_chars(begin, end, exponent).ec == std::errc::result_out_of_range)
      exponent = std::numeric_limits<long>::max() / 2;
    if (negative) exponent = -exponent;
  }
  const long first_digit = integer_digits > 0 ? integer_digits - 1 : -leading_fraction_zeros - 1;
  return first_digit + exponent < 0;
}

template <typename Real>
const char* parseReal(std::string_view word, Real& value) {
  // from_chars takes no plus sign; the formats' writers put none before a number, but a
  // hand-edited file may.
  if (word.size() > 1 && word[0] == '+' && word[1] != '-' && word[1] != '+') word.remove_prefix(1);
  const char* end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  if (stop != end || error == std::errc::invalid_argument) return "is not a number";
  if (error == std::errc::result_out_of_range) {
    if (!underflows(word))
      return std::is_same_v<Real, float> ? "is out of the range of a float"
                                         : "is out of the range of a double";
    value = word[0] == '-' ? -Real(0) : Real(0);
  }
  return nullptr;
}

const char* parseInteger(std::string_view word, Scalar type, std::int64_t& value,
                         std::uint64_t& count) {
  if (word.size() > 1 && word[0] == '+' && word[1] != '-' && word[1] != '+') word.remove_prefix(1);
  const char* end = word.data() + word.size();
  if (type == Scalar::uint64) {
    std::uint64_t u = 0;
    const auto [stop, error] = std::from_chars(word.data(), end, u);
    if (stop != end || error == std::errc::invalid_argument) return "is not an integer";
    if (error == std::errc::result_out_of_range) return "is out of the range of uint64";
    count = u;
    value = u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                ? std::numeric_limits<std::int64_t>::max()
                : static_cast<std::int64_t>(u);
    return nullptr;
  }
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  if (stop != end || error == std::errc::invalid_argument) return "is not an integer";
  const int bits = static_cast<int>(8 * sizeOf(type));
  const bool in_range =
      error != std::errc::result_out_of_range &&
      (isSigned(type) ? bits == 64 || (value >= -(std::int64_t{1} << (bits - 1)) &&
                                       value < (std::int64_t{1} << (bits - 1)))
                      : value >= 0 && (bits == 64 || value < (std::int64_t{1} << bits)));
  if (in_range) return nullptr;
  switch (type) {
    case Scalar::int8: return "is out of the range of int8";
    case Scalar::uint8: return "is out of the range of uint8";
    case Scalar::int16: return "is out of the range of int16";
    case Scalar::uint16: return "is out of the range of uint16";
    case Scalar::int32: return "is out of the range of int32";
    case Scalar::uint32: return "is out of the range of uint32";
    default: return "is out of the range of int64";
  }
}

const char* parseValue(std::string_view word, Scalar type, Number& value, bool coordinate) {
  if (type == Scalar::float32) return parseReal(word, value.coordinate);
  if (type == Scalar::float64) {
    double real = 0.0;
    const char* why = parseReal(word, real);
    if (why == nullptr && coordinate && beyondFloat(real)) return "is out of the range of a float";
    value.coordinate = nearestFloat(real);
    return why;
  }
  return parseInteger(word, type, value.integer, value.count);
}

}  // namespace

bool Lines::next(std::string_view& line) {
  if (at_ >= end_) return false;
  const char* stop = at_;
  for (;;) {
    const char* loaded = file_ != nullptr ? file_->begin() + file_->loaded() : end_;
    const char* found =
        static_cast<const char*>(std::memchr(stop, '\n', static_cast<std::size_t>(loaded - stop)));
    stop = found != nullptr ? found : loaded;
    if (found != nullptr || loaded == end_) break;
    if (static_cast<std::size_t>(stop - at_) > most_)
      throw ReadError("line " + std::to_string(number_ + 1) + " is longer than " +
                      byteCount(most_) + ", more than its values can take");
    file_->load(file_->loaded() + kChunk);
  }
  const char* content_end = stop;
  if (content_end > at_ && content_end[-1] == '\r') --content_end;
  line = std::string_view(at_, static_cast<std::size_t>(content_end - at_));
  at_ = stop < end_ ? stop + 1 : stop;
  ++number_;
  return true;
}

bool hasControlCharacter(std::string_view line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) return true;
  }
  return false;
}

void splitWords(std::string_view line, std::vector<std::string_view>& words) {
  words.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
}

const char* parseWord(std::string_view word, Scalar type, Number& value) {
  return parseValue(word, type, value, false);
}

const char* parseCoordinate(std::string_view word, Scalar type, Number& value) {
  return parseValue(word, type, value, true);
}

const char* wholeLinesEnd(const char* begin, const char* end, bool more) {
  if (!more) return end;
  const std::string_view bytes(begin, static_cast<std::size_t>(end - begin));
  const std::size_t last = bytes.rfind('\n');
  return last == std::string_view::npos ? begin : begin + last + 1;
}

void headerTooLong(std::size_t lines) {
  throw ReadError("line " + std::to_string(lines + 1) + ": the header does not end within the first " +
                  std::to_string(kMostHeaderBytes >> 20) + " MiB (this line reaches beyond it)");
}

std::string quoted(std::string_view word) {
  constexpr std::size_t kShown = 40;
  std::string text = "'";
  for (std::size_t i = 0; i < word.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  if (word.size() > kShown) text += "...";
  return text + "'";
}

}  // namespace litterpose_io::detail
