// litterpose: grasp pose estimation for litter seen by a depth camera.
//
// A host constructs one GrabPoseEstimate from its YAML configuration, brings each
// object's cloud into the arm base frame (PclTransform with camera_extrinsic_), sets
// trash_type_ and calls one entry: GrabPoseEstimateFunc, CommonGrabPoseFunc or
// GetInitialGrabPose. A result of 1 leaves the grasp pose in grab_pose_; every
// other result code says why no grasp is offered (see litterpose_result.h), and reason_
// with reason_text_ say what the estimate decided. The estimator's console lines go to
// the sink its host chose (see litterpose_console.h), standard output by default.
#ifndef LITTERPOSE_H
#define LITTERPOSE_H

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <opencv2/core/types.hpp>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "litterpose_console.h"
#include "litterpose_gripper.h"
#include "litterpose_result.h"

class QuorvinKinematics;
namespace litterpose {
struct PreparationMemory;
}

// ANSI console colours of the log lines. Constant arrays, so that they are usable
// during the static initialisation of any translation unit.
inline constexpr char YELLOW_BOLD[] = "\x1b[1;33m";
inline constexpr char RED_BOLD[] = "\x1b[1;31m";
inline constexpr char GREEN_BOLD[] = "\x1b[1;32m";
inline constexpr char PURPLE_BOLD[] = "\x1b[1;34m";
inline constexpr char MAGENTA_BOLD[] = "\x1b[1;35m";
inline constexpr char CYAN_BOLD[] = "\x1b[1;36m";
inline constexpr char RESET_FORMAT[] = "\x1b[0m";

// Class of an object's main axis, by the angle between the axis and the horizontal.
enum MainAxisType : std::int32_t {
  HORIZONTAL = 1,   // within 15 degrees of horizontal
  VERTICAL = 2,     // within 15 degrees of vertical
  TILTED_LOW = 3,   // 15 to 45 degrees
  TILTED_HIGH = 4,  // 45 to 75 degrees
};

// Rotation Rz(rz) * Ry(ry) * Rx(rx), angles in degrees.
Eigen::Matrix3f eulerToRotationMatrix(double rx, double ry, double rz);

class GrabPoseEstimate {
public:
  using Cloud = pcl::PointCloud<pcl::PointXYZ>;
  using CloudPtr = std::shared_ptr<Cloud>;

  // Grasp pose of the tool centre point in the arm base frame.
  struct Pose6D {
    Eigen::Vector3f position;        // metres
    Eigen::Quaterniond orientation;  // stored x, y, z, w
  };

  // Reads the whole configuration, prints the calibration and creates the data
  // directories. Throws the YAML or filesystem library's exception on any failure;
  // litterpose::ConfigurationError (litterpose_configuration.h), one of the YAML library's
  // exceptions, for a value it cannot work with, naming the key and its line.
  explicit GrabPoseEstimate(std::string config_path);
  // The same, with the construction's lines and all later ones going to the sink.
  GrabPoseEstimate(std::string config_path, litterpose::ConsoleSink sink);
  ~GrabPoseEstimate();
  GrabPoseEstimate(const GrabPoseEstimate&) = delete;
  GrabPoseEstimate& operator=(const GrabPoseEstimate&) = delete;

  // Where the lines printed from now on go; a callback's unfinished line of the previous
  // sink is handed over first.
  void setConsoleSink(litterpose::ConsoleSink sink);
  litterpose::ConsoleSink& consoleSink() { return console_sink_; }

  // Estimation entries; the cloud (arm base frame, metres) may be cleaned in place.
  int GrabPoseEstimateFunc(CloudPtr& cloud);
  int CommonGrabPoseFunc(CloudPtr& cloud);
  int GetInitialGrabPose(CloudPtr& cloud);

  // Point-cloud preparation.
  void PclProcessFunc(CloudPtr& input, CloudPtr& output);
  void RemoveBottomCloud(CloudPtr& cloud, float cut_height, float angle_deg);
  void RemovePointsInDirection(CloudPtr& cloud, const pcl::PointXYZ& plane_point,
                               const Eigen::Matrix<float, 3, 1>& direction);
  pcl::PointXYZ GetMinPointXY(CloudPtr cloud);
  pcl::PointXYZ GetMaxPointXY(CloudPtr cloud);
  void PclTransform(CloudPtr& input, CloudPtr& output, Eigen::Matrix<float, 4, 4> transform);

