// PLY: a header of lines, then the rows of each element in the order declared, as text or
// as binary little or big endian. Every size the header declares is checked against the
// bytes the file holds before anything is allocated for it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "formats.h"
#include "read_error.h"
#include "scalar.h"
#include "text.h"

namespace litterpose_io::detail {
namespace {

enum class Encoding { ascii, binary_little_endian, binary_big_endian };

struct Property {
  std::string name;
  Scalar type = Scalar::float32;  // of the value, or of a list's items
  bool list = false;
  Scalar length_type = Scalar::uint8;
};

struct Element {
  std::string name;
  std::uint64_t count = 0;
  std::size_t line = 0;  // where it is declared
  std::vector<Property> properties;

  int find(std::string_view property) const {
    for (std::size_t k = 0; k < properties.size(); ++k)
      if (properties[k].name == property) return static_cast<int>(k);
    return -1;
  }
  bool hasList() const {
    for (const auto& p : properties)
      if (p.list) return true;
    return false;
  }
  // The fewest bytes a row takes: in binary its values with every list empty, in ASCII one
  // character and one separator or line end per value.
  std::uint64_t minimumRow(Encoding encoding) const {
    std::uint64_t bytes = 0;
    for (const auto& p : properties)
      bytes += encoding == Encoding::ascii ? 2 : sizeOf(p.list ? p.length_type : p.type);
    return bytes;
  }
};

struct Header {
  Encoding encoding = Encoding::ascii;
  std::vector<Element> elements;
  std::optional<std::int64_t> columns, rows;  // obj_info num_cols and num_rows
  std::size_t lines = 0;                      // end_header's line number
  const char* data = nullptr;                 // the first byte after end_header's line
};

[[noreturn]] void refuse(std::size_t line, const std::string& what) {
  throw ReadError("line " + std::to_string(line) + ": " + what);
}

std::optional<Scalar> scalarNamed(std::string_view name) {
  static const std::pair<std::string_view, Scalar> kNames[] = {
      {"char", Scalar::int8},      {"int8", Scalar::int8},       {"uchar", Scalar::uint8},
      {"uint8", Scalar::uint8},    {"short", Scalar::int16},     {"int16", Scalar::int16},
      {"ushort", Scalar::uint16},  {"uint16", Scalar::uint16},   {"int", Scalar::int32},
      {"int32", Scalar::int32},    {"uint", Scalar::uint32},     {"uint32", Scalar::uint32},
      {"float", Scalar::float32},  {"float32", Scalar::float32}, {"double", Scalar::float64},
      {"float64", Scalar::float64}};
  for (const auto& [word, type] : kNames)
    if (word == name) return type;
  return std::nullopt;
}

Scalar propertyType(std::string_view name, std::size_t line) {
  const auto type = scalarNamed(name);
  if (!type) refuse(line, quoted(name) + " is not a PLY property type");
  return *type;
}

// obj_info is free text, except the organisation of a range grid.
void readObjInfo(const std::vector<std::string_view>& words, std::size_t line, Header& h) {
  if (words.size() < 2 || (words[1] != "num_cols" && words[1] != "num_rows")) return;
  Number value;
  if (words.size() != 3 || parseWord(words[2], Scalar::uint32, value) != nullptr)
    refuse(line, "obj_info " + std::string(words[1]) + " needs one count, not " +
                     quoted(words.size() > 2 ? words[2] : ""));
  (words[1] == "num_cols" ? h.columns : h.rows) = value.integer;
}

// The header within [begin, end), the bytes loaded; `more` when the file goes on beyond them.
Header readHeader(const char* begin, const char* end, bool more) {
  Lines lines(begin, wholeLinesEnd(begin, end, more));
  std::string_view line;
  lines.next(line);
  if (line != "ply") refuse(1, "the first line must be 'ply', not " + quoted(line));
  Header h;
  bool format = false;
  std::vector<std::string_view> w;
  // Names point into the file's bytes; sets keep the checks for a second name linear.
  std::unordered_set<std::string_view> element_names, property_names;
  while (lines.next(line)) {
    const std::size_t n = lines.number();
    if (hasControlCharacter(line)) refuse(n, "a control character in the header, " + quoted(line));
    splitWords(line, w);
    if (w.empty() || w[0] == "comment") continue;
    const std::string_view keyword = w[0];
    if (keyword == "obj_info") {
      readObjInfo(w, n, h);
    } else if (keyword == "format") {
      if (format) refuse(n, "a second format line");
      if (w.size() != 3) refuse(n, "the format line needs a format and the version 1.0");
      if (w[1] == "ascii")
        h.encoding = Encoding::ascii;
      else if (w[1] == "binary_little_endian")
        h.encoding = Encoding::binary_little_endian;
      else if (w[1] == "binary_big_endian")
        h.encoding = Encoding::binary_big_endian;
      else
        refuse(n, quoted(w[1]) +
                      " is not a PLY format (ascii, binary_little_endian, binary_big_endian)");
      if (w[2] != "1.0") refuse(n, "PLY version " + quoted(w[2]) + " is not 1.0");
      format = true;
    } else if (keyword == "element") {
      if (!format) refuse(n, "an element before the format line");
      if (w.size() != 3) refuse(n, "an element line needs a name and a count");
      Element e;
      e.name = std::string(w[1]);
      e.line = n;
      Number count;
      if (parseWord(w[2], Scalar::uint64, count) != nullptr)
        refuse(n, "the count " + quoted(w[2]) + " of element " + e.name +
                      " is not a number of rows (an integer from 0)");
      e.count = count.count;
      if (!element_names.insert(w[1]).second) refuse(n, "a second element " + e.name);
      property_names.clear();
      h.elements.push_back(std::move(e));
    } else if (keyword == "property") {
      if (h.elements.empty()) refuse(n, "a property before any element");
      Element& e = h.elements.back();
      Property p;
      if (w.size() >= 2 && w[1] == "list") {
        if (w.size() != 5)
          refuse(n, "a list property needs the types of its length and its items, and a name");
        p.list = true;
        p.length_type = propertyType(w[2], n);
        if (isReal(p.length_type))
          refuse(n, "the length of list " + std::string(w[4]) + " cannot be a " +
                        nameOf(p.length_type));
        p.type = propertyType(w[3], n);
      } else {
        if (w.size() != 3) refuse(n, "a property needs a type and a name");
        p.type = propertyType(w[1], n);
      }
      p.name = std::string(w.back());
      if (!property_names.insert(w.back()).second)
        refuse(n, "a second property " + p.name + " in element " + e.name);
      e.properties.push_back(std::move(p));
    } else if (keyword == "end_header") {
      if (w.size() != 1) refuse(n, "end_header stands alone on its line");
      if (!format) refuse(n, "the header has no format line");
      h.lines = n;
      h.data = lines.position();
      return h;
    } else {
      refuse(n, quoted(keyword) + " is not a PLY header keyword");
    }
  }
  if (more) headerTooLong(lines.number());
  throw ReadError("the header has no end_header line (the file ends at line " +
                  std::to_string(lines.number()) + ")");
}

[[noreturn]] void trailingData(std::uint64_t offset, std::uint64_t bytes) {
  throw ReadError("byte " + std::to_string(offset) + ": " + byteCount(bytes) +
                  " of data after the last element's last row");
}

// Every element's rows at their smallest must fit in the data: a count that the file
// cannot hold is refused before a row is read or a point allocated.
void checkCounts(const Header& h, const char* end) {
  const std::uint64_t available = static_cast<std::uint64_t>(end - h.data);
  // An ASCII file's last value needs no line end.
  const std::uint64_t room = h.encoding == Encoding::ascii ? available + 1 : available;
  std::uint64_t needed = 0;
  for (const auto& e : h.elements) {
    const std::uint64_t row = e.minimumRow(h.encoding);
    if (row == 0 || e.count == 0) continue;
    if (e.count > (room - std::min(needed, room)) / row) {
      const long double total = static_cast<long double>(e.count) * row + needed;
      const std::uint64_t shown = total > 1.8e19L ? std::numeric_limits<std::uint64_t>::max()
                                                  : static_cast<std::uint64_t>(total);
      const auto [need, hold] = byteCounts(shown, available);
      refuse(e.line, "element " + e.name + " declares " + std::to_string(e.count) +
                         " rows, which need at least " + need + "; the file holds " + hold +
                         " after its header (the PLY file is truncated, or the count is wrong)");
    }
    needed += e.count * row;
  }
}

// A binary file whose rows are all of one size has one right size: data beyond it is
// refused before the data is read (checkCounts refused too little).
void checkExactSize(const Header& h, const char* begin, const char* end) {
  if (h.encoding == Encoding::ascii) return;
  std::uint64_t total = 0;
  for (const auto& e : h.elements) {
    if (e.hasList()) return;
    total += e.count * e.minimumRow(h.encoding);
  }
  const std::uint64_t available = static_cast<std::uint64_t>(end - h.data);
  if (total < available)
    trailingData(static_cast<std::uint64_t>(h.data - begin) + total, available - total);
}

// What the reader takes from the rows: the points, and the organisation that a camera
// element (PCL's viewport) or a range grid gives them.
struct Content {
  Cloud& cloud;
  std::optional<std::int64_t> viewport_width, viewport_height;
  std::vector<std::int64_t> grid;  // per cell, the vertex it holds or -1
  bool has_grid = false;
};

// The role an element plays for the reader, and where its values are.
struct Roles {
  int x = -1, y = -1, z = -1;                     // vertex
  int viewport_width = -1, viewport_height = -1;  // camera
  int grid_indices = -1;                          // range_grid
  bool vertex = false, camera = false, grid = false;
};

Roles rolesOf(const Element& e) {
  Roles r;
  if (e.name == "vertex") {
    r.vertex = true;
    r.x = e.find("x");
    r.y = e.find("y");
    r.z = e.find("z");
  } else if (e.name == "camera") {
    r.viewport_width = e.find("viewportx");
    r.viewport_height = e.find("viewporty");
    r.camera = r.viewport_width >= 0 && r.viewport_height >= 0;
  } else if (e.name == "range_grid") {
    r.grid_indices = e.find("vertex_indices");
    if (e.properties.size() != 1 || r.grid_indices != 0 || !e.properties[0].list ||
        isReal(e.properties[0].type))
      refuse(e.line, "element range_grid must have one property, the integer list vertex_indices");
    r.grid = true;
  }
  return r;
}

// The roles of an element whose rows are about to be read, with room made for its rows.
Roles startElement(const Element& e, Content& content) {
  const Roles roles = rolesOf(e);
  if (roles.vertex) content.cloud.resize(e.count);
  if (roles.grid) {
    content.has_grid = true;
    content.grid.resize(e.count);
  }
  return roles;
}

// The vertex element and its x, y and z: each a single float or double.
const Element& vertexElement(const Header& h) {
  const Element* vertex = nullptr;
  for (const auto& e : h.elements)
    if (e.name == "vertex") vertex = &e;
  if (vertex == nullptr) throw ReadError("the file has no vertex element");
  std::string missing, found;
  for (const auto& p : vertex->properties) found += (found.empty() ? "" : ", ") + p.name;
  for (const char* axis : {"x", "y", "z"})
    if (vertex->find(axis) < 0) missing += (missing.empty() ? "" : ", ") + std::string(axis);
  if (!missing.empty())
    refuse(vertex->line,
           std::string(missing.size() > 1 ? "no vertex properties " : "no vertex property ") +
               missing + " (the points carry: " + (found.empty() ? "nothing" : found) + ")");
  for (const char* axis : {"x", "y", "z"}) {
    const Property& p = vertex->properties[static_cast<std::size_t>(vertex->find(axis))];
    if (p.list || !isReal(p.type))
      refuse(vertex->line, "'" + p.name + "' is stored as " + (p.list ? "a list" : nameOf(p.type)) +
                               "; x, y and z must each be one float or double");
  }
  return *vertex;
}

// A viewport size is one value: a list of another length gives none, or more than one.
std::string viewportList(std::int64_t length) {
  return "a viewport size is one value, the list holds " +
         counted(static_cast<std::uint64_t>(length), "item");
}

// A viewport size or grid index as a count: an integer from 0, of whatever type it is stored.
std::optional<std::int64_t> countOf(Scalar type, const Number& value) {
  if (!isReal(type))
    return value.integer >= 0 ? std::optional<std::int64_t>(value.integer) : std::nullopt;
  const float real = value.coordinate;
  if (!(real >= 0.0f && real < 2147483648.0f) ||
      real != static_cast<float>(static_cast<std::int64_t>(real)))
    return std::nullopt;
  return static_cast<std::int64_t>(real);
}

class BinaryRows {
public:
  BinaryRows(const Header& h, const char* begin, const char* end)
      : begin_(begin),
        end_(end),
        at_(h.data),
        swap_((h.encoding == Encoding::binary_big_endian) != kBigEndianMachine) {}

