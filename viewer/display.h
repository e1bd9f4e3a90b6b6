// Whether the viewer can show anything: VTK aborts the process when it cannot reach an X
// server, so the viewer asks first.
#ifndef LITTERPOSE_VIEWER_DISPLAY_H
#define LITTERPOSE_VIEWER_DISPLAY_H

#include <string>

namespace litterview {

// Empty when the X display that DISPLAY names can be opened, else why not.
std::string displayProblem();

}  // namespace litterview

#endif
