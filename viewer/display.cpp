#include "display.h"

#include <cstdlib>

#include <X11/Xlib.h>

namespace litterview {

std::string displayProblem() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0')
    return "no X display: DISPLAY is not set (run it on a desktop, or under xvfb-run)";
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr)
    return std::string("cannot open the X display '") + name + "'";
  XCloseDisplay(display);
  return {};
}

}  // namespace litterview