  void read(const Element& e, Content& content) {
    const Roles roles = startElement(e, content);
    if (e.properties.empty()) return;
    if (!e.hasList()) {
      readFixedRows(e, roles, content);
      return;
    }
    std::vector<const char*> values(e.properties.size());
    std::vector<std::int64_t> lengths(e.properties.size());
    for (std::uint64_t row = 0; row < e.count; ++row) {
      for (std::size_t k = 0; k < e.properties.size(); ++k) {
        const Property& p = e.properties[k];
        std::uint64_t items = 1;
        if (p.list) {
          need(sizeOf(p.length_type), e, row);
          lengths[k] = loadInteger(at_, p.length_type, swap_);
          if (lengths[k] < 0) refuseAt(e, row, p, "a list of length " + std::to_string(lengths[k]));
          at_ += sizeOf(p.length_type);
          items = static_cast<std::uint64_t>(lengths[k]);
        }
        if (items > static_cast<std::uint64_t>(end_ - at_) / sizeOf(p.type)) truncated(e, row);
        values[k] = at_;
        at_ += items * sizeOf(p.type);
      }
      take(e, roles, row, values, lengths, content);
    }
  }

  void finish() const {
    if (at_ != end_)
      trailingData(static_cast<std::uint64_t>(at_ - begin_),
                   static_cast<std::uint64_t>(end_ - at_));
  }

private:
  // Rows of one size: checked at once, and the points copied without a walk per value.
  void readFixedRows(const Element& e, const Roles& roles, Content& content) {
    const std::uint64_t row_size = e.minimumRow(Encoding::binary_little_endian);
    if (e.count > static_cast<std::uint64_t>(end_ - at_) / row_size) {
      const auto [need, left] =
          byteCounts(e.count * row_size, static_cast<std::uint64_t>(end_ - at_));
      throw ReadError("byte " + std::to_string(at_ - begin_) + ": element " + e.name + " needs " +
                      std::to_string(e.count) + " rows of " + byteCount(row_size) + ", " + need +
                      ", and only " + left + " are left (the PLY file is truncated)");
    }
    std::vector<const char*> values(e.properties.size());
    const std::vector<std::int64_t> no_lengths(e.properties.size());
    if (roles.vertex) {
      std::size_t offset[3] = {0, 0, 0};
      Scalar type[3] = {};
      const int index[3] = {roles.x, roles.y, roles.z};
      for (int axis = 0; axis < 3; ++axis) {
        for (int k = 0; k < index[axis]; ++k) offset[axis] += sizeOf(e.properties[k].type);
        type[axis] = e.properties[static_cast<std::size_t>(index[axis])].type;
      }
      for (std::uint64_t row = 0; row < e.count; ++row) {
        const char* at = at_ + row * row_size;
        pcl::PointXYZ& point = content.cloud[row];
        point.x = loadCoordinate(at + offset[0], type[0], swap_);
        point.y = loadCoordinate(at + offset[1], type[1], swap_);
        point.z = loadCoordinate(at + offset[2], type[2], swap_);
      }
      // Apart from the loop above, which stays as fast as a copy: only a double can be
      // beyond a float, and only an infinite point can hold one.
      if (type[0] == Scalar::float64 || type[1] == Scalar::float64 || type[2] == Scalar::float64)
        for (std::uint64_t row = 0; row < e.count; ++row) {
          const pcl::PointXYZ& point = content.cloud[row];
          if (std::isinf(point.x) || std::isinf(point.y) || std::isinf(point.z))
            for (int axis = 0; axis < 3; ++axis)
              checkCoordinate(e, row, index[axis], at_ + row * row_size + offset[axis]);
        }
    } else if (roles.camera && e.count > 0) {
      const char* at = at_;
      for (std::size_t k = 0; k < e.properties.size(); ++k) {
        values[k] = at;
        at += sizeOf(e.properties[k].type);
      }
      take(e, roles, 0, values, no_lengths, content);
    }
    at_ += e.count * row_size;
  }

