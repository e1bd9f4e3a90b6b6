// PCD: a header of keyword lines ending with DATA, then the points as text, as binary
// rows, or compressed with lzf as one block per field. Every size the header declares is
// checked against the bytes the file holds before anything is allocated for it.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <lzf.h>

#include "formats.h"
#include "read_error.h"
#include "scalar.h"
#include "text.h"

namespace litterpose_io::detail {
namespace {

constexpr std::string_view kKeywords[] = {"VERSION", "FIELDS", "SIZE",      "TYPE",   "COUNT",
                                          "WIDTH",   "HEIGHT", "VIEWPOINT", "POINTS", "DATA"};

// lzf's longest back reference, 264 bytes in 3, bounds what a compressed block can become.
constexpr std::uint64_t kLzfMostExpansion = 88;

enum class Data { ascii, binary, binary_compressed };

struct Field {
  std::string name;
  std::size_t size = 0;
  char type = 'F';
  std::uint64_t count = 1;
  Scalar scalar() const {
    if (type == 'F') return size == 4 ? Scalar::float32 : Scalar::float64;
    const int k = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
    static const Scalar kSigned[] = {Scalar::int8, Scalar::int16, Scalar::int32, Scalar::int64};
    static const Scalar kUnsigned[] = {Scalar::uint8, Scalar::uint16, Scalar::uint32,
                                       Scalar::uint64};
    return type == 'I' ? kSigned[k] : kUnsigned[k];
  }
};

struct Header {
  std::vector<Field> fields;
  std::size_t fields_line = 0, size_line = 0, type_line = 0;
  std::optional<std::uint64_t> width, height, points;
  std::size_t points_line = 0;
  Data data = Data::ascii;
  std::size_t lines = 0;       // DATA's line number
  const char* body = nullptr;  // the first byte after DATA's line
  std::string ignored;         // the extra lines taken as another tool's, for messages
};

[[noreturn]] void refuse(std::size_t line, const std::string& what) {
  throw ReadError("line " + std::to_string(line) + ": " + what);
}

std::string upper(std::string_view word) {
  std::string u(word);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

// Edits (a letter changed, added, removed, or two neighbours swapped) from a to b.
std::size_t edits(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] =
          std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// The keyword that a header word misspells: in another case, or (for keywords long enough
// to tell apart from another tool's words) with a letter or two wrong. Short keywords
// (SIZE, TYPE, DATA) only match in another case, so that a line such as "DATE ..." stays
// another tool's; a required keyword misspelt is refused anyway as missing.
std::optional<std::string_view> misspelt(std::string_view word) {
  if (word.size() > 16) return std::nullopt;
  const std::string u = upper(word);
  for (const auto keyword : kKeywords) {
    if (u == keyword) return keyword;
    const std::size_t allowed = keyword.size() >= 7 ? 2 : keyword.size() >= 5 ? 1 : 0;
    if (allowed > 0 && edits(u, keyword) <= allowed) return keyword;
  }
  return std::nullopt;
}

// An upper-case word such as UNITS or SENSOR: a line that another tool adds to the header
// and that says nothing about x, y and z.
bool isOtherToolsKeyword(std::string_view word) {
  if (word.empty() || !std::isupper(static_cast<unsigned char>(word[0]))) return false;
  return std::all_of(word.begin(), word.end(), [](char c) {
    return std::isupper(static_cast<unsigned char>(c)) ||
           std::isdigit(static_cast<unsigned char>(c)) || c == '_';
  });
}

std::uint64_t count(std::string_view word, std::size_t line, std::string_view what) {
  Number n;
  if (parseWord(word, Scalar::uint32, n) != nullptr)
    refuse(line, std::string(what) + " " + quoted(word) +
                     " is not a count (an integer from 0 to 4294967295)");
  return static_cast<std::uint64_t>(n.integer);
}

// The values of SIZE, TYPE or COUNT: one per field, after FIELDS.
void perField(const Header& h, const std::vector<std::string_view>& w, std::size_t line) {
  if (h.fields.empty()) refuse(line, std::string(w[0]) + " before FIELDS");
  if (w.size() - 1 != h.fields.size())
    refuse(line, std::string(w[0]) + " gives " + std::to_string(w.size() - 1) + " values for " +
                     std::to_string(h.fields.size()) + " fields");
}

void readKeyword(Header& h, const std::vector<std::string_view>& w, std::size_t line) {
  const std::string_view k = w[0];
  const std::size_t values = w.size() - 1;
  if (k == "VERSION") {
    Number n;
    if (values != 1 || parseWord(w[1], Scalar::float32, n) != nullptr)
      refuse(line, "VERSION needs one number, such as 0.7");
  } else if (k == "FIELDS") {
    if (values == 0) refuse(line, "FIELDS names no field");
    h.fields_line = line;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const std::string name(w[i]);
      if ((name == "x" || name == "y" || name == "z") &&
          std::any_of(h.fields.begin(), h.fields.end(),
                      [&](const Field& f) { return f.name == name; }))
        refuse(line, "a second field " + name);
      h.fields.push_back({name});
    }
  } else if (k == "SIZE") {
    perField(h, w, line);
    h.size_line = line;
    for (std::size_t i = 0; i < h.fields.size(); ++i) {
      const std::string_view s = w[i + 1];
      if (s != "1" && s != "2" && s != "4" && s != "8")
        refuse(line,
               "the size " + quoted(s) + " of field " + h.fields[i].name + " is not 1, 2, 4 or 8");
      h.fields[i].size = static_cast<std::size_t>(s[0] - '0');
    }
  } else if (k == "TYPE") {
    perField(h, w, line);
    h.type_line = line;
    for (std::size_t i = 0; i < h.fields.size(); ++i) {
      const std::string_view t = w[i + 1];
      if (t != "F" && t != "I" && t != "U")
        refuse(line,
               "the type " + quoted(t) + " of field " + h.fields[i].name + " is not F, I or U");
      h.fields[i].type = t[0];
    }
  } else if (k == "COUNT") {
    perField(h, w, line);
    for (std::size_t i = 0; i < h.fields.size(); ++i) {
      h.fields[i].count = count(w[i + 1], line, "the COUNT");
      if (h.fields[i].count == 0) refuse(line, "the COUNT of field " + h.fields[i].name + " is 0");
    }
  } else if (k == "WIDTH" || k == "HEIGHT" || k == "POINTS") {
    if (values != 1) refuse(line, std::string(k) + " needs one count");
    const std::uint64_t n = count(w[1], line, k);
    (k == "WIDTH" ? h.width : k == "HEIGHT" ? h.height : h.points) = n;
    if (k == "POINTS") h.points_line = line;
  } else if (k == "VIEWPOINT") {
    Number n;
    if (values != 7) refuse(line, "VIEWPOINT needs 7 numbers (translation and quaternion)");
    for (std::size_t i = 1; i < w.size(); ++i)
      if (const char* why = parseWord(w[i], Scalar::float64, n))
        refuse(line, "VIEWPOINT: " + quoted(w[i]) + " " + why);
  } else {  // DATA
    if (values != 1) refuse(line, "DATA needs one of ascii, binary, binary_compressed");
    if (w[1] == "ascii")
      h.data = Data::ascii;
    else if (w[1] == "binary")
      h.data = Data::binary;
    else if (w[1] == "binary_compressed")
      h.data = Data::binary_compressed;
    else
      refuse(line, quoted(w[1]) + " is not a PCD data format (ascii, binary, binary_compressed)");
  }
}

void checkFields(const Header& h) {
  const auto missing = [&](const char* keyword) {
    throw ReadError("line " + std::to_string(h.lines) + ": the header ends at DATA without a " +
                    keyword + " line" +
                    (h.ignored.empty() ? "" : " (taken as another tool's: " + h.ignored + ")"));
  };
  if (h.fields.empty()) missing("FIELDS");
  if (h.size_line == 0) missing("SIZE");
  if (h.type_line == 0) missing("TYPE");
  if (!h.width) missing("WIDTH");
  for (const auto& f : h.fields)
    if (f.type == 'F' && f.size != 4 && f.size != 8)
      refuse(h.type_line, "field " + f.name + " is a real of size " + std::to_string(f.size) +
                              "; reals have size 4 or 8");
  std::string absent, found;
  for (const auto& f : h.fields) found += (found.empty() ? "" : ", ") + f.name;
  const Field* xyz[3] = {};
  for (int axis = 0; axis < 3; ++axis) {
    const std::string name(1, static_cast<char>('x' + axis));
    for (const auto& f : h.fields)
      if (f.name == name) xyz[axis] = &f;
    if (xyz[axis] == nullptr) absent += (absent.empty() ? "" : ", ") + name;
  }
  if (!absent.empty())
    refuse(h.fields_line, std::string(absent.size() > 1 ? "no fields " : "no field ") + absent +
                              " (the points carry: " + found + ")");
  for (const Field* f : xyz)
    if (f->type != 'F' || f->count != 1)
      refuse(h.fields_line, "'" + f->name + "' is stored as " +
                                (f->count != 1 ? "a list of " + std::to_string(f->count)
                                               : std::string(nameOf(f->scalar()))) +
                                "; x, y and z must each be one float or double");
  const std::uint64_t points = *h.width * h.height.value_or(1);
  if (h.points && *h.points != points)
    refuse(h.points_line, "POINTS " + std::to_string(*h.points) + " is not WIDTH x HEIGHT, " +
                              std::to_string(points));
}

// The header within [begin, end), the bytes loaded; `more` when the file goes on beyond them.
Header readHeader(const char* begin, const char* end, bool more) {
  Header h;
  Lines lines(begin, wholeLinesEnd(begin, end, more));
  std::string_view line;
  std::vector<std::string_view> w;
  bool seen[std::size(kKeywords)] = {};
  while (lines.next(line)) {
    const std::size_t n = lines.number();
    if (hasControlCharacter(line)) refuse(n, "a control character in the header, " + quoted(line));
    splitWords(line, w);
    if (w.empty() || w[0][0] == '#') continue;
    const auto known = std::find(std::begin(kKeywords), std::end(kKeywords), w[0]);
    if (known == std::end(kKeywords)) {
      if (const auto keyword = misspelt(w[0]))
        refuse(n, quoted(w[0]) + " is not a PCD header keyword (" + std::string(*keyword) + "?)");
      if (!isOtherToolsKeyword(w[0])) refuse(n, quoted(w[0]) + " is not a PCD header keyword");
      h.ignored +=
          (h.ignored.empty() ? "line " : ", line ") + std::to_string(n) + " " + quoted(w[0]);
      continue;
    }
    bool& again = seen[known - std::begin(kKeywords)];
    if (again) refuse(n, "a second " + std::string(w[0]) + " line");
    again = true;
    readKeyword(h, w, n);
    if (w[0] == "DATA") {
      h.lines = n;
      h.body = lines.position();
      checkFields(h);
      return h;
    }
  }
  if (more) headerTooLong(lines.number());
  throw ReadError("the header has no DATA line (the file ends at line " +
                  std::to_string(lines.number()) + ")");
}

struct Layout {
  std::uint64_t points = 0;
  std::uint64_t step = 0;      // bytes of one point
  std::size_t offset[3] = {};  // of x, y and z in a point
  Scalar type[3] = {};
  std::size_t field[3] = {};  // the index of x, y and z's fields
};

Layout layoutOf(const Header& h) {
  Layout l;
  l.points = *h.width * h.height.value_or(1);
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    const Field& f = h.fields[i];
    if (f.name.size() == 1 && f.name[0] >= 'x' && f.name[0] <= 'z') {
      const int axis = f.name[0] - 'x';
      l.offset[axis] = l.step;
      l.type[axis] = f.scalar();
      l.field[axis] = i;
    }
    l.step += f.size * f.count;
  }
  return l;
}

[[noreturn]] void sizeMismatch(const Layout& l, std::uint64_t available) {
  const bool fits = l.points <= available / l.step && l.points * l.step <= available;
  const std::string points =
      "DATA binary: " + std::to_string(l.points) + " points of " + byteCount(l.step);
  if (!fits)
    throw ReadError(
        points + " need more than the " + byteCount(available) +
        " the file holds after its header (it is truncated, or WIDTH and HEIGHT are wrong)");
  throw ReadError(points + " need " + byteCount(l.points * l.step) + "; the file holds " +
                  byteCount(available - l.points * l.step) + " more (data after the last point)");
}

// The points whose x, y or z is stored as a double beyond a float's range are refused; `at`
// gives where a point's coordinates are, in the file from `file` (nullptr for unpacked data,
// which has no place in the file). Apart from the loops that read the points, which
// stay as fast as a copy: only a double can be beyond a float, and only an infinite point
// can hold one.
template <typename Where>
void checkRange(const Header& h, const Layout& l, const Cloud& cloud, const char* file,
                const Where& at) {
  if (l.type[0] != Scalar::float64 && l.type[1] != Scalar::float64 &&
      l.type[2] != Scalar::float64)
    return;
  for (std::uint64_t i = 0; i < cloud.size(); ++i) {
    const pcl::PointXYZ& p = cloud[i];
    if (!std::isinf(p.x) && !std::isinf(p.y) && !std::isinf(p.z)) continue;
    for (int axis = 0; axis < 3; ++axis) {
      const char* value = at(i, axis);
      if (coordinateBeyondFloat(value, l.type[axis], kBigEndianMachine))
        throw ReadError((file != nullptr ? "byte " + std::to_string(value - file) + ", " : "") +
                        "point " + std::to_string(i) + ", field " + h.fields[l.field[axis]].name +
                        ": " + shortest(load<double>(value, kBigEndianMachine)) +
                        " is out of the range of a float");
    }
  }
}

// PCL's writer of PCLPointCloud2 clouds (what ROS recordings are saved with) maps the file in
// whole memory pages and leaves the rest of the last one zero: fewer than kMaxPagePadding
// zero bytes after the data are that padding, not data.
constexpr std::uint64_t kMaxPagePadding = 65536;  // the largest page of 64-bit ARM kernels

bool pagePadding(RegularFile& file, const char* from) {
  const auto bytes = static_cast<std::uint64_t>(file.end() - from);
  if (bytes == 0 || bytes >= kMaxPagePadding) return false;
  file.loadAll();
  return std::all_of(from, file.end(), [](char c) { return c == '\0'; });
}

void readBinary(const Header& h, const Layout& l, RegularFile& file, Cloud& cloud) {
  const std::uint64_t available = static_cast<std::uint64_t>(file.end() - h.body);
  if (l.points > available / l.step ||
      (l.points * l.step != available && !pagePadding(file, h.body + l.points * l.step)))
    sizeMismatch(l, available);
  file.loadAll();
  cloud.resize(l.points);
  for (std::uint64_t i = 0; i < l.points; ++i) {
    const char* row = h.body + i * l.step;
    cloud[i] = pcl::PointXYZ(loadCoordinate(row + l.offset[0], l.type[0], kBigEndianMachine),
                             loadCoordinate(row + l.offset[1], l.type[1], kBigEndianMachine),
                             loadCoordinate(row + l.offset[2], l.type[2], kBigEndianMachine));
  }
  checkRange(h, l, cloud, file.begin(),
             [&](std::uint64_t i, int axis) { return h.body + i * l.step + l.offset[axis]; });
}

// Two little-endian 32-bit sizes, compressed and uncompressed, then the lzf block, which
// holds each field's values for all points in turn.
void readCompressed(const Header& h, const Layout& l, RegularFile& file, Cloud& cloud) {
  const std::uint64_t available = static_cast<std::uint64_t>(file.end() - h.body);
  const auto where = "line " + std::to_string(h.lines) + ": DATA binary_compressed: ";
  if (available < 8)
    throw ReadError(where +
                    "the file ends before the two sizes of the compressed data (it is truncated)");
  file.load(static_cast<std::size_t>(h.body - file.begin()) + 8);
  const std::uint64_t packed = load<std::uint32_t>(h.body, kBigEndianMachine);
  const std::uint64_t unpacked = load<std::uint32_t>(h.body + 4, kBigEndianMachine);
  if (l.points > std::uint64_t{0xffffffff} / l.step || unpacked != l.points * l.step)
    throw ReadError(where + "the compressed data unpacks to " + std::to_string(unpacked) +
                    " bytes; " + std::to_string(l.points) + " points of " + std::to_string(l.step) +
                    " bytes need " + std::to_string(l.points * l.step));
  if (packed != available - 8 &&
      !(packed < available - 8 && pagePadding(file, h.body + 8 + packed))) {
    const auto [declared, held] = byteCounts(packed, available - 8);
    throw ReadError(where + "the compressed data is " + declared + ", the file holds " + held +
                    " after the sizes" +
                    (packed > available - 8 ? " (it is truncated)" : " (trailing data)"));
  }
  if (unpacked == 0 && packed > 0)
    throw ReadError(where + byteCount(packed) + " of compressed data for 0 points (data after " +
                    "the last point)");
  if (unpacked == 0) return;
  if (packed == 0 || unpacked > packed * kLzfMostExpansion)
    throw ReadError(where + byteCount(packed) + " of lzf data cannot unpack to " +
                    byteCount(unpacked));
  file.loadAll();
  // Left uninitialised: lzf writes every byte or the block is refused.
  const std::unique_ptr<char[]> fields(new char[unpacked]);
  if (lzf_decompress(h.body + 8, static_cast<unsigned>(packed), fields.get(),
                     static_cast<unsigned>(unpacked)) != unpacked)
    throw ReadError(where + "the lzf data is corrupt (it does not unpack to " +
                    byteCount(unpacked) + ")");
  const char* column[3];
  for (int axis = 0; axis < 3; ++axis) {
    std::uint64_t before = 0;
    for (std::size_t i = 0; i < l.field[axis]; ++i) before += h.fields[i].size * h.fields[i].count;
    column[axis] = fields.get() + before * l.points;
  }
  cloud.resize(l.points);
  for (std::uint64_t i = 0; i < l.points; ++i)
    cloud[i] = pcl::PointXYZ(
        loadCoordinate(column[0] + i * sizeOf(l.type[0]), l.type[0], kBigEndianMachine),
        loadCoordinate(column[1] + i * sizeOf(l.type[1]), l.type[1], kBigEndianMachine),
        loadCoordinate(column[2] + i * sizeOf(l.type[2]), l.type[2], kBigEndianMachine));
  checkRange(h, l, cloud, nullptr, [&](std::uint64_t i, int axis) {
    return column[axis] + i * sizeOf(l.type[axis]);
  });
}

void readAscii(const Header& h, const Layout& l, RegularFile& file, Cloud& cloud) {
  const char* end = file.end();
  std::uint64_t values = 0;
  for (const auto& f : h.fields) values += f.count;
  // Each value is one character at least, and a space or the line's end.
  const std::uint64_t room = static_cast<std::uint64_t>(end - h.body) + 1;
  if (l.points > room / (2 * values)) {
    const long double least = static_cast<long double>(l.points) * 2 * values - 1;
    const auto [need, hold] = byteCounts(
        least > 1.8e19L ? ~std::uint64_t{0} : static_cast<std::uint64_t>(least), room - 1);
    throw ReadError("line " + std::to_string(h.lines) + ": " + std::to_string(l.points) +
                    " points of " + counted(values, "value") + " need at least " + need +
                    " of text; the file holds " + hold +
                    " after its header (it is truncated, or WIDTH and HEIGHT are wrong)");
  }
  cloud.resize(l.points);
  Lines lines(file, h.body, h.lines, values * kMostValueBytes);
  std::string_view line;
  std::vector<std::string_view> w;
  for (std::uint64_t i = 0; i < l.points; ++i) {
    do {
      if (!lines.next(line))
        throw ReadError("line " + std::to_string(lines.number()) + ": the data ends after " +
                        std::to_string(i) + " of " + std::to_string(l.points) +
                        " points (the PCD file is truncated)");
      splitWords(line, w);
    } while (w.empty());
    const auto at = [&](const std::string& what) {
      return "line " + std::to_string(lines.number()) + ", point " + std::to_string(i) + ": " +
             what;
    };
    if (w.size() != values)
      throw ReadError(at("the line holds " + counted(w.size(), "value") + ", a point has " +
                         std::to_string(values)));
    std::size_t k = 0;
    float xyz[3] = {0.0f, 0.0f, 0.0f};
    for (const auto& f : h.fields)
      for (std::uint64_t c = 0; c < f.count; ++c, ++k) {
        Number n;
        const bool coordinate =
            f.count == 1 && f.name.size() == 1 && f.name[0] >= 'x' && f.name[0] <= 'z';
        if (const char* why = (coordinate ? parseCoordinate : parseWord)(w[k], f.scalar(), n))
          throw ReadError(at("field " + f.name + ": " + quoted(w[k]) + " " + why));
        if (coordinate) xyz[f.name[0] - 'x'] = n.coordinate;
      }
    cloud[i] = pcl::PointXYZ(xyz[0], xyz[1], xyz[2]);
  }
  while (lines.next(line)) {
    splitWords(line, w);
    if (!w.empty())
      throw ReadError("line " + std::to_string(lines.number()) + ": data after the last of the " +
                      std::to_string(l.points) + " points, " + quoted(line));
  }
}

}  // namespace

bool isPcdKeyword(std::string_view word) {
  return std::find(std::begin(kKeywords), std::end(kKeywords), word) != std::end(kKeywords);
}

void readPcd(RegularFile& file, Cloud& cloud) {
  const Header h =
      readHeader(file.begin(), file.begin() + file.loaded(), file.loaded() < file.size());
  const Layout l = layoutOf(h);
  if (l.points > std::numeric_limits<std::uint32_t>::max())
    throw ReadError(std::to_string(l.points) + " points are more than a cloud can hold");
  switch (h.data) {
    case Data::ascii: readAscii(h, l, file, cloud); break;
    case Data::binary: readBinary(h, l, file, cloud); break;
    case Data::binary_compressed: readCompressed(h, l, file, cloud); break;
  }
  cloud.width = static_cast<std::uint32_t>(*h.width);
  cloud.height = static_cast<std::uint32_t>(h.height.value_or(1));
}

}  // namespace litterpose_io::detail
