#include "litterpose_ros/message_lengths.h"

#include <ros/serialization.h>

namespace litterpose_ros {
namespace {

namespace ser = ros::serialization;

struct Unreadable {
  std::string why;
};

// The message's fields in order; each fault throws Unreadable with the reason.
class Walk {
public:
  Walk(std::uint8_t* bytes, std::uint32_t size, const char* noun)
      : stream_(bytes, size), size_(size), noun_(noun) {}

  template <typename T>
  T fixed(const char* what) {
    T value{};
    try {
      stream_.next(value);
    } catch (const ser::StreamOverrunException&) {
      throw Unreadable{"the " + noun_ + " of " + std::to_string(size_) + " bytes ends inside its " +
                       what};
    }
    return value;
  }

  // An array's length, when its elements, of at least `least` bytes each, fit in the bytes
  // left; `what` names them in the plural.
  std::uint32_t count(const char* what, std::size_t least) {
    const auto n = fixed<std::uint32_t>(what);
    if (std::uint64_t{n} * least > stream_.getLength())
      throw declares(std::to_string(n) + " " + what);
    return n;
  }

  std::string text(const char* what) {
    const std::uint32_t n = textLength(what);
    return std::string(reinterpret_cast<const char*>(stream_.advance(n)), n);
  }

  void skipText(const char* what) { stream_.advance(textLength(what)); }

  // Bytes whose number count() has checked.
  void skip(std::uint32_t n) { stream_.advance(n); }

private:
  std::uint32_t textLength(const char* what) {
    const auto n = fixed<std::uint32_t>(what);
    if (n > stream_.getLength())
      throw declares(std::string(*what == 'e' ? "an " : "a ") + what + " of " +
                     std::to_string(n) + " bytes");
    return n;
  }

  Unreadable declares(const std::string& what) const {
    return {"the " + noun_ + " declares " + what + " in " + std::to_string(size_) + " bytes"};
  }

  ser::IStream stream_;
  std::uint32_t size_;
  std::string noun_;
};

std_msgs::Header header(Walk& walk) {
  std_msgs::Header h;
  h.seq = walk.fixed<std::uint32_t>("header");
  h.stamp = walk.fixed<ros::Time>("header");
  h.frame_id = walk.text("frame id");
  return h;
}

void pointCloudAfterHeader(Walk& walk) {
  walk.fixed<std::uint32_t>("height");
  walk.fixed<std::uint32_t>("width");
  const std::uint32_t fields = walk.count("point fields", kLeastPointFieldBytes);
  for (std::uint32_t i = 0; i < fields; ++i) {
    walk.skipText("point field name");
    walk.fixed<std::uint32_t>("point fields");
    walk.fixed<std::uint8_t>("point fields");
    walk.fixed<std::uint32_t>("point fields");
  }
  walk.fixed<std::uint8_t>("is_bigendian flag");
  walk.fixed<std::uint32_t>("point step");
  walk.fixed<std::uint32_t>("row step");
  walk.skip(walk.count("bytes of point data", 1));
  walk.fixed<std::uint8_t>("is_dense flag");
}

// The check of a message whose parts `parts` walks, noting what it reads.
template <typename Parts>
LengthCheck walked(std::uint8_t* bytes, std::uint32_t size, const char* noun, Parts parts) {
  LengthCheck check;
  try {
    Walk walk(bytes, size, noun);
    parts(walk, check);
  } catch (Unreadable& fault) {
    check.refusal = std::move(fault.why);
  }
  return check;
}

}  // namespace

LengthCheck checkPointCloud2(std::uint8_t* bytes, std::uint32_t size) {
  return walked(bytes, size, "message", [](Walk& walk, LengthCheck& check) {
    check.header = header(walk);
    pointCloudAfterHeader(walk);
  });
}

LengthCheck checkObjectCloud(std::uint8_t* bytes, std::uint32_t size) {
  return walked(bytes, size, "message", [](Walk& walk, LengthCheck& check) {
    check.header = header(walk);
    check.trash_type = walk.fixed<std::int32_t>("trash type");
    header(walk);
    pointCloudAfterHeader(walk);
  });
}

LengthCheck checkEstimateGraspRequest(std::uint8_t* bytes, std::uint32_t size) {
  return walked(bytes, size, "request", [](Walk& walk, LengthCheck& check) {
    check.header = header(walk);
    pointCloudAfterHeader(walk);
    walk.fixed<std::int32_t>("trash type");
    walk.skipText("entry name");
  });
}

}  // namespace litterpose_ros