  void take(const Element& e, const Roles& roles, std::uint64_t row,
            const std::vector<const char*>& values, const std::vector<std::int64_t>& lengths,
            Content& content) const {
    if (roles.vertex) {
      const auto coordinate = [&](int k) {
        const char* at = values[static_cast<std::size_t>(k)];
        const float c = loadCoordinate(at, e.properties[static_cast<std::size_t>(k)].type, swap_);
        if (std::isinf(c)) checkCoordinate(e, row, k, at);
        return c;
      };
      content.cloud[row] =
          pcl::PointXYZ(coordinate(roles.x), coordinate(roles.y), coordinate(roles.z));
    } else if (roles.camera && row == 0) {
      for (const int k : {roles.viewport_width, roles.viewport_height}) {
        const Property& p = e.properties[static_cast<std::size_t>(k)];
        if (p.list && lengths[static_cast<std::size_t>(k)] != 1)
          refuseAt(e, row, p, viewportList(lengths[static_cast<std::size_t>(k)]));
        const auto value = countOf(p.type, number(values[static_cast<std::size_t>(k)], p.type));
        if (!value) refuseAt(e, row, p, "the viewport size is not a count");
        (k == roles.viewport_width ? content.viewport_width : content.viewport_height) = value;
      }
    } else if (roles.grid) {
      const Property& p = e.properties[0];
      if (lengths[0] > 1) refuseAt(e, row, p, "a grid cell holds more than one vertex");
      if (lengths[0] == 0) {
        content.grid[row] = -1;
        return;
      }
      const auto index = countOf(p.type, number(values[0], p.type));
      if (!index) refuseAt(e, row, p, "the vertex index is not a count");
      content.grid[row] = *index;
    }
  }

