// What rosconsole logs in a test process, without a master.
#ifndef LITTERPOSE_TESTS_SUPPORT_ROS_LOG_H
#define LITTERPOSE_TESTS_SUPPORT_ROS_LOG_H

#include <string>
#include <utility>
#include <vector>

#include <ros/console.h>

namespace support {

// Every line logged, with its level, while one lives.
struct RosLogRecorder : ros::console::LogAppender {
  RosLogRecorder() { ros::console::register_appender(this); }
  ~RosLogRecorder() override { ros::console::deregister_appender(this); }
  RosLogRecorder(const RosLogRecorder&) = delete;
  RosLogRecorder& operator=(const RosLogRecorder&) = delete;
  void log(ros::console::Level level, const char* text, const char*, const char*, int) override {
    lines.push_back({level, text});
  }
  std::vector<std::pair<ros::console::Level, std::string>> lines;
};

}  // namespace support

#endif
