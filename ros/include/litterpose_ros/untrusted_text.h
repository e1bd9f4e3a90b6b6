// Text that arrives in messages (frame ids, entry names, field names) as it may go into a
// log line or an answer: any publisher can send any bytes, and any number of them.
#ifndef LITTERPOSE_ROS_UNTRUSTED_TEXT_H
#define LITTERPOSE_ROS_UNTRUSTED_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace litterpose_ros {

inline constexpr std::size_t kMostCharactersQuoted = 64;

// The text with every byte outside printable ASCII shown as '?', and cut after `most`
// characters with "..." and the text's full length.
std::string printableExcerpt(std::string_view text, std::size_t most = kMostCharactersQuoted);

// The text on one line: line ends become blanks.
std::string oneLine(std::string text);

}  // namespace litterpose_ros

#endif