  // x, y or z (the property k) of a row, at `at`: a double beyond a float's range is refused.
  void checkCoordinate(const Element& e, std::uint64_t row, int k, const char* at) const {
    const Property& p = e.properties[static_cast<std::size_t>(k)];
    if (coordinateBeyondFloat(at, p.type, swap_))
      throw ReadError("byte " + std::to_string(at - begin_) + ", " + e.name + " " +
                      std::to_string(row) + ", property " + p.name + ": " +
                      shortest(load<double>(at, swap_)) + " is out of the range of a float");
  }

  Number number(const char* at, Scalar type) const {
    Number n;
    if (isReal(type))
      n.coordinate = loadCoordinate(at, type, swap_);
    else
      n.integer = loadInteger(at, type, swap_);
    return n;
  }

  void need(std::size_t bytes, const Element& e, std::uint64_t row) const {
    if (static_cast<std::size_t>(end_ - at_) < bytes) truncated(e, row);
  }

  [[noreturn]] void truncated(const Element& e, std::uint64_t row) const {
    throw ReadError("byte " + std::to_string(std::min(at_, end_) - begin_) +
                    ": the data ends inside " + e.name + " " + std::to_string(row) + " of " +
                    std::to_string(e.count) + " (the PLY file is truncated)");
  }

