#include "litterpose_console.h"

#include <iostream>
#include <utility>

namespace litterpose {
namespace {

constexpr char kEscape = '\x1b';

// A CSI sequence ends with a byte from '@' to '~'.
bool isFinalByte(char c) { return c >= '@' && c <= '~'; }

}  // namespace

ConsoleSink::ConsoleSink() : ConsoleSink(Kind::standard_output, &std::cout, nullptr) {}

ConsoleSink::ConsoleSink(Kind kind, std::ostream* stream, LineCallback callback)
    : kind_(kind), stream_(stream), callback_(std::move(callback)) {}

ConsoleSink ConsoleSink::standardOutput() { return ConsoleSink(); }

ConsoleSink ConsoleSink::toStream(std::ostream& stream) {
  return ConsoleSink(Kind::stream, &stream, nullptr);
}

ConsoleSink ConsoleSink::toCallback(LineCallback callback) {
  if (!callback) return none();
  return ConsoleSink(Kind::callback, nullptr, std::move(callback));
}

ConsoleSink ConsoleSink::none() { return ConsoleSink(Kind::none, nullptr, nullptr); }

ConsoleSink::~ConsoleSink() { deliverUnfinished(); }

ConsoleSink::ConsoleSink(const ConsoleSink& other)
    : kind_(other.kind_), stream_(other.stream_), callback_(other.callback_) {}

ConsoleSink& ConsoleSink::operator=(const ConsoleSink& other) {
  if (this == &other) return *this;
  deliverUnfinished();
  kind_ = other.kind_;
  stream_ = other.stream_;
  callback_ = other.callback_;
  return *this;
}

ConsoleSink::ConsoleSink(ConsoleSink&& other) noexcept
    : kind_(other.kind_),
      stream_(other.stream_),
      callback_(std::move(other.callback_)),
      unfinished_(std::move(other.unfinished_)) {
  other.unfinished_.clear();
}

ConsoleSink& ConsoleSink::operator=(ConsoleSink&& other) noexcept {
  if (this == &other) return *this;
  deliverUnfinished();
  kind_ = other.kind_;
  stream_ = other.stream_;
  callback_ = std::move(other.callback_);
  unfinished_ = std::move(other.unfinished_);
  other.unfinished_.clear();
  return *this;
}

void ConsoleSink::write(std::string_view text) {
  if (stream_ != nullptr) {
    stream_->write(text.data(), static_cast<std::streamsize>(text.size()));
    return;
  }
  if (kind_ != Kind::callback) return;
  for (auto end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
    if (unfinished_.empty()) {
      callback_(text.substr(0, end));
    } else {
      unfinished_.append(text.substr(0, end));
      const std::string complete = std::move(unfinished_);
      unfinished_.clear();
      callback_(complete);
    }
    text.remove_prefix(end + 1);
  }
  unfinished_.append(text);
}

void ConsoleSink::line(std::string_view text) {
  if (stream_ != nullptr) {
    stream_->write(text.data(), static_cast<std::streamsize>(text.size()));
    stream_->put('\n');
    return;
  }
  if (kind_ != Kind::callback) return;
  if (text.find('\n') == std::string_view::npos && unfinished_.empty()) {
    callback_(text);
    return;
  }
  write(text);
  write("\n");
}

void ConsoleSink::flush() {
  if (stream_ != nullptr) stream_->flush();
}

// Called where nothing may be thrown (destruction, replacement): what the callback throws
// for this last piece is dropped with it.
void ConsoleSink::deliverUnfinished() noexcept {
  if (kind_ != Kind::callback || unfinished_.empty()) return;
  try {
    const std::string rest = std::move(unfinished_);
    unfinished_.clear();
    if (!stripColours(rest).empty()) callback_(rest);
  } catch (...) {
  }
}

std::string stripColours(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == kEscape && i + 1 < text.size() && text[i + 1] == '[') {
      std::size_t j = i + 2;
      while (j < text.size() && !isFinalByte(text[j])) ++j;
      i = j;  // past the final byte, or the end of an unterminated sequence
      continue;
    }
    plain += text[i];
  }
  return plain;
}

}  // namespace litterpose
