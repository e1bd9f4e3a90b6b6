// Randomised scenes for measuring grasp quality: one object of a class, of a random size
// within the class's range, at a random place and turn, captured with clean or realistic
// artefacts, or in the field (realistic artefacts on a floor and through a camera mounting
// that are not where the configuration says), with its ground truth and the result each
// estimation entry should give.
#ifndef LITTERPOSE_TOOLS_CAPTURE_SIM_SCENES_H
#define LITTERPOSE_TOOLS_CAPTURE_SIM_SCENES_H

#include <array>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Dense>
#include <Eigen/Geometry>

#include <litterpose_result.h>

#include "depth_camera.h"
#include "litter.h"

namespace capture_sim {

enum class Artefacts {
  clean,      // as the sample clouds: noise of 0.001 z^2, three flying pixels, 2 cm of floor
  realistic,  // floor band, mixed pixels, outliers, stronger noise, 1 mm steps, partial masks
  field,      // realistic, on a floor that is off, sloped and rough, through a camera whose
              // mounting is off from its calibration; more classes
};
const char* artefactsName(Artefacts a);

// The classes of the benchmark for a profile, in the order of its tables.
const std::vector<Litter>& sceneClasses(Artefacts profile);
// "bottle lying", "can standing", ...
const char* litterName(Litter kind);
// Grasped from above; the standing can, carton and cup are grasped from the side.
bool isLying(Litter kind);
// A lying object longer than wide: the gripper must close across its long side. Round
// ones (a bottle cap, a tuna can on its face) have no such side.
bool hasLongAxis(Litter kind);

struct GroundTruth {
  Litter kind = Litter::kBottleLying;
  Dimensions size;
  Placement at;
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();  // centre of mass of the solid (of a
                                                     // cup's outer shape), base frame
  Eigen::Vector2d long_axis = Eigen::Vector2d::UnitX();  // horizontal, unit; sign arbitrary
  double height = 0.0;  // top above the floor it rests on
  double low_z = 0.0;   // lowest and highest point of the solid, base frame
  double high_z = 0.0;
  int object_points = 0;  // points of the object in the scene's capture
  int capture_points = 0;  // points of the whole capture
};

GroundTruth groundTruth(Litter kind, const Dimensions& size, const Placement& at, double floor_z);

// The truth of an object made in a frame whose level floor is not the base frame's: its
// centre, long axis and height range mapped by level_to_base.
GroundTruth inBaseFrame(const GroundTruth& level, const Object& object,
                        const Eigen::Isometry3d& level_to_base);

// Where the floor and the camera really are, against where the configuration says. The
// floor is a plane through the point floor_offset above the configured floor on the arm's
// axis, falling by slope_deg towards the bearing downhill_deg (0 ahead, along -x; positive
// towards +y); objects rest on it. The camera's true mounting is the configured one turned
// by camera_turn (rotation vector, radians, base frame, about the camera's origin) and
// moved by camera_shift (metres): renders use the true one, the estimator the configured.
struct Conditions {
  double floor_offset = 0.0;
  double slope_deg = 0.0;
  double downhill_deg = 0.0;
  Eigen::Vector3d camera_shift = Eigen::Vector3d::Zero();
  Eigen::Vector3d camera_turn = Eigen::Vector3d::Zero();

  // From a frame whose floor is level at floor_z (where objects are made) to the base frame.
  Eigen::Isometry3d levelToBase(double floor_z) const;
  // The true mounting of a camera configured with camera_to_base.
  Eigen::Matrix4d trueMounting(const Eigen::Matrix4d& camera_to_base) const;
};

// Limits of the field profile's conditions, each drawn uniformly up to its limit (the
// directions uniformly too).
struct ConditionLimits {
  double floor_offset = 0.03;
  double slope_deg = 6.0;
  double roughness = 0.01;           // height of the relief above or below the plane
  double bump_width_min = 0.04;      // half a wavelength of its waves
  double bump_width_max = 0.25;
  double camera_shift = 0.01;
  double camera_turn_deg = 1.5;
};
Conditions randomConditions(const ConditionLimits& limits, std::mt19937& rng);
Roughness randomRoughness(const ConditionLimits& limits, std::mt19937& rng);

// The camera that renders a scene made on a level floor: the true mounting, seen from the
// scene's level frame.
Camera renderingCamera(const Camera& configured, const Conditions& conditions, double floor_z);

// How far an object must be lifted from the plane of a rough floor to rest on it: the
// highest point of the relief under its footprint.
double restingLift(const Object& object, const Roughness& relief);

// Sizes drawn uniformly from the class's range (everyday litter; the long side at least a
// third longer than the side across, so that the long axis is well defined).
Dimensions randomDimensions(Litter kind, std::mt19937& rng);

// The depth camera of the realistic and field profiles: depth delivered in steps of `step`
// metres (0: none), and noise drawn per scene from 0.001 up to `noise` metres per square
// metre of depth. The defaults are a structured-light camera's at the litter's range.
struct DepthCamera {
  double step = 0.001;
  double noise = 0.003;
  bool operator==(const DepthCamera& o) const { return step == o.step && noise == o.noise; }
};

// Capture options of one scene; the realistic and field profiles draw their strengths per
// scene (the same for both; randomScenes adds the field's rough floor).
CaptureOptions captureOptions(Artefacts artefacts, double floor_z, unsigned seed,
                              std::mt19937& rng, const DepthCamera& depth = {});

// True when the object, the floor band around it and a margin lie inside the image.
bool inView(const Camera& camera, const Object& object, const CaptureOptions& options);

// The result code each entry must give (index: litterpose::Entry), or nullopt when the
// place lies too near the edge of a window or of the arm's reach to say. The number of
// points in the scene's capture (the object's and the floor band's around it: a preparation
// that cannot cut the floor from too small an object estimates on both) is asked for only
// where it matters: counting renders it.
using Expected = std::array<int, litterpose::kEntryCount>;
using PointCount = std::function<int()>;
using Judge = std::function<std::optional<Expected>(const GroundTruth&, const PointCount&)>;

struct Scene {
  int index = 0;
  GroundTruth truth;  // base frame
  Object object;      // on the level floor of the scene's own frame
  CaptureOptions options;
  Conditions conditions;
  Camera camera;  // renders the object: the true mounting, in the scene's own frame
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
  // should refuse (objects it must refuse for their few points are placed as drawn).
  double reachable_share = 0.75;
  ConditionLimits limits;  // of the field profile
  DepthCamera depth;       // of the realistic and field profiles
};

// Scene i has class i mod the number of the profile's classes and depends only on the seed
// and i, so that a smaller set is the beginning of a larger one. The camera is the
// configured one. A scene for which no place within the range is both in view and clear of
// the windows' edges is left out (the indices of the others stay theirs); throws
// std::runtime_error when that leaves no scene.
std::vector<Scene> randomScenes(const SceneSetOptions& options, const Camera& camera,
                                double floor_z, const Judge& judge);

}  // namespace capture_sim

#endif