  [[noreturn]] void refuseAt(const Element& e, std::uint64_t row, const Property& p,
                             const std::string& what) const {
    throw ReadError("byte " + std::to_string(at_ - begin_) + ", " + e.name + " " +
                    std::to_string(row) + ", property " + p.name + ": " + what);
  }

  const char* begin_;
  const char* end_;
  const char* at_;
  bool swap_;
};

// The longest line an ASCII row can need: kMostValueBytes per value, and a list of up to a
// thousand items.
std::size_t mostLine(const Header& h) {
  std::size_t most = 0;
  for (const auto& e : h.elements) {
    std::size_t values = 0;
    for (const auto& p : e.properties) values += p.list ? 1 + kMostListItems : 1;
    most = std::max(most, values * kMostValueBytes);
  }
  return most;
}

class AsciiRows {
public:
  AsciiRows(const Header& h, RegularFile& file) : lines_(file, h.data, h.lines, mostLine(h)) {}

  void read(const Element& e, Content& content) {
    const Roles roles = startElement(e, content);
    if (e.properties.empty()) return;
    for (std::uint64_t row = 0; row < e.count; ++row) {
      std::string_view line;
      do {
        if (!lines_.next(line))
          throw ReadError("line " + std::to_string(lines_.number()) + ": the data ends before " +
                          e.name + " " + std::to_string(row) + " of " + std::to_string(e.count) +
                          " (the PLY file is truncated)");
        splitWords(line, words_);
      } while (words_.empty());
      readRow(e, roles, row, content);
    }
  }

