// Internal to the cloud reader: lines, words and numbers of headers and ASCII data.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_TEXT_H
#define LITTERPOSE_TOOLS_CLOUD_IO_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regular_file.h"
#include "scalar.h"

namespace litterpose_io::detail {

// A header must end within the file's first megabyte: the readers look at that much
// before they decide whether to read the rest.
constexpr std::size_t kMostHeaderBytes = std::size_t{1} << 20;

// The lines of a byte range, numbered from 1; a line ends at "\n" or "\r\n", and the last
// may end at the end of the bytes.
class Lines {
public:
  // `before` lines precede the range in its file (the header, for data lines).
  Lines(const char* begin, const char* end, std::size_t before = 0)
      : at_(begin), end_(end), number_(before) {}
  // The lines of a file from `begin` to its end, read from the file as they are needed, so
  // that a file far longer than its data is refused at its first line that cannot be right;
  // a line longer than `most` bytes is refused.
  Lines(RegularFile& file, const char* begin, std::size_t before, std::size_t most)
      : at_(begin), end_(file.end()), number_(before), file_(&file), most_(most) {}

  // The next line without its end; false when no byte is left.
  bool next(std::string_view& line);
  // The number of the line last returned.
  std::size_t number() const { return number_; }
  // The first byte after the line last returned (and its end).
  const char* position() const { return at_; }

private:
  const char* at_;
  const char* end_;
  std::size_t number_;
  RegularFile* file_ = nullptr;
  std::size_t most_ = 0;
};

// Whether the line holds a control character other than a tab: no header line of either
// format does.
bool hasControlCharacter(std::string_view line);

// The words of a line, separated by spaces and tabs, into `words` (cleared first).
void splitWords(std::string_view line, std::vector<std::string_view>& words);

// A number of a text file as its declared type. A word is taken only when all of it is the
// number: "0,25", "0.0.2", "0x1p3", "12abc" are refused. Reals accept "nan" and "inf";
// a real too small for its type becomes zero, one too large is refused.
struct Number {
  float coordinate = 0.0f;   // a real, rounded to float as a binary file's would be
  std::int64_t integer = 0;  // an integer; unsigned 64-bit values above its range saturate
  std::uint64_t count = 0;   // a uint64 as written
};
// Why the word is not a value of the type ("is not a number", "is out of the range of
// uint8"), or nullptr when it is one.
const char* parseWord(std::string_view word, Scalar type, Number& value);
// The same for an x, y or z, which is kept as a float: a double beyond a float's range is
// refused as a float would be ("inf" is still taken).
const char* parseCoordinate(std::string_view word, Scalar type, Number& value);

// The end of the last whole line in [begin, end), the first bytes of a file that goes on
// beyond them when `more`: a header line cut there is not taken for a shorter one.
const char* wholeLinesEnd(const char* begin, const char* end, bool more);

// The refusal of a header that does not end within the first kMostHeaderBytes: `lines`
// lines end within them, and the next goes on beyond.
[[noreturn]] void headerTooLong(std::size_t lines);

// A word as a message shows it: quoted, at most 40 bytes, bytes that are not printable
// ASCII as \xHH.
std::string quoted(std::string_view word);

}  // namespace litterpose_io::detail

#endif