  // Shape analysis; the cloud is read, never changed. PCAFunc needs three points.
  void PCAFunc(const CloudPtr& cloud);
  void OBBFunc(const CloudPtr& cloud);
  void AABBFunc(const CloudPtr& cloud);
  void MinAreaRectFunc(const CloudPtr& cloud);
  void get_obb_pose(Pose6D& obb_pose, Pose6D& base_pose, Eigen::Matrix<float, 3, 1>& position,
                    Eigen::Matrix<float, 3, 3>& rotation);

  // Supporting operations of CommonGrabPoseFunc and GetInitialGrabPose.
  void GetMainaxisType(Eigen::Matrix3f& vectors, MainAxisType& type);
  void OptMainAxisDirection(Eigen::Vector3f& direction);
  void ExtendGrabTCP(Eigen::Vector3f& point);
  void SlantGrabPose(Eigen::Quaterniond& q, Eigen::Vector3d axis, float angle_deg);

  // Feasibility checks.
  bool IsInWorkspace(const Eigen::Vector3f& point);
  bool isInGrabSpace(MainAxisType type, Eigen::Vector3f point);
  bool isIKSolved(Pose6D pose);
  bool isCollided(Pose6D pose);
  void AssignGrabPose(const Eigen::Vector3f& position, const Eigen::Quaterniond& orientation,
                      Pose6D& pose);

  // --- Arm model (constants) ---
  double ik_ref_joints_[6] = {0, 0.6891, 1.5223, 0, 0.9253, 0};
  double dh_d_[6] = {240.5, 0, 0, 210, 0, 144};
  double dh_a_[6] = {0, 256, 0, 0, 0, 0};
  double dh_alpha_[6] = {M_PI / 2, 0, M_PI / 2, -M_PI / 2, M_PI / 2, 0};
  double dh_offset_[6] = {0, M_PI / 2, M_PI / 2, 0, 0, 0};
  // The arm model isIKSolved asks; emptied by a host, isIKSolved throws std::logic_error.
  std::unique_ptr<QuorvinKinematics> kinematics_;

  // --- Object height and grasp-point extension ---
  float base_height_ = 0.176f;
  float finger2tcp_ = 0.0f;
  float extend_length_ = 0.0f;
  float extra_length_ratio_ = 0.8f;
  float trash_lowest_z_ = 0.0f;
  float trash_highest_z_ = 0.0f;
  float trash_height_ = 0.0f;

  // --- Cloud preparation ---
  int sor2_meank_value_ = 50;
  float pass_ajust_value_ = 0.003f;
  float remove_cloud_angle_ = 15.0f;
  float remove_bottom_height_threshold_1_ = 0.024f;
  float remove_bottom_height_threshold_2_ = 0.05f;
  float remove_bottom_height_threshold_3_ = 0.07f;

  // --- Workspace and grasp windows (metres, degrees) ---
  float grab_distance_ = 0.0f;
  float grab_angle_ = 0.0f;
  float workspace_r_min_ = 0.2f;
  float workspace_r_max_ = 0.9f;
  float workspace_center_z_ = 0.1555f;
  float workspace_center_r_ = 0.01125f;
  float workspace_angle_min_ = -60.0f;
  float workspace_angle_max_ = 60.0f;
  float grab_vertical_distance_min_ = 0.2f;
  float grab_vertical_distance_max_ = 0.6f;
  float grab_vertical_angle_min_ = -60.0f;
  float grab_vertical_angle_max_ = 60.0f;
  float grab_parallel_distance_min_ = 0.5f;
  float grab_parallel_distance_max_ = 0.7f;
  float grab_parallel_angle_min_ = -60.0f;
  float grab_parallel_angle_max_ = 60.0f;

  // --- Request ---
  int trash_type_ = 0;
  int grab_mode_ = 1;

  // --- Shape results of the last estimate ---
  MainAxisType main_axis_type_ = HORIZONTAL;
  Eigen::Matrix3f pca_vectors_ = Eigen::Matrix3f::Zero();
  Eigen::Vector4f pca_center_ = Eigen::Vector4f::Zero();
  Eigen::Vector3f pca_lengths_ = Eigen::Vector3f::Zero();
  Eigen::Vector3f grab_mainaxis_ = Eigen::Vector3f::Zero();
  Eigen::Vector3f grab_tcp_ = Eigen::Vector3f::Zero();

