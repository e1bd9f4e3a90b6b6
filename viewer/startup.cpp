#include "startup.h"

#include <exception>
#include <iostream>
#include <vector>

#include <litterpose_configuration.h>
#include <yaml-cpp/exceptions.h>

namespace litterview {
namespace {

// The libraries' own messages are terse ("bad file", "bad conversion"); say what they mean.
std::string cause(const std::exception& e) {
  if (const auto* file = dynamic_cast<const litterpose::ConfigurationFileError*>(&e))
    return file->reason;
  if (dynamic_cast<const litterpose::ConfigurationError*>(&e) != nullptr)
    return std::string("a value is refused: ") + e.what();
  if (dynamic_cast<const YAML::ParserException*>(&e) != nullptr)
    return std::string("not valid YAML: ") + e.what();
  if (dynamic_cast<const YAML::RepresentationException*>(&e) != nullptr)
    return std::string("a mandatory key is missing or its value has the wrong type (") +
           e.what() + ")";
  return e.what();
}

}  // namespace

void EstimatorSlot::build(const std::string& config_path) noexcept {
  try {
    estimator_ = std::make_unique<GrabPoseEstimate>(config_path);
    error_.clear();
    refused_ = false;
  } catch (const std::exception& e) {
    std::cout.flush();
    refused_ = dynamic_cast<const litterpose::ConfigurationError*>(&e) != nullptr;
    error_ = "cannot build the estimator from the configuration file \"" + config_path +
             "\": " + cause(e);
  } catch (...) {
    refused_ = false;
    error_ = "cannot build the estimator from the configuration file \"" + config_path +
             "\": unknown error";
  }
}

void EstimatorSlot::rebuild(const std::string& config_path) noexcept {
  estimator_.reset();
  build(config_path);
}

const char kUsage[] = "usage: litterview [--screenshot FILE.png] [CONFIG [CLOUD]]\n";

std::optional<Arguments> parseArguments(int argc, const char* const* argv) {
  Arguments args;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      args.help = true;
      return args;
    }
    if (arg == "--screenshot") {
      if (i + 1 >= argc) {
        std::cerr << "litterview: --screenshot needs a file name\n" << kUsage;
        return std::nullopt;
      }
      args.screenshot = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "litterview: unknown option '" << arg << "'\n" << kUsage;
      return std::nullopt;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() > 2) {
    std::cerr << "litterview: too many arguments\n" << kUsage;
    return std::nullopt;
  }
  if (!positional.empty()) args.config = positional[0];
  if (positional.size() == 2) args.cloud = positional[1];
  return args;
}

}  // namespace litterview
