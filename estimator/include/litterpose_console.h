// Where an estimator's console lines go.
//
// Every line a GrabPoseEstimate prints (at construction and during an estimate, including
// the lines of its inverse kinematics) goes to its ConsoleSink, which the host chooses per
// estimator:
//   - standard output (the default): the bytes and their order exactly as always, written
//     through std::cout;
//   - a std::ostream of the host's (a file, a string stream), which receives the same bytes;
//   - a callback, which receives every complete line: its text without the line end, with
//     the ANSI colour codes as written (stripColours removes them), so that a host can hand
//     the lines to its logger; text after the last line end waits for the next line;
//   - nothing: the lines are not even formatted.
// Two estimators with two sinks print apart, also on two threads; a sink itself serves one
// thread at a time, and a callback shared by several estimators must be safe to call from
// the threads they run on.
#ifndef LITTERPOSE_CONSOLE_H
#define LITTERPOSE_CONSOLE_H

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace litterpose {

class ConsoleSink {
public:
  using LineCallback = std::function<void(std::string_view line)>;
  enum class Kind { standard_output, stream, callback, none };

  // Standard output.
  ConsoleSink();
  static ConsoleSink standardOutput();
  // The stream must outlive the sink's use.
  static ConsoleSink toStream(std::ostream& stream);
  // An empty callback is taken as nothing.
  static ConsoleSink toCallback(LineCallback callback);
  static ConsoleSink none();

  // A callback's unfinished line is handed over when it holds more than colour codes. A
  // copy starts without it; a move takes it along.
  ~ConsoleSink();
  ConsoleSink(const ConsoleSink& other);
  ConsoleSink& operator=(const ConsoleSink& other);
  ConsoleSink(ConsoleSink&& other) noexcept;
  ConsoleSink& operator=(ConsoleSink&& other) noexcept;

  Kind kind() const { return kind_; }
  // False for nothing: writers may skip formatting what would be dropped.
  bool enabled() const { return kind_ != Kind::none; }
  // The stream that text goes to unchanged (std::cout or the host's); null for a callback
  // or nothing.
  std::ostream* stream() const { return stream_; }

  // Writes the text as it is.
  void write(std::string_view text);
  // Writes the text and a line end.
  void line(std::string_view text);
  // Flushes the stream; a callback has nothing held but its unfinished line.
  void flush();

private:
  ConsoleSink(Kind kind, std::ostream* stream, LineCallback callback);
  void deliverUnfinished() noexcept;

  Kind kind_;
  std::ostream* stream_;
  LineCallback callback_;
  std::string unfinished_;  // a callback's text after its last line end
};

// The text without its ANSI escape sequences (ESC [ parameters final-byte), such as the
// colours and the reset of the estimator's lines.
std::string stripColours(std::string_view text);

}  // namespace litterpose

#endif  // LITTERPOSE_CONSOLE_H