  // --- Grasp-point corrections ---
  float tcp_ajust_value_ = 0.008f;
  float tcp_ajust_threshold_ = 0.02f;
  float extend_height_threshold_ = 0.03f;
  float extend_lenth_threshold_ = 0.04f;
  float extend_length_max_ = 0.012f;

  // --- Grasp pose and boxes of the last estimate ---
  Pose6D grab_pose_{Eigen::Vector3f::Zero(), Eigen::Quaterniond::Identity()};
  Eigen::Vector3f obb_position_ = Eigen::Vector3f::Zero();
  Eigen::Quaternionf obb_orientation_ = Eigen::Quaternionf::Identity();
  pcl::PointXYZ obb_min_point_{0.0f, 0.0f, 0.0f};
  pcl::PointXYZ obb_max_point_{0.0f, 0.0f, 0.0f};
  Eigen::Vector3f aabb_center_ = Eigen::Vector3f::Zero();
  pcl::PointXYZ aabb_min_point_{0.0f, 0.0f, 0.0f};
  pcl::PointXYZ aabb_max_point_{0.0f, 0.0f, 0.0f};
  cv::Point2f rect_points_[4];
  Eigen::Vector2f rect_direction_ = Eigen::Vector2f::Zero();

  // --- Switches ---
  bool is_grab_slanted_ = false;
  bool enable_process_cloud_ = true;
  bool enable_pcacenter_extend_ = true;
  bool is_on_floor_ = false;

  // --- Data recording (for the host) ---
  std::string trash_code_ = "code";
  std::string trash_test_pose_ = "test_pose";
  std::string file_name_suffix_ = "suffix";
  std::string trash_data_dir_ = "/home/jetson/test_data/";
  std::string trash_data_path_;
  std::string mising_detect_path_ = "/home/jetson/test_data/";

  // --- Camera calibration ---
  Eigen::Matrix4f camera_extrinsic_ = Eigen::Matrix4f::Identity();  // camera to arm base
  Eigen::Vector3f Txyz_ = Eigen::Vector3f::Zero();
  Eigen::Vector3f Rxyz_ = Eigen::Vector3f::Zero();
  bool is_use_euler_ = false;
  bool is_eye_on_hand_ = false;
  Eigen::Matrix4f base2flange_ = Eigen::Matrix4f::Identity();
  Eigen::Matrix4f flange2camera_ = Eigen::Matrix4f::Identity();
  Eigen::Vector3f base2flange_T_ = Eigen::Vector3f::Zero();
  Eigen::Vector3f base2flange_euler_ = Eigen::Vector3f::Zero();
  float fx_ = 0.0f;
  float fy_ = 0.0f;
  float cx_ = 0.0f;
  float cy_ = 0.0f;

  // --- Robust preparation (optional map robust_preparation; see the configuration) ---
  // Off, PclProcessFunc prepares the cloud as above; on, it first removes what a real
  // capture adds around an object (points below the floor, statistical outliers, the floor
  // around the object), fits the floor to the cloud and measures the object from it.
  struct RobustPreparation {
    bool enable = false;               // key enable
    float below_floor_margin = 0.01f;  // points below the floor by more than this are dropped
    float std_dev_mul = 3.0f;          // statistical outliers: mean distance to the
                                       // sor2_meank_value_ nearest points above
                                       // mean + this * standard deviation
    float voxel_size = 0.008f;         // neighbourhoods are counted on voxels of about this
                                       // size (resized to the cloud's density)
    float floor_clearance = 0.005f;    // the floor is cut this far above its level
    float bottom_share = 0.3f;         // lying objects: the lowest share of the height too
    float leaf_pixels = 3.0f;          // one point per leaf of this many pixels' footprint
                                       // at the object's range (0: all points)
    float leaf_size = -1.0f;           // a fixed leaf instead, metres (0: all points; below
                                       // 0, as here: the leaf follows leaf_pixels)
    float footprint_trim = 0.01f;      // share of points at each end of the footprint's axes
    float footprint_margin = 0.005f;   // beyond which points farther than this are strays
    float floor_height_tolerance = 0.05f;  // a fitted floor within this of the configured
    float floor_tilt_tolerance = 10.0f;    // one at the arm's axis, tilted by at most this
                                           // many degrees
                                           // (0 and 0: the configured floor, never fitted)
  };
  RobustPreparation robust_preparation_;

