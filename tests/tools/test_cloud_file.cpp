// Reading recorded clouds: PLY and PCD, coordinates stored as float or double, the valid
// oddities of both formats, and the files that must be refused, each with its reason and
// place (a table of files made malformed from valid ones, one row per rule).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pcl/conversions.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "cloud_file.h"
#include "support/run_program.h"

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;

// Coordinates that a float cannot hold exactly, and a non-number.
const std::vector<double> kCoordinates = {0.1,  -0.37, 0.45,  1.0 / 3.0, 2e-7, -12.5,
                                          -0.2, 0.25,  1e-40, 0.5,       -0.5, 7.0};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

template <typename T>
void append(std::string& bytes, T value) {
  bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A binary little-endian PLY of the coordinates, three per vertex, with the given property
// type ("float", "double", "int") and names; `cut` bytes are left off the end.
std::string writePly(const std::string& type, const std::vector<std::string>& names,
                     std::size_t cut = 0) {
  const std::size_t n = kCoordinates.size() / 3;
  std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                     std::to_string(n) + "\n";
  for (const auto& name : names) text += "property " + type + " " + name + "\n";
  text += "property uchar intensity\nend_header\n";
  for (std::size_t v = 0; v < n; ++v) {
    for (std::size_t k = 0; k < names.size(); ++k) {
      const double c = kCoordinates[3 * v + k % 3];
      if (type == "double") append(text, c);
      else if (type == "float") append(text, static_cast<float>(c));
      else append(text, static_cast<std::int32_t>(c));
    }
    append(text, static_cast<std::uint8_t>(v));
  }
  text.resize(text.size() - cut);
  const std::string path = run_program::scratchPath(type + ".ply");
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// A PCD of the coordinates, organised as 2 x 2, its last point a non-number.
std::string writePcd(const std::string& data, int size, std::size_t cut = 0) {
  std::string text = "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z\n";
  text += "SIZE " + std::to_string(size) + " " + std::to_string(size) + " " +
          std::to_string(size) + "\nTYPE F F F\nCOUNT 1 1 1\nWIDTH 2\nHEIGHT 2\n"
          "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 4\nDATA " + data + "\n";
  for (std::size_t i = 0; i < kCoordinates.size(); ++i) {
    const double c = i >= 9 ? std::numeric_limits<double>::quiet_NaN() : kCoordinates[i];
    if (data == "ascii") {
      char number[40];
      std::snprintf(number, sizeof number, "%.17g", c);
      text += number;
      text += i % 3 == 2 ? "\n" : " ";
    } else if (size == 8) {
      append(text, c);
    } else {
      append(text, static_cast<float>(c));
    }
  }
  text.resize(text.size() - cut);
  const std::string path = run_program::scratchPath(data + std::to_string(size) + ".pcd");
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(ReadCloud, FloatAndDoubleCoordinatesOfPlyFiles) {
  for (const std::string type : {"float", "double"}) {
    SCOPED_TRACE(type);
    Cloud cloud;
    const auto error = litterpose_io::readCloud(writePly(type, {"x", "y", "z"}), cloud);
    ASSERT_FALSE(error) << *error;
    ASSERT_EQ(cloud.size(), 4u);
    for (std::size_t v = 0; v < cloud.size(); ++v) {
      // A float is kept bit for bit, a double rounded to the nearest float.
      const float expected[3] = {static_cast<float>(kCoordinates[3 * v]),
                                 static_cast<float>(kCoordinates[3 * v + 1]),
                                 static_cast<float>(kCoordinates[3 * v + 2])};
      EXPECT_EQ(std::memcmp(&cloud[v].x, expected, sizeof expected), 0) << "vertex " << v;
    }
    EXPECT_TRUE(cloud.is_dense);
  }
}

TEST(ReadCloud, PcdFilesKeepTheirOrganisationAndNonNumbers) {
  for (const auto& [data, size] :
       {std::pair{"ascii", 4}, std::pair{"binary", 4}, std::pair{"binary", 8}}) {
    SCOPED_TRACE(std::string(data) + " " + std::to_string(size));
    Cloud cloud;
    const auto error = litterpose_io::readCloud(writePcd(data, size), cloud);
    ASSERT_FALSE(error) << *error;
    ASSERT_EQ(cloud.size(), 4u);
    EXPECT_EQ(cloud.width, 2u);
    EXPECT_EQ(cloud.height, 2u);
    EXPECT_EQ(cloud[1].y, static_cast<float>(kCoordinates[4]));
    EXPECT_EQ(cloud[2].z, static_cast<float>(kCoordinates[8]));
    EXPECT_TRUE(std::isnan(cloud[3].x));
    EXPECT_FALSE(cloud.is_dense);
  }
}

TEST(ReadCloud, TheFormatIsTakenFromTheContentNotTheName) {
  const std::string ply = writePly("float", {"x", "y", "z"});
  const std::string misnamed = run_program::scratchPath("cloud.pcd");
  std::ofstream(misnamed, std::ios::binary) << run_program::slurp(ply);
  Cloud cloud;
  EXPECT_FALSE(litterpose_io::readCloud(misnamed, cloud));
  EXPECT_EQ(cloud.size(), 4u);
}

TEST(ReadCloud, FilesThatCannotServeAreRefusedWithTheReason) {
  const std::string not_a_cloud = run_program::scratchPath("notes.ply");
  std::ofstream(not_a_cloud) << "these are notes\n";
  const std::string empty = run_program::scratchPath("empty.ply");
  std::ofstream(empty).flush();
  const struct {
    std::string path;
    std::vector<std::string> reasons;
  } cases[] = {
      {writePly("float", {"x", "y"}), {"no vertex property z", "x, y, intensity"}},
      {writePly("float", {"a", "b", "c"}), {"no vertex properties x, y, z"}},
      {writePly("int", {"x", "y", "z"}), {"'x' is stored as int32"}},
      {writePly("float", {"x", "y", "z"}, 7), {"PLY file is truncated"}},
      {writePly("double", {"x", "y", "z"}, 30), {"PLY file is truncated"}},
      {writePcd("binary", 4, 5), {"truncated"}},
      {writePcd("ascii", 4, 12), {"PCD file is truncated"}},
      {not_a_cloud, {"neither a PLY nor a PCD file"}},
      {empty, {"neither a PLY nor a PCD file"}},
      {testing::TempDir() + "no such cloud.ply", {"No such file or directory"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Cloud cloud;
    cloud.push_back(pcl::PointXYZ(1, 2, 3));
    const auto error = litterpose_io::readCloud(c.path, cloud);
    ASSERT_TRUE(error);
    EXPECT_TRUE(contains(*error, "'" + c.path + "'")) << *error;
    for (const auto& reason : c.reasons) EXPECT_TRUE(contains(*error, reason)) << *error;
    EXPECT_TRUE(cloud.empty());
  }
}

// --- The valid oddities of both formats, and files made malformed from valid ones ---

// The points of the files below, as the files store them; read, each becomes its float.
const double kValues[4][3] = {
    {0.1, -0.37, 0.45}, {0.125, 2e-7, -12.5}, {-0.2, 0.25, 0.5}, {7.0, -0.5, 0.001}};

std::string decimal(double value, int digits) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

template <typename T>
std::string stored(T value, bool big_endian) {
  std::string b(reinterpret_cast<const char*>(&value), sizeof value);
  if (big_endian) std::reverse(b.begin(), b.end());
  return b;
}

struct PlyShape {
  std::string format = "binary_little_endian";
  std::string coordinate = "float";
  bool lists = false;     // a list of 0 to 3 items before x, and a face element after
  std::string eol = "\n";
  bool comments = false;  // a comment and an obj_info line after every header line
};

std::string plyFile(const PlyShape& s) {
  const bool ascii = s.format == "ascii", big = s.format == "binary_big_endian";
  std::vector<std::string> header = {"ply", "format " + s.format + " 1.0", "element vertex 4"};
  if (s.lists) header.push_back("property list uchar int ids");
  for (const char* axis : {"x", "y", "z"}) header.push_back("property " + s.coordinate + " " + axis);
  if (s.lists) {
    header.push_back("element face 2");
    header.push_back("property list ushort int vertex_indices");
  }
  header.push_back("end_header");
  std::string file;
  for (std::size_t i = 0; i < header.size(); ++i) {
    file += header[i] + s.eol;
    if (s.comments && i + 1 < header.size()) file += "comment made by hand" + s.eol + "obj_info lens 3" + s.eol;
  }
  const auto integer = [&](auto value) {
    return ascii ? std::to_string(value) + " " : stored(value, big);
  };
  for (int row = 0; row < 4; ++row) {
    std::string line;
    if (s.lists) {
      line += integer(static_cast<std::uint8_t>(row));
      for (int item = 0; item < row; ++item) line += integer(10 * row + item);
    }
    for (const double v : kValues[row]) {
      if (!ascii) line += s.coordinate == "float" ? stored(static_cast<float>(v), big) : stored(v, big);
      else line += decimal(v, s.coordinate == "float" ? 6 : 17) + " ";
    }
    if (ascii) line.replace(line.size() - 1, 1, s.eol);
    file += line;
  }
  if (s.lists)
    for (const int corners : {3, 4}) {
      std::string line = integer(static_cast<std::uint16_t>(corners));
      for (int k = 0; k < corners; ++k) line += integer(k);
      if (ascii) line.replace(line.size() - 1, 1, s.eol);
      file += line;
    }
  return file;
}

// A PCD file of the points; with extras, other tools' header lines, comments, an rgb field
// and three bytes of padding per point.
std::string pcdFile(const std::string& data, bool extras = false, const std::string& eol = "\n") {
  std::string file = "# .PCD v0.7 - Point Cloud Data file format" + eol + "VERSION 0.7" + eol;
  if (extras) file += "SENSOR depth0 rev 3" + eol + "# written by hand" + eol;
  file += extras ? "FIELDS x y z rgb _" + eol + "SIZE 4 4 4 4 1" + eol + "TYPE F F F F U" + eol +
                       "COUNT 1 1 1 1 3" + eol
                 : "FIELDS x y z" + eol + "SIZE 4 4 4" + eol + "TYPE F F F" + eol + "COUNT 1 1 1" + eol;
  file += "WIDTH 4" + eol + "HEIGHT 1" + eol + (extras ? "UNITS m" + eol : "") +
          "VIEWPOINT 0 0 0 1 0 0 0" + eol + "POINTS 4" + eol + "DATA " + data + eol;
  for (const auto& point : kValues) {
    if (data == "ascii") {
      std::string line;
      for (const double v : point) line += decimal(v, 6) + " ";
      if (extras) line += "4.2108e+06 0 0 0 ";
      file += line.replace(line.size() - 1, 1, eol);
    } else {
      for (const double v : point) file += stored(static_cast<float>(v), false);
      if (extras) file += stored(4.2108e6f, false) + std::string(3, '\0');
    }
  }
  return file;
}

Cloud pointCloud() {
  Cloud cloud;
  for (const auto& p : kValues)
    cloud.push_back(pcl::PointXYZ(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])));
  return cloud;
}

std::string written(const std::string& content, const std::string& name = "cloud") {
  const std::string path = run_program::scratchPath(name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// Points equal bit for bit, or both not a number.
void expectSamePoints(const Cloud& read, const Cloud& expected) {
  ASSERT_EQ(read.size(), expected.size());
  EXPECT_EQ(read.width, expected.width);
  EXPECT_EQ(read.height, expected.height);
  for (std::size_t i = 0; i < read.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      const float a = read[i].data[k], b = expected[i].data[k];
      EXPECT_TRUE((std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0)
          << "point " << i << " coordinate " << k << ": " << a << " against " << b;
    }
}

pcl::PCLPointCloud2 blob(const Cloud& cloud) {
  pcl::PCLPointCloud2 b;
  pcl::toPCLPointCloud2(cloud, b);
  return b;
}

std::string pclFile(const std::function<void(const std::string&)>& write) {
  const std::string path = run_program::scratchPath("pcl");
  write(path);
  return run_program::slurp(path);
}

TEST(ReadCloud, ValidOdditiesReadAsThePlainFloatFile) {
  const Cloud plain = pointCloud();
  const struct {
    const char* what;
    std::string content;
  } files[] = {
      {"plain binary float PLY", plyFile({})},
      {"ASCII, comments and obj_info between the lines, CRLF", plyFile({"ascii", "float", false, "\r\n", true})},
      {"big endian doubles", plyFile({"binary_big_endian", "double"})},
      {"lists of varying length, little endian", plyFile({"binary_little_endian", "float", true})},
      {"lists of varying length, big endian doubles", plyFile({"binary_big_endian", "double", true})},
      {"ASCII lists of varying length, comments", plyFile({"ascii", "double", true, "\n", true})},
      {"PCD ASCII: UNITS, SENSOR, comments, padding, CRLF", pcdFile("ascii", true, "\r\n")},
      {"PCD binary: rgb and padding", pcdFile("binary", true)},
      {"ASCII numbers with plus signs, exponents, a tiny value",
       [] {
         std::string f = plyFile({"ascii"});
         for (const auto& [from, to] : {std::pair{"0.1 ", "+1e-1 "}, {"-0.37", "-3.7E-1"}, {"0.45\n", "45e-2\n"}})
           f.replace(f.find(from), std::strlen(from), to);
         return f;
       }()},
      {"PCD binary_compressed written by PCL",
       pclFile([&](const std::string& p) { pcl::PCDWriter().writeBinaryCompressed(p, plain); })},
      {"PLY written by PCL", pclFile([&](const std::string& p) { pcl::PLYWriter().write(p, plain, true); })},
      // Its writer of PCLPointCloud2 clouds (ROS recordings) leaves its last page's rest zero.
      {"PCD binary of a PCLPointCloud2, page padding", pclFile([&](const std::string& p) { pcl::PCDWriter().writeBinary(p, blob(plain)); })},
      {"PCD binary_compressed of a PCLPointCloud2, page padding", pclFile([&](const std::string& p) { pcl::PCDWriter().writeBinaryCompressed(p, blob(plain)); })},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.what);
    Cloud cloud;
    const auto error = litterpose_io::readCloud(written(f.content), cloud);
    ASSERT_FALSE(error) << *error;
    expectSamePoints(cloud, plain);
    EXPECT_TRUE(cloud.is_dense);
  }
}

TEST(ReadCloud, OrganisedCloudsWithNonNumbersKeepTheirGrid) {
  Cloud organised = pointCloud();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  organised[2] = pcl::PointXYZ(nan, nan, nan);
  organised.width = 2;
  organised.height = 2;
  const struct {
    const char* what;
    std::function<void(const std::string&)> write;
  } writers[] = {
      {"PLY with a camera element", [&](const std::string& p) { pcl::PLYWriter().write(p, organised, true); }},
      {"PLY with a range grid", [&](const std::string& p) { pcl::PLYWriter().write(p, organised, true, false); }},
      {"PCD binary_compressed", [&](const std::string& p) { pcl::PCDWriter().writeBinaryCompressed(p, organised); }},
  };
  for (const auto& w : writers) {
    SCOPED_TRACE(w.what);
    Cloud cloud;
    const auto error = litterpose_io::readCloud(written(pclFile(w.write)), cloud);
    ASSERT_FALSE(error) << *error;
    expectSamePoints(cloud, organised);
    EXPECT_FALSE(cloud.is_dense);
  }
}

using Mutation = std::function<std::string(std::string)>;

Mutation replace(const std::string& from, const std::string& to) {
  return [=](std::string file) {
    const auto at = file.find(from);
    if (at == std::string::npos) ADD_FAILURE() << "the file holds no " << from;
    else file.replace(at, from.size(), to);
    return file;
  };
}
Mutation cut(std::size_t bytes) {
  return [=](std::string file) { return file.substr(0, file.size() - bytes); };
}
Mutation keep(std::size_t bytes) {
  return [=](std::string file) { return file.substr(0, bytes); };
}
Mutation both(const Mutation& first, const Mutation& second) {
  return [=](std::string file) { return second(first(std::move(file))); };
}
// The data's first byte: after PLY's end_header or PCD's DATA line.
std::size_t dataStart(const std::string& file) {
  const auto ply = file.find("end_header\n");
  if (ply != std::string::npos) return ply + 11;
  return file.find('\n', file.find("\nDATA ") + 1) + 1;
}
Mutation patchData(std::size_t offset, const std::string& bytes) {
  return [=](std::string file) { return file.replace(dataStart(file) + offset, bytes.size(), bytes); };
}
Mutation keepData(std::size_t bytes) {
  return [=](std::string file) { return file.substr(0, dataStart(file) + bytes); };
}
Mutation add(const std::string& bytes) {
  return [=](std::string file) { return file + bytes; };
}
// A comment line after the first that moves `text` to begin at byte `offset`.
Mutation moveTo(const std::string& text, std::size_t offset) {
  return [=](std::string file) {
    const std::string mark = file.rfind("ply", 0) == 0 ? "comment " : "# ";
    const std::size_t pad = offset - file.find(text) - mark.size() - 1;
    return file.insert(file.find('\n') + 1, mark + std::string(pad, 'c') + "\n");
  };
}
// The most bytes a header may take.
constexpr std::size_t kHeaderLimit = std::size_t{1} << 20;

TEST(ReadCloud, MalformedFilesAreRefusedSayingWhereAndWhy) {
  const std::string ascii_ply = plyFile({"ascii"}), binary_ply = plyFile({});
  const std::string ascii_lists = plyFile({"ascii", "float", true}), binary_lists = plyFile({"binary_little_endian", "float", true});
  const std::string ascii_pcd = pcdFile("ascii"), binary_pcd = pcdFile("binary");
  const Cloud plain = pointCloud();
  const std::string compressed_pcd =
      pclFile([&](const std::string& p) { pcl::PCDWriter().writeBinaryCompressed(p, plain); });
  // Two points of doubles, the second's y beyond a float.
  const std::string compressed_doubles = pclFile([&](const std::string& p) {
    pcl::PCLPointCloud2 blob;
    for (const char* name : {"x", "y", "z"}) {
      pcl::PCLPointField field;
      field.name = name;
      field.offset = static_cast<std::uint32_t>(8 * blob.fields.size());
      field.datatype = pcl::PCLPointField::FLOAT64;
      field.count = 1;
      blob.fields.push_back(field);
    }
    const double values[6] = {0.1, 0.2, 0.3, 0.4, -3.7e300, 0.6};
    blob.width = 2;
    blob.height = 1;
    blob.point_step = 24;
    blob.row_step = 48;
    blob.data.resize(sizeof values);
    std::memcpy(blob.data.data(), values, sizeof values);
    pcl::PCDWriter().writeBinaryCompressed(p, blob);
  });
  const auto same = [](std::string file) { return file; };
  const Mutation viewport_list = replace("end_header", "element camera 1\nproperty list uchar int viewportx\nproperty int viewporty\nend_header");
  const struct {
    const char* rule;
    std::string base;
    Mutation mutate;
    std::vector<std::string> words;
  } files[] = {
      {"count beyond the file", ascii_ply, replace("vertex 4", "vertex 4294967297"), {"line 3:", "4294967297 rows", "need at least", "truncated"}},
      {"count beyond int64", ascii_ply, replace("vertex 4", "vertex 18446744073709551615"), {"line 3:", "declares 18446744073709551615 rows"}},
      {"sizes that round the same", binary_ply, both(replace("vertex 4", "vertex 1000"), add(std::string(11940, '\0'))), {"need at least 12000 B; the file holds 11988 B"}},
      {"negative count", ascii_ply, replace("vertex 4", "vertex -1"), {"line 3:", "'-1'", "not a number of rows"}},
      {"count below the data", ascii_ply, replace("vertex 4", "vertex 3"), {"line 11:", "data after the last element"}},
      {"comma decimal", ascii_ply, replace("0.45", "0,45"), {"line 8: vertex 0, property z: '0,45' is not a number"}},
      {"a word", ascii_ply, replace("-0.2", "minus"), {"line 10: vertex 2, property x: 'minus' is not a number"}},
      {"two points", ascii_ply, replace("0.25", "0.0.25"), {"vertex 2, property y: '0.0.25' is not a number"}},
      {"hex float", ascii_ply, replace("\n7 ", "\n0x1p3 "), {"vertex 3, property x: '0x1p3' is not a number"}},
      {"a float too large", ascii_ply, replace("\n7 ", "\n1e39 "), {"'1e39' is out of the range of a float"}},
      {"a double too large for a float", plyFile({"ascii", "double"}), replace("\n7 ", "\n1e300 "), {"line 11: vertex 3, property x: '1e300' is out of the range of a float"}},
      {"a binary double too large for a float", plyFile({"binary_little_endian", "double"}), patchData(8, stored(-0x1.ffffffp127, false)), {"vertex 0, property y: -3.4028235677973366e+38 is out of the range of a float"}},
      {"a number missing", ascii_ply, replace(" 0.5\n", "\n"), {"line 10: vertex 2, property z: the line ends after 2 values"}},
      {"a number too many", ascii_ply, replace("0.001", "0.001 9"), {"line 11: vertex 3", "'9' is left over"}},
      {"ends before the last row", ascii_ply, replace("7 -0.5 0.001\n", ""), {"the data ends before vertex 3 of 4", "truncated"}},
      {"a value out of its type", ascii_ply, both(replace("property float z", "property float z\nproperty uchar i"), replace("0.45", "0.45 300")), {"vertex 0, property i: '300' is out of the range of uint8"}},
      {"misspelt keyword", ascii_ply, replace("element vertex", "elemnt vertex"), {"line 3: 'elemnt' is not a PLY header keyword"}},
      {"unknown type", ascii_ply, replace("property float y", "property float33 y"), {"line 5: 'float33' is not a PLY property type"}},
      {"unknown format", ascii_ply, replace("ascii 1.0", "ascii_fast 1.0"), {"line 2: 'ascii_fast' is not a PLY format"}},
      {"unknown version", ascii_ply, replace("ascii 1.0", "ascii 2.0"), {"line 2: PLY version '2.0' is not 1.0"}},
      {"no end_header", ascii_ply, keep(ascii_ply.find("end_header")), {"no end_header line"}},
      {"property before element", ascii_ply, replace("element vertex 4\nproperty float x", "property float x\nelement vertex 4"), {"line 3: a property before any element"}},
      {"vertex twice", ascii_ply, replace("end_header", "element vertex 0\nend_header"), {"line 7: a second element vertex"}},
      {"x twice", ascii_ply, replace("property float y", "property float x"), {"line 5: a second property x"}},
      {"x a list", ascii_ply, replace("property float x", "property list uchar float x"), {"'x' is stored as a list"}},
      {"integer coordinates", ascii_ply, replace("property float y", "property int y"), {"'y' is stored as int32"}},
      {"grid that does not hold the points", ascii_ply, replace("ascii 1.0", "ascii 1.0\nobj_info num_cols 3\nobj_info num_rows 2"), {"num_cols", "3 x 2", "holds 4"}},
      {"negative list length", ascii_lists, both(replace("list uchar int ids", "list char int ids"), replace("2 20 21", "-1 20 21")), {"line 13: vertex 2, property ids: a list of length -1"}},
      {"list longer than its line", ascii_lists, replace("2 20 21", "9 20 21"), {"vertex 2, property ids: the list's length is 9, the line holds 5"}},
      {"empty viewport list", binary_ply, both(viewport_list, add(std::string("\0\2\0\0\0", 5))), {"camera 0, property viewportx: a viewport size is one value, the list holds 0 items"}},
      {"viewport list of two", ascii_ply, both(viewport_list, add("2 2 2 2\n")), {"camera 0, property viewportx: a viewport size is one value, the list holds 2 items"}},
      {"end_header's line end beyond the header limit", binary_ply, moveTo("end_header\n", kHeaderLimit - 10), {"line 8: the header does not end within the first 1 MiB"}},
      {"binary cut inside a list", binary_lists, cut(5), {"the data ends inside face 1 of 2", "truncated"}},
      {"binary cut", binary_ply, cut(5), {"line 3:", "truncated"}},
      {"binary trailing data", binary_ply, replace("vertex 4", "vertex 3"), {"12 B of data after the last element"}},
      {"lower-case keyword", ascii_pcd, replace("FIELDS", "fields"), {"line 3: 'fields' is not a PCD header keyword (FIELDS?)"}},
      {"misspelt keyword", ascii_pcd, replace("FIELDS", "FAELDS"), {"line 3: 'FAELDS' is not a PCD header keyword"}},
      {"misspelt short keyword", ascii_pcd, replace("SIZE", "SZIE"), {"without a SIZE line", "line 4 'SZIE'"}},
      {"a keyword twice", ascii_pcd, replace("WIDTH", "FIELDS a\nWIDTH"), {"line 7: a second FIELDS line"}},
      {"sizes for fewer fields", ascii_pcd, replace("SIZE 4 4 4", "SIZE 4 4"), {"line 4: SIZE gives 2 values for 3 fields"}},
      {"unknown type", ascii_pcd, replace("TYPE F F F", "TYPE F G F"), {"line 5: the type 'G' of field y is not F, I or U"}},
      {"unknown size", ascii_pcd, replace("SIZE 4 4 4", "SIZE 4 3 4"), {"line 4: the size '3' of field y"}},
      {"x counted twice", ascii_pcd, replace("COUNT 1 1 1", "COUNT 2 1 1"), {"'x' is stored as a list of 2"}},
      {"integer coordinates", ascii_pcd, replace("TYPE F F F", "TYPE I F F"), {"'x' is stored as int32"}},
      {"POINTS not WIDTH x HEIGHT", ascii_pcd, replace("POINTS 4", "POINTS 3"), {"line 10: POINTS 3 is not WIDTH x HEIGHT, 4"}},
      {"negative POINTS", ascii_pcd, replace("POINTS 4", "POINTS -1"), {"line 10: POINTS '-1' is not a count"}},
      {"bare DATA", ascii_pcd, replace("DATA ascii", "DATA"), {"line 11: DATA needs one of ascii, binary"}},
      {"no DATA line", ascii_pcd, keep(ascii_pcd.find("DATA")), {"the header has no DATA line"}},
      {"only its first comment line", ascii_pcd, keep(ascii_pcd.find('\n') + 1), {"the header has no DATA line (the file ends at line 1)"}},
      {"cut inside its first comment", ascii_pcd, keep(4), {"neither a PLY nor a PCD file"}},
      {"DATA binary_compressed cut at the header limit", compressed_pcd, moveTo("DATA binary_compressed", kHeaderLimit - 11), {"the header does not end within the first 1 MiB"}},
      {"more than the header limit of comments", ascii_pcd, replace("# .PCD v0.7", [] { std::string c; while (c.size() < kHeaderLimit) c += "# note\n"; return c; }()), {"the header does not end within the first 1 MiB"}},
      {"a double too large for a float", ascii_pcd, both(replace("SIZE 4 4 4", "SIZE 4 8 4"), replace("-0.37", "-3.7e300")), {"line 12, point 0: field y: '-3.7e300' is out of the range of a float"}},
      {"comma decimal", ascii_pcd, replace("0.45", "0,45"), {"line 12, point 0: field z: '0,45' is not a number"}},
      {"a number missing", ascii_pcd, replace(" 0.5\n", "\n"), {"line 14, point 2: the line holds 2 values, a point has 3"}},
      {"a point too many", ascii_pcd, replace("0.001\n", "0.001\n5 5 5\n"), {"line 16: data after the last of the 4 points"}},
      {"WIDTH beyond the file", binary_pcd, both(replace("WIDTH 4", "WIDTH 2147483648"), replace("POINTS 4", "POINTS 2147483648")), {"2147483648 points", "need more than", "truncated"}},
      {"binary trailing data", binary_pcd, both(replace("WIDTH 4", "WIDTH 3"), replace("POINTS 4", "POINTS 3")), {"data after the last point"}},
      {"compressed size too large", compressed_pcd, patchData(4, "\xff\xff\xff\xff"), {"unpacks to 4294967295 bytes", "4 points of 12 bytes need 48"}},
      {"compressed size 0", compressed_pcd, both(patchData(0, std::string(4, '\0')), keepData(8)), {"0 B of lzf data cannot unpack to 48 B"}},
      {"corrupt lzf data", compressed_pcd, patchData(8, "\xe0"), {"the lzf data is corrupt"}},
      {"compressed data for 0 points", compressed_pcd, both(both(replace("WIDTH 4", "WIDTH 0"), replace("POINTS 4", "POINTS 0")), patchData(4, std::string(4, '\0'))), {"for 0 points (data after the last point)"}},
      {"compressed data cut", compressed_pcd, cut(3), {"the file holds", "truncated"}},
      {"compressed trailing data", compressed_pcd, add(std::string(8, '\0') + "x"), {"the file holds", "(trailing data)"}},
      {"binary zeros beyond a page's padding", binary_pcd, add(std::string(65536, '\0')), {"data after the last point"}},
      {"a compressed double too large for a float", compressed_doubles, same, {"point 1", "field y", "out of the range of a float"}},
      {"empty", std::string(), same, {"neither a PLY nor a PCD file: it is empty"}},
      {"gzip", std::string("\x1f\x8b\x08\x00rest", 8), same, {"it is gzip-compressed"}},
      {"byte order mark", "\xef\xbb\xbf" + ascii_ply, same, {"UTF-8 byte order mark"}},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.rule);
    const std::string path = written(f.mutate(f.base));
    Cloud cloud;
    cloud.push_back(pcl::PointXYZ(1, 2, 3));
    const auto error = litterpose_io::readCloud(path, cloud);
    ASSERT_TRUE(error) << "read " << cloud.size() << " points";
    EXPECT_TRUE(contains(*error, "'" + path + "'")) << *error;
    for (const auto& word : f.words) EXPECT_TRUE(contains(*error, word)) << *error;
    EXPECT_TRUE(cloud.empty());
  }
}

// At the limits of those refusals, what is still read: a header that ends on its megabyte's
// last byte, a double that rounds to the largest float, infinities the file states (kept as
// non-finite points), a viewport list of one item.
TEST(ReadCloud, ValuesAndHeadersAtTheirLimitsAreRead) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::string ascii_doubles = plyFile({"ascii", "double"});
  const std::string binary_doubles = plyFile({"binary_little_endian", "double"});
  const struct {
    const char* what;
    std::string content;
    float x;
    std::uint32_t width;
  } files[] = {
      {"PLY header ending on the limit", moveTo("end_header\n", kHeaderLimit - 11)(plyFile({})), 0.1f, 4},
      {"PCD header ending on the limit", moveTo("DATA binary\n", kHeaderLimit - 12)(pcdFile("binary")), 0.1f, 4},
      {"binary double rounding to the largest float", patchData(0, stored(0x1.fffffefffffffp127, false))(binary_doubles), std::numeric_limits<float>::max(), 4},
      {"text double rounding to the largest float", replace("0.10000000000000001", "-3.40282356e38")(ascii_doubles), -std::numeric_limits<float>::max(), 4},
      {"text double infinity", replace("0.10000000000000001", "inf")(ascii_doubles), inf, 4},
      {"binary double infinity", patchData(0, stored(-std::numeric_limits<double>::infinity(), false))(binary_doubles), -inf, 4},
      {"viewport lists of one item", replace("end_header", "element camera 1\nproperty list uchar int viewportx\nproperty list uchar int viewporty\nend_header")(plyFile({"ascii"})) + "1 2 1 2\n", 0.1f, 2},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.what);
    Cloud cloud;
    const auto error = litterpose_io::readCloud(written(f.content), cloud);
    ASSERT_FALSE(error) << *error;
    ASSERT_EQ(cloud.size(), 4u);
    EXPECT_EQ(cloud[0].x, f.x);
    EXPECT_EQ(cloud.width, f.width);
  }
}

// Bytes this process has read from files so far.
std::uint64_t bytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

// A file far longer than its header allows is refused from its first megabytes.
TEST(ReadCloud, FilesFarLongerThanTheirHeaderAllowsAreRefusedUnread) {
  constexpr off_t kSize = off_t{1} << 30;
  const struct {
    std::string header;
    std::string reason;
  } files[] = {
      {"ply\nformat binary_little_endian 1.0\nelement vertex 10\nproperty float x\n"
       "property float y\nproperty float z\nend_header\n", "of data after the last element's last row"},
      {"ply\nformat ascii 1.0\nelement vertex 10\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n", "line 8 is longer than"},
      {"FIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nWIDTH 10\nDATA binary\n", "data after the last point"},
  };
  for (const auto& f : files) {
    const std::string path = written(f.header);
    ASSERT_EQ(::truncate(path.c_str(), kSize), 0);
    const std::uint64_t before = bytesRead();
    Cloud cloud;
    const auto error = litterpose_io::readCloud(path, cloud);
    const std::uint64_t read = bytesRead() - before;
    ::unlink(path.c_str());
    ASSERT_TRUE(error);
    EXPECT_TRUE(contains(*error, f.reason)) << *error;
    EXPECT_LT(read, std::uint64_t{8} << 20) << "bytes read";
  }
}

// A FIFO would block an open for reading until a writer comes; it is refused at once.
TEST(ReadCloud, WhatIsNotARegularFileIsRefusedAtOnce) {
  const std::string fifo = run_program::scratchPath("cloud.ply");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = run_program::scratchPath("cloud.sock");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const struct {
    std::string path;
    std::string kind;
  } cases[] = {{fifo, "it is a FIFO (named pipe)"}, {testing::TempDir(), "it is a directory"},
               {"/dev/zero", "it is a character device"}, {socket_path, "it is a socket"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto reading = std::async(std::launch::async, [&] {
      Cloud cloud;
      return litterpose_io::readCloud(c.path, cloud);
    });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the reader blocked";
      // A writer lets a reader that waits for one go on, so that the test ends.
      ::close(::open(c.path.c_str(), O_WRONLY | O_NONBLOCK));
    }
    const auto error = reading.get();
    ASSERT_TRUE(error);
    EXPECT_TRUE(contains(*error, c.kind)) << *error;
  }
  ::unlink(fifo.c_str());
  ::close(listener);
  ::unlink(socket_path.c_str());
}

}  // namespace