  void finish() {
    std::string_view line;
    while (lines_.next(line)) {
      splitWords(line, words_);
      if (!words_.empty())
        throw ReadError("line " + std::to_string(lines_.number()) +
                        ": data after the last element's last row, " + quoted(line));
    }
  }

private:
  void readRow(const Element& e, const Roles& roles, std::uint64_t row, Content& content) {
    std::size_t w = 0;
    float xyz[3] = {0.0f, 0.0f, 0.0f};
    for (std::size_t k = 0; k < e.properties.size(); ++k) {
      const Property& p = e.properties[k];
      const int index = static_cast<int>(k);
      std::int64_t length = 1;
      if (p.list) {
        const Number n = value(e, row, p, w++, p.length_type);
        if (n.integer < 0) refuseAt(e, row, p, "a list of length " + std::to_string(n.integer));
        length = n.integer;
        if (static_cast<std::uint64_t>(length) > words_.size() - w)
          refuseAt(e, row, p,
                   "the list's length is " + std::to_string(length) + ", the line holds " +
                       std::to_string(words_.size() - w) + " more values");
        if (roles.grid && length > 1) refuseAt(e, row, p, "a grid cell holds more than one vertex");
        if (roles.grid && length == 0) content.grid[row] = -1;
        if (roles.camera && row == 0 && length != 1 &&
            (index == roles.viewport_width || index == roles.viewport_height))
          refuseAt(e, row, p, viewportList(length));
      }
      for (std::int64_t item = 0; item < length; ++item) {
        const bool coordinate =
            roles.vertex && (index == roles.x || index == roles.y || index == roles.z);
        const Number n = value(e, row, p, w++, p.type, coordinate);
        if (roles.vertex) {
          if (index == roles.x) xyz[0] = n.coordinate;
          if (index == roles.y) xyz[1] = n.coordinate;
          if (index == roles.z) xyz[2] = n.coordinate;
        } else if ((roles.camera && row == 0 &&
                    (index == roles.viewport_width || index == roles.viewport_height)) ||
                   roles.grid) {
          const auto count = countOf(p.type, n);
          if (!count)
            refuseAt(e, row, p,
                     quoted(words_[w - 1]) +
                         (roles.grid ? " is not a vertex index" : " is not a viewport size"));
          if (roles.grid)
            content.grid[row] = *count;
          else
            (index == roles.viewport_width ? content.viewport_width : content.viewport_height) =
                count;
        }
      }
    }
    if (w != words_.size())
      refuseAt(e, row, e.properties.back(),
               "the line holds " + counted(words_.size(), "value") + ", the row ends after " +
                   std::to_string(w) + " (" + quoted(words_[w]) + " is left over)");
    if (roles.vertex) content.cloud[row] = pcl::PointXYZ(xyz[0], xyz[1], xyz[2]);
  }