  // --- Floor under the last object ---
  // The plane a x + b y + c z + d = 0, (a, b, c) its unit upward normal: the floor the robust
  // preparation fitted to the cloud, or else the configured floor z = -base_height_.
  Eigen::Vector4f floor_plane_ = Eigen::Vector4f(0.0f, 0.0f, 1.0f, 0.176f);
  bool floor_fitted_ = false;

  // --- Gripper model (optional map gripper; see the configuration) ---
  // Off, isCollided answers false for every pose. On, it refuses a candidate pose unless a
  // two-finger parallel gripper fits there: the object, measured across the closing axis (the
  // tool y axis) in the band the fingers hold, fits the opening with the clearance on both
  // sides, and the fingers, opened around it, and the palm behind them keep out of the floor
  // (floor_plane_) and hold no more of the prepared cloud's points than stray_points each.
  // The fingertips lie finger2tcp_ beyond the tool centre point along the approach (the tool
  // z axis); the fingers reach back from them to the palm.
  struct Gripper {
    bool enable = false;             // key enable
    float max_opening = 0.11f;       // widest opening between the fingers' inner faces
    float finger_length = 0.06f;     // along the approach, from the fingertip to the palm
    float finger_width = 0.02f;      // along the tool x axis
    float finger_thickness = 0.01f;  // along the closing axis
    float palm_width = 0.15f;        // along the closing axis
    float palm_depth = 0.05f;        // along the tool x axis
    float palm_height = 0.05f;       // along the approach, behind the fingers
    float clearance = 0.005f;        // kept between each finger and the object
    int stray_points = 5;            // points inside a finger or the palm taken for noise
  };
  Gripper gripper_;
  // With the model on, the cloud the last estimate prepared (shared with its caller, not
  // copied): isCollided checks poses against it until the next estimate.
  CloudPtr gripper_cloud_;
  // The model's check of the last pose isCollided tested with the model on.
  litterpose::GripperCheck gripper_check_;

  // The robust preparation's working memory, kept from one estimate to the next (a large
  // cloud's fresh pages cost more than the work on them) until a much smaller cloud comes.
  std::unique_ptr<litterpose::PreparationMemory> preparation_memory_;

  // --- Why the last estimate ended as it did (see litterpose::Reason) ---
  litterpose::Reason reason_ = litterpose::Reason::kNone;
  std::string reason_text_ = "no estimate yet";
  int ik_code_ = 0;  // the inverse kinematics' code of the last pose isIKSolved tried

private:
  void connectKinematicsToSink();

  litterpose::ConsoleSink console_sink_;
};

namespace litterpose {

// Runs the entry on the cloud (base frame), for hosts that choose the entry at run time;
// returns its result code. Throws std::invalid_argument for a value that names no entry.
int runEntry(GrabPoseEstimate& estimator, Entry entry, GrabPoseEstimate::CloudPtr& cloud);

// The gripper model's check of a grasp pose (base frame) against the floor under the last
// estimate's object and the cloud it kept in gripper_cloud_ (none: the cloud is not
// checked), whatever gripper_.enable says; isCollided, with the model on, refuses the poses
// it does not find free. An object the last estimate found lying (main_axis_type_
// HORIZONTAL) and taken from above is as wide as it is tall where the fingers hold it.
// Throws std::invalid_argument when a size set in code is not finite, a side not above 0,
// or the clearance or finger2tcp_ negative.
GripperCheck checkGripper(const GrabPoseEstimate& estimator, const GrabPoseEstimate::Pose6D& pose);

// The members an estimate may leave behind for the next one to read, as they are when taken
// (take them right after construction): the preparation may overwrite its configured z
// margin (pass_ajust_value_), and an exactly vertical main axis keeps the class before it
// (main_axis_type_). A host that serves a stream of clouds with one estimator restores them
// before every estimate, so that each cloud is answered as a fresh estimator built from
// the same configuration would answer it.
class ConfiguredState {
public:
  explicit ConfiguredState(const GrabPoseEstimate& estimator);
  void restore(GrabPoseEstimate& estimator) const;

private:
  float pass_ajust_value_;
  MainAxisType main_axis_type_;
};

}  // namespace litterpose

#endif  // LITTERPOSE_H
