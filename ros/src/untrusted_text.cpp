#include "litterpose_ros/untrusted_text.h"

namespace litterpose_ros {

std::string printableExcerpt(std::string_view text, std::size_t most) {
  std::string out;
  const std::size_t kept = text.size() > most ? most : text.size();
  out.reserve(kept + 32);
  for (std::size_t i = 0; i < kept; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  if (kept < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace litterpose_ros