  Number value(const Element& e, std::uint64_t row, const Property& p, std::size_t w, Scalar type,
               bool coordinate = false) {
    if (w >= words_.size())
      refuseAt(
          e, row, p,
          "the line ends after " + counted(words_.size(), "value") + ", before this property's");
    Number n;
    if (const char* why = (coordinate ? parseCoordinate : parseWord)(words_[w], type, n))
      refuseAt(e, row, p, quoted(words_[w]) + " " + why);
    return n;
  }

  [[noreturn]] void refuseAt(const Element& e, std::uint64_t row, const Property& p,
                             const std::string& what) const {
    refuse(lines_.number(),
           e.name + " " + std::to_string(row) + ", property " + p.name + ": " + what);
  }

  Lines lines_;
  std::vector<std::string_view> words_;
};

// Width and height: a range grid's, the camera's viewport, or obj_info's columns and rows,
// when they hold the points; one row otherwise.
void organise(const Header& h, Content& content) {
  Cloud& cloud = content.cloud;
  const std::uint64_t points = cloud.size();
  if (content.has_grid) {
    Cloud grid;
    grid.resize(content.grid.size());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t cell = 0; cell < content.grid.size(); ++cell) {
      const std::int64_t index = content.grid[cell];
      if (index >= static_cast<std::int64_t>(points))
        throw ReadError("range_grid " + std::to_string(cell) + " holds vertex " +
                        std::to_string(index) + ", and there are " + std::to_string(points));
      grid[cell] =
          index < 0 ? pcl::PointXYZ(nan, nan, nan) : cloud[static_cast<std::size_t>(index)];
    }
    cloud.swap(grid);
  }
  const std::uint64_t cells = cloud.size();
  if (cells > std::numeric_limits<std::uint32_t>::max())
    throw ReadError(std::to_string(cells) + " points are more than a cloud can hold");
  std::optional<std::int64_t> width = h.columns, height = h.rows;
  const char* source = "obj_info's num_cols and num_rows";
  if (content.viewport_width) {
    width = content.viewport_width;
    height = content.viewport_height;
    source = "the camera element's viewportx and viewporty";
  }
  cloud.width = static_cast<std::uint32_t>(cells);
  cloud.height = 1;
  if (!width || !height) {
    if (content.has_grid)
      throw ReadError("a range_grid element needs obj_info num_cols and num_rows");
    return;
  }
  if (static_cast<std::uint64_t>(*width) * static_cast<std::uint64_t>(*height) != cells)
    throw ReadError(std::string(source) + " organise the cloud as " + std::to_string(*width) +
                    " x " + std::to_string(*height) + " points; the file holds " +
                    std::to_string(cells));
  cloud.width = static_cast<std::uint32_t>(*width);
  cloud.height = static_cast<std::uint32_t>(*height);
}

}  // namespace

void readPly(RegularFile& file, Cloud& cloud) {
  const char* begin = file.begin();
  const char* end = file.end();
  const Header h = readHeader(begin, begin + file.loaded(), file.loaded() < file.size());
  vertexElement(h);
  checkCounts(h, end);
  checkExactSize(h, begin, end);
  Content content{cloud, std::nullopt, std::nullopt, {}, false};
  if (h.encoding == Encoding::ascii) {
    AsciiRows rows(h, file);
    for (const auto& e : h.elements) rows.read(e, content);
    rows.finish();
  } else {
    file.loadAll();
    BinaryRows rows(h, begin, end);
    for (const auto& e : h.elements) rows.read(e, content);
    rows.finish();
  }
  organise(h, content);
}

}  // namespace litterpose_io::detail
