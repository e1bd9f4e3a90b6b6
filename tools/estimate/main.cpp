// Runs one estimation entry on recorded clouds and writes one JSON line per cloud, for
// tuning a configuration. Standard output holds only JSON: the estimator's log goes to
// standard error, or nowhere with --quiet.
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <litterpose.h>
#include <litterpose_console.h>
#include <litterpose_result.h>

#include "cloud_file.h"
#include "json_line.h"

namespace {

constexpr int kUsageOrInputError = 2;
constexpr int kEstimatorFailed = 1;

const char kUsage[] =
    "usage: litterpose-estimate --config FILE [--entry main|common|initial] [--trash-type N]\n"
    "                           [--quiet] FILE.ply|FILE.pcd...\n"
    "Brings each cloud (camera frame) into the arm base frame, runs one estimate on a fresh\n"
    "estimator and writes one JSON line per file to standard output: the result code, its\n"
    "meaning, the reason for it, the grasp pose. The estimator's log goes to standard error,\n"
    "or nowhere with --quiet. Defaults: --entry common, --trash-type 3.\n"
    "Exit status: 0 all files processed, 1 the estimator failed on a file, 2 a file could not\n"
    "be read, the configuration is unusable or the arguments are wrong.\n";

struct Options {
  std::string config;
  std::string entry = "common";
  int trash_type = 3;
  bool quiet = false;
  std::vector<std::string> files;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "litterpose-estimate: %s\n%s", message.c_str(), kUsage);
  return kUsageOrInputError;
}

// Returns 0 when the arguments are usable, else the exit status after the message.
int parse(int argc, char** argv, Options& o) {
  bool files_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (files_only || arg.empty() || arg[0] != '-') {
      o.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      files_only = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--config" || arg == "--entry" || arg == "--trash-type") {
      if (i + 1 >= argc) return usageError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--config") {
        o.config = value;
      } else if (arg == "--entry") {
        if (!litterpose::entryNamed(value))
          return usageError("--entry must be main, common or initial, not '" + value + "'");
        o.entry = value;
      } else {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno == ERANGE || n < INT_MIN || n > INT_MAX)
          return usageError("--trash-type needs an integer from " + std::to_string(INT_MIN) +
                            " to " + std::to_string(INT_MAX) + ", not '" + value + "'");
        o.trash_type = static_cast<int>(n);
      }
    } else {
      return usageError("unknown option '" + arg + "'");
    }
  }
  if (o.config.empty()) return usageError("--config FILE is required");
  if (o.files.empty()) return usageError("no cloud file given");
  return 0;
}

// The estimators' log on its way to standard error: gathered per step and written in one
// piece, as standard error is unbuffered and an estimate logs in many small parts.
class Log {
public:
  explicit Log(bool quiet) : quiet_(quiet) {}

  litterpose::ConsoleSink sink() {
    return quiet_ ? litterpose::ConsoleSink::none() : litterpose::ConsoleSink::toStream(text_);
  }
  void flush() {
    const std::string text = text_.str();
    std::fwrite(text.data(), 1, text.size(), stderr);
    text_.str("");
  }

private:
  bool quiet_;
  std::ostringstream text_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = parse(argc, argv, options); status != 0) return status;

  Log log(options.quiet);
  try {
    const GrabPoseEstimate probe(options.config, log.sink());
    log.flush();
  } catch (const std::exception& e) {
    log.flush();
    std::fprintf(stderr, "litterpose-estimate: cannot load the configuration file '%s': %s\n",
                 options.config.c_str(), e.what());
    return kUsageOrInputError;
  }
  const litterpose::Entry entry = *litterpose::entryNamed(options.entry);

  int status = 0;
  for (const std::string& file : options.files) {
    litterpose_estimate::JsonLine line;
    line.text("file", file).text("entry", options.entry).integer("trash_type", options.trash_type);

    auto camera_cloud = std::make_shared<GrabPoseEstimate::Cloud>();
    if (const auto error = litterpose_io::readCloud(file, *camera_cloud)) {
      std::fprintf(stderr, "litterpose-estimate: %s\n", error->c_str());
      std::printf("%s\n", line.text("error", *error).str().c_str());
      std::fflush(stdout);
      status = kUsageOrInputError;
      continue;
    }

    try {
      // A fresh estimator per cloud: an estimate leaves state (the z margin of the
      // preparation) that would otherwise make a file's result depend on the files before it.
      GrabPoseEstimate estimator(options.config, log.sink());
      auto cloud = std::make_shared<GrabPoseEstimate::Cloud>();
      estimator.PclTransform(camera_cloud, cloud, estimator.camera_extrinsic_);
      const std::size_t points_read = cloud->size();
      estimator.trash_type_ = options.trash_type;

      const auto start = std::chrono::steady_clock::now();
      const int result = litterpose::runEntry(estimator, entry, cloud);
      const double elapsed_ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      log.flush();

      line.integer("result", result)
          .text("meaning", litterpose::describeResult(result, entry))
          .text("reason", estimator.reason_text_)
          .text("reason_name", litterpose::reasonName(estimator.reason_))
          .integer("points_read", static_cast<long long>(points_read))
          .integer("points_prepared", static_cast<long long>(cloud->size()));
      if (litterpose::classifiesMainAxis(result)) line.integer("main_axis_type", estimator.main_axis_type_);
      else line.null("main_axis_type");
      if (result == litterpose::kGrabFound) {
        const auto& p = estimator.grab_pose_.position;
        const auto& q = estimator.grab_pose_.orientation;
        line.numbers("position", {p.x(), p.y(), p.z()});
        line.json("orientation", litterpose_estimate::JsonLine()
                                     .number("w", q.w())
                                     .number("x", q.x())
                                     .number("y", q.y())
                                     .number("z", q.z())
                                     .str());
      } else {
        line.null("position").null("orientation");
      }
      line.number("elapsed_ms", elapsed_ms, 6);
    } catch (const std::exception& e) {
      log.flush();
      std::fprintf(stderr, "litterpose-estimate: %s: %s\n", file.c_str(), e.what());
      line.text("error", e.what());
      if (status == 0) status = kEstimatorFailed;
    }
    std::printf("%s\n", line.str().c_str());
    std::fflush(stdout);
  }
  return status;
}
