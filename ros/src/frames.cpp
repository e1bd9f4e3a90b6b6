#include "litterpose_ros/frames.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <utility>

#include <Eigen/Geometry>
#include <tf2/exceptions.h>

#include "litterpose_ros/untrusted_text.h"

namespace litterpose_ros {
namespace {

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string inQuotes(std::string_view frame) { return "'" + printableExcerpt(frame) + "'"; }

// Errors carry what a publisher sent; this much of them is enough to tell why.
constexpr std::size_t kMostErrorCharacters = 300;

// tf2's message quotes the frame id as it was sent, which is cut there as anywhere else.
std::string withFrameIdCut(std::string message, const std::string& frame) {
  if (frame.size() <= kMostCharactersQuoted) return message;
  const std::string excerpt = printableExcerpt(frame);
  for (std::size_t at = message.find(frame); at != std::string::npos;
       at = message.find(frame, at + excerpt.size()))
    message.replace(at, frame.size(), excerpt);
  return message;
}

Placement refused(Refusal refusal, std::string error) {
  Placement p;
  p.refusal = refusal;
  p.error = std::move(error);
  return p;
}

}  // namespace

std::optional<CameraTf> cameraTfNamed(std::string_view name) {
  if (name == "publish") return CameraTf::publish;
  if (name == "none") return CameraTf::none;
  if (name == "lookup") return CameraTf::lookup;
  return std::nullopt;
}

const char* cameraTfName(CameraTf mode) {
  switch (mode) {
    case CameraTf::publish: return "publish";
    case CameraTf::none: return "none";
    case CameraTf::lookup: return "lookup";
  }
  return "unknown";
}

std::string normalisedFrameId(std::string_view frame_id) {
  std::string_view id = trimmed(frame_id);
  if (!id.empty() && id.front() == '/') id = trimmed(id.substr(1));
  return std::string(id);
}

std::optional<Eigen::Matrix4d> toMatrixDouble(const geometry_msgs::Transform& transform) {
  const auto& r = transform.rotation;
  const auto& t = transform.translation;
  const Eigen::Quaterniond q(r.w, r.x, r.y, r.z);
  const Eigen::Vector3d translation(t.x, t.y, t.z);
  const double norm = q.norm();
  if (!std::isfinite(norm) || !(norm > 0.0) || !translation.allFinite()) return std::nullopt;
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.block<3, 3>(0, 0) = q.normalized().toRotationMatrix();
  m.block<3, 1>(0, 3) = translation;
  return m;
}

std::optional<Eigen::Matrix4f> toMatrix(const geometry_msgs::Transform& transform) {
  const auto precise = toMatrixDouble(transform);
  if (!precise) return std::nullopt;
  const Eigen::Matrix4f single = precise->cast<float>();
  if (!single.allFinite()) return std::nullopt;
  return single;
}

CloudFrames::CloudFrames(Settings settings, const Eigen::Matrix4f& configured_extrinsic,
                         const tf2_ros::BufferInterface* tf)
    : settings_(std::move(settings)), configured_extrinsic_(configured_extrinsic), tf_(tf) {}

Placement CloudFrames::place(const std_msgs::Header& header) const {
  std::string frame = normalisedFrameId(header.frame_id);
  if (frame.empty()) frame = settings_.camera_frame;
  if (frame == settings_.base_frame)
    return refused(Refusal::kBaseFrameCloud, "the cloud is in the base frame " + inQuotes(frame) +
                                                 ": clouds come in the camera's frame");

  if (settings_.camera_tf != CameraTf::lookup || tf_ == nullptr) {
    if (frame != settings_.camera_frame)
      return refused(Refusal::kUnknownFrame,
                     "the cloud's frame " + inQuotes(frame) + " is not the camera frame " +
                         inQuotes(settings_.camera_frame) + " (~camera_tf " +
                         cameraTfName(settings_.camera_tf) +
                         ": only the camera frame has a transform; lookup asks tf2 for any)");
    Placement p;
    p.camera_to_base = configured_extrinsic_;
    return p;
  }

  std::string failure;
  try {
    const geometry_msgs::TransformStamped found = tf_->lookupTransform(
        settings_.base_frame, frame, header.stamp, ros::Duration(settings_.lookup_timeout));
    Placement p;
    p.camera_to_base = toMatrix(found.transform);
    if (p.camera_to_base) {
      p.looked_up = toMatrixDouble(found.transform);
      return p;
    }
    return refused(Refusal::kNoTransform, "tf2's transform from " + inQuotes(frame) + " to " +
                                              inQuotes(settings_.base_frame) +
                                              " holds a number that is not finite");
  } catch (const tf2::TransformException& e) {
    failure = e.what();
  } catch (const std::exception& e) {  // ros::Time arithmetic on an extreme stamp
    failure = e.what();
  }
  char when[96];
  std::snprintf(when, sizeof when, " at %u.%09u within %g s: ", header.stamp.sec,
                header.stamp.nsec, settings_.lookup_timeout);
  return refused(Refusal::kNoTransform, "no transform from " + inQuotes(frame) + " to " +
                                            inQuotes(settings_.base_frame) + when +
                                            printableExcerpt(withFrameIdCut(failure, frame),
                                                             kMostErrorCharacters));
}

}  // namespace litterpose_ros
