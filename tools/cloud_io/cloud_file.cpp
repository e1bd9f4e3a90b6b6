#include "cloud_file.h"

#include <cmath>
#include <new>
#include <string_view>

#include "formats.h"
#include "read_error.h"
#include "regular_file.h"
#include "text.h"

namespace litterpose_io {
namespace {

using detail::ReadError;

enum class Format { ply, pcd };

// Formats that are not clouds but that a cloud is often found in, by their first bytes.
struct Signature {
  std::string_view magic;
  const char* what;
};
constexpr Signature kNotClouds[] = {
    {"\x1f\x8b", "gzip-compressed; decompress it first"},
    {"PK\x03\x04", "a zip archive; extract the cloud first"},
    {"\xfd"
     "7zXZ",
     "xz-compressed; decompress it first"},
    {"BZh", "bzip2-compressed; decompress it first"},
    {"\x28\xb5\x2f\xfd", "zstd-compressed; decompress it first"},
    {"\xef\xbb\xbf",
     "text that begins with a UTF-8 byte order mark, which no PLY or PCD header has"},
};

// PLY files open with the line "ply"; PCD files with "# .PCD" or, after comment lines, a
// PCD keyword. [begin, end) are the first bytes, of a file that goes on when `more`.
Format formatOf(const char* begin, const char* end, bool more) {
  const std::string_view head(begin, static_cast<std::size_t>(end - begin));
  const auto neither = [](const std::string& why) {
    return ReadError("neither a PLY nor a PCD file: " + why);
  };
  if (head.empty()) throw neither("it is empty");
  if (head.rfind("ply", 0) == 0 && (head.size() == 3 || head[3] == '\n' || head[3] == '\r'))
    return Format::ply;
  if (head.rfind("# .PCD", 0) == 0) return Format::pcd;
  detail::Lines lines(begin, detail::wholeLinesEnd(begin, end, more));
  std::string_view line;
  std::vector<std::string_view> words;
  bool only_comments = true, comments = false;
  while (only_comments && lines.next(line)) {
    detail::splitWords(line, words);
    comments = comments || (!words.empty() && words[0][0] == '#');
    if (words.empty() || words[0][0] == '#') continue;
    if (detail::isPcdKeyword(words[0])) return Format::pcd;
    only_comments = false;
  }
  // Comment lines up to the limit may still lead to a PCD header, but not to one within it.
  if (only_comments && comments && more) detail::headerTooLong(lines.number());
  for (const auto& s : kNotClouds)
    if (head.rfind(s.magic, 0) == 0) throw neither(std::string("it is ") + s.what);
  const std::string_view first_line = head.substr(0, std::min(head.find('\n'), std::size_t{24}));
  throw neither("it begins with " + detail::quoted(first_line));
}

}  // namespace

std::optional<std::string> readCloud(const std::string& path,
                                     pcl::PointCloud<pcl::PointXYZ>& cloud) {
  cloud.clear();
  const std::string prefix = "cannot read the cloud file '" + path + "': ";
  try {
    detail::RegularFile file(path);
    file.load(detail::kMostHeaderBytes);
    if (formatOf(file.begin(), file.begin() + file.loaded(), file.loaded() < file.size()) ==
        Format::ply)
      detail::readPly(file, cloud);
    else
      detail::readPcd(file, cloud);
  } catch (const ReadError& e) {
    cloud.clear();
    return prefix + e.what();
  } catch (const std::bad_alloc&) {
    cloud.clear();
    return prefix + "it does not fit in memory";
  }
  cloud.is_dense = true;
  for (const auto& p : cloud)
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      cloud.is_dense = false;
      break;
    }
  return std::nullopt;
}

}  // namespace litterpose_io
