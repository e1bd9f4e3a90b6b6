// Simple litter shapes at a place on the floor, and the set of captures bundled in data/.
#ifndef LITTERPOSE_TOOLS_CAPTURE_SIM_LITTER_H
#define LITTERPOSE_TOOLS_CAPTURE_SIM_LITTER_H

#include <string>
#include <vector>

#include "depth_camera.h"

namespace capture_sim {

enum class Litter {
  kBottleLying,
  kCanStanding,
  kCartonBox,
  kPaperSheet,
  kCupOnSide,
  kStick,
  kCanLying,
  kCartonStanding,  // a tall box on its end, as a drinks carton
  kCigaretteButt,
  kBottleCap,       // on its flat face
  kCupStanding,     // open at the top
  kTunaCan,         // a low wide can on its flat face
  kCartonWide,      // a flat box wider than a litter gripper opens
  kCupWithHandle,   // a standing open cup with a handle on its side
  kBottleFolded,    // a crushed bottle whose neck lies folded back beside its body
};

// Sizes of one object, metres: the long side, the side across it and the height as it
// lies (a lying cylinder's width and height are its diameter; an upright one's length and
// width); a bottle's neck besides its body; the space between a folded bottle's body and the
// neck beside it, or between a cup's wall and the grip of its handle.
struct Dimensions {
  double length = 0.0;
  double width = 0.0;
  double height = 0.0;
  double neck_length = 0.0;
  double neck_radius = 0.0;
  double gap = 0.0;
};

// The sizes of the objects of the sample clouds.
Dimensions standardDimensions(Litter kind);

// Where an object lies: horizontal distance from the arm's vertical axis, bearing in
// degrees (0 straight ahead along -x, positive towards +y), and the turn of its long
// side about the vertical, in degrees from the x axis.
struct Placement {
  double distance = 0.0;
  double bearing_deg = 0.0;
  double yaw_deg = 0.0;
};

// The object resting on the floor at z = floor_z; its long side (the bottle's neck
// towards +x; a folded bottle's neck beside it towards +y; a cup's handle towards +x)
// turned by at.yaw_deg.
Object makeLitter(Litter kind, const Dimensions& size, const Placement& at, double floor_z);
Object makeLitter(Litter kind, const Placement& at, double floor_z);

struct Capture {
  std::string file_name;
  Litter kind;
  Placement at;
};

// The captures of data/: reachable objects first, then ones the arm must refuse.
const std::vector<Capture>& sampleCaptures();

// Capture i of data/ uses the seed kSampleSeed + i.
inline constexpr unsigned kSampleSeed = 20231018;

}  // namespace capture_sim

#endif
