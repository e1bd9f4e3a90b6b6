#ifndef LITTERPOSE_VIEWER_SCREENSHOT_H
#define LITTERPOSE_VIEWER_SCREENSHOT_H

#include <string>

#include <pcl/visualization/pcl_visualizer.h>

namespace litterview {

// Renders the scene once and writes it as PNG; false after a message on standard error.
bool saveScreenshot(pcl::visualization::PCLVisualizer& viewer, const std::string& png_path);

}  // namespace litterview

#endif
