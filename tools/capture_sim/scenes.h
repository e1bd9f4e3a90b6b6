// Randomised scenes for measuring grasp quality: one object of a class, of a random size
// within the class's range, at a random place and turn, captured with clean or realistic
// artefacts, with its ground truth and the result each estimation entry should give.
#ifndef LITTERPOSE_TOOLS_CAPTURE_SIM_SCENES_H
#define LITTERPOSE_TOOLS_CAPTURE_SIM_SCENES_H

#include <array>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include <litterpose_result.h>

#include "depth_camera.h"
#include "litter.h"

namespace capture_sim {

// The classes of the benchmark, in the order of its tables.
const std::vector<Litter>& sceneClasses();
// "bottle lying", "can standing", ...
const char* litterName(Litter kind);
// Grasped from above; only the standing can is grasped from the side.
bool isLying(Litter kind);

struct GroundTruth {
  Litter kind = Litter::kBottleLying;
  Dimensions size;
  Placement at;
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();  // centre of mass of the solid, base frame
  Eigen::Vector2d long_axis = Eigen::Vector2d::UnitX();  // horizontal, unit; sign arbitrary
  double height = 0.0;  // top above the floor
};

GroundTruth groundTruth(Litter kind, const Dimensions& size, const Placement& at, double floor_z);

// Sizes drawn uniformly from the class's range (everyday litter; the long side at least a
// third longer than the side across, so that the long axis is well defined).
Dimensions randomDimensions(Litter kind, std::mt19937& rng);

enum class Artefacts {
  clean,      // as the sample clouds: noise of 0.001 z^2, three flying pixels, 2 cm of floor
  realistic,  // floor band, mixed pixels, outliers, stronger noise, 1 mm steps, partial masks
};
const char* artefactsName(Artefacts a);

// Capture options of one scene; the realistic profile draws its strengths per scene.
CaptureOptions captureOptions(Artefacts artefacts, double floor_z, unsigned seed,
                              std::mt19937& rng);

// True when the object, the floor band around it and a margin lie inside the image.
bool inView(const Camera& camera, const Object& object, const CaptureOptions& options);

// The result code each entry must give (index: litterpose::Entry), or nullopt when the
// place lies too near the edge of a window or of the arm's reach to say.
using Expected = std::array<int, litterpose::kEntryCount>;
using Judge = std::function<std::optional<Expected>(const GroundTruth&)>;

struct Scene {
  int index = 0;
  GroundTruth truth;
  Object object;
  CaptureOptions options;
  Expected expected{};
};

// Where objects are placed: distance from the arm's vertical axis and bearing in degrees.
struct PlaceRange {
  double distance_min = 0.05;
  double distance_max = 1.0;
  double bearing_min = -90.0;
  double bearing_max = 90.0;
};

struct SceneSetOptions {
  int count = 1000;
  unsigned seed = 1;
  Artefacts artefacts = Artefacts::realistic;
  PlaceRange range;
  // Where scenes that every entry should grasp are sought, for lying and standing objects
  // (the grasp windows); every scene is judged wherever it was drawn.
  PlaceRange lying_reach;
  PlaceRange standing_reach;
  // Share of the scenes in which CommonGrabPoseFunc should find a grasp; in the others it
  // should refuse.
  double reachable_share = 0.75;
};

// Scene i has class i mod 7 and depends only on the seed and i, so that a smaller set is
// the beginning of a larger one. Throws std::runtime_error when no place within the range
// is both in view and clear of the windows' edges.
std::vector<Scene> randomScenes(const SceneSetOptions& options, const Camera& camera,
                                double floor_z, const Judge& judge);

}  // namespace capture_sim

#endif
