// The reason of every result: each decision an entry can end with gives its code, its
// reason and a text with the numbers that decided it; every estimate renews it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <litterpose_result.h>
#include <pcl/exceptions.h>
#include <quorvin_kinematics.h>

#include "support/clouds.h"
#include "support/estimator.h"
#include "support/grasp.h"

namespace {

using litterpose::Entry;
using litterpose::Reason;

clouds::CloudPtr bottle(float distance, float bearing_deg = 10.0f, int points = 2000) {
  return clouds::lying_rod(clouds::at_bearing(distance, bearing_deg), 30.0f, 0.22f, 0.035f,
                           points);
}

// A rod whose axis rises 30 degrees: a tilted main axis.
clouds::CloudPtr tilted_rod() {
  const Eigen::Vector2f xy = clouds::at_bearing(0.4f, 0.0f);
  return clouds::rod({xy.x(), xy.y(), -0.1f}, {0.866f, 0.0f, 0.5f}, 0.2f, 0.02f, 2000);
}

struct Case {
  const char* name;
  Entry entry;
  int trash_type;
  std::function<clouds::CloudPtr()> cloud;
  std::function<void(GrabPoseEstimate&)> setup;
  int code;
  Reason reason;
  std::vector<std::string> text;  // parts the reason's text holds, in order
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"reachable bottle", Entry::CommonGrabPoseFunc, 3, [] { return bottle(0.35f); }, nullptr,
       1, Reason::kFound, {"candidate 1 reached"}},
      {"initial entry", Entry::GetInitialGrabPose, 3, [] { return bottle(0.35f); }, nullptr, 1,
       Reason::kFound, {"not checked against the arm"}},
      {"50 points", Entry::CommonGrabPoseFunc, 3, [] { return bottle(0.35f, 10.0f, 50); },
       nullptr, 11, Reason::kTooFewPoints, {"too few points: 50 after preparation, at least 100"}},
      {"5 points, main entry", Entry::GrabPoseEstimateFunc, 1,
       [] { return bottle(0.35f, 10.0f, 5); }, nullptr, 11, Reason::kTooFewPoints,
       {"too few points: 5 after preparation, at least 10"}},
      {"a non-number, unprepared", Entry::GrabPoseEstimateFunc, 1,
       [] {
         auto c = bottle(0.35f, 10.0f, 50);
         c->push_back(pcl::PointXYZ(std::nanf(""), 0.0f, 0.0f));
         return c;
       },
       [](GrabPoseEstimate& e) { e.enable_process_cloud_ = false; }, 11,
       Reason::kNonFiniteShape, {"cloud shape is not finite"}},
      {"beyond the workspace", Entry::CommonGrabPoseFunc, 3, [] { return bottle(0.98f); },
       nullptr, 41, Reason::kOutsideWorkspace,
       {"grasp point 1.01 m from the workspace centre, workspace 0.20-0.90 m"}},
      {"left of the workspace", Entry::CommonGrabPoseFunc, 3,
       [] { return bottle(0.4f, -72.0f); }, nullptr, 41, Reason::kOutsideWorkspace,
       {"grasp point at bearing -7", " deg, workspace -60.0 to 60.0 deg"}},
      {"beyond the vertical window", Entry::GrabPoseEstimateFunc, 1,
       [] { return bottle(0.72f); }, nullptr, 102, Reason::kOutsideWindow,
       {"grasp point 0.72 m from the axis, vertical window 0.20-0.60 m"}},
      {"right of the vertical window", Entry::GrabPoseEstimateFunc, 2,
       [] { return bottle(0.4f, 66.0f); }, nullptr, 204, Reason::kOutsideWindow,
       {"grasp point at bearing 6", " deg, vertical window -60.0 to 60.0 deg"}},
      {"near the side window", Entry::GrabPoseEstimateFunc, 3,
       [] { return clouds::standing_cylinder(clouds::at_bearing(0.3f, 5.0f), 0.2f, 0.03f, 2000); },
       nullptr, 311, Reason::kOutsideWindow, {" m from the axis, parallel window 0.50-0.70 m"}},
      {"near the grab space", Entry::CommonGrabPoseFunc, 3,
       [] { return clouds::standing_cylinder(clouds::at_bearing(0.3f, 5.0f), 0.2f, 0.03f, 2000); },
       nullptr, 311, Reason::kOutsideWindow, {" m from the axis, horizontal grab space 0.5"}},
      {"trash type 7", Entry::GrabPoseEstimateFunc, 7, [] { return bottle(0.35f); }, nullptr,
       111, Reason::kUnknownTrashType, {"unknown trash type 7"}},
      {"grab mode 0", Entry::GrabPoseEstimateFunc, 1, [] { return bottle(0.35f); },
       [](GrabPoseEstimate& e) { e.grab_mode_ = 0; }, 1111, Reason::kGrabModeOff,
       {"grab mode 0 is off"}},
      {"tilted axis", Entry::GrabPoseEstimateFunc, 3, tilted_rod, nullptr, 1111,
       Reason::kNoStrategy, {"main-axis class 3 (tilted): no strategy for trash type 3"}},
      {"out of reach, slanted retries off", Entry::GrabPoseEstimateFunc, 3,
       [] { return bottle(0.75f); },
       [](GrabPoseEstimate& e) { e.grab_vertical_distance_max_ = 1.2f; }, 1111,
       Reason::kSlantedRetriesOff, {"vertical candidate not reachable (IK -", ") and slanted"}},
      {"out of reach, main entry", Entry::GrabPoseEstimateFunc, 1, [] { return bottle(0.75f); },
       [](GrabPoseEstimate& e) { e.grab_vertical_distance_max_ = 1.2f; }, 1111,
       Reason::kNoCandidateReachable, {"no candidate reachable: IK -"}},
      {"out of reach, common entry", Entry::CommonGrabPoseFunc, 1, [] { return bottle(0.75f); },
       [](GrabPoseEstimate& e) { e.grab_vertical_distance_max_ = 1.2f; }, 1111,
       Reason::kNoCandidateReachable, {"no candidate reachable: IK -"}},
      {"out of reach, no retries for trash type 5", Entry::CommonGrabPoseFunc, 5,
       [] { return bottle(0.75f); },
       [](GrabPoseEstimate& e) { e.grab_vertical_distance_max_ = 1.2f; }, 1111,
       Reason::kNoCandidateReachable,
       {"no candidate reachable: IK -", "; no retries for trash type 5"}},
      {"infinite extension", Entry::CommonGrabPoseFunc, 2,
       [] { return clouds::standing_cylinder(clouds::at_bearing(0.6f, 10.0f), 0.2f, 0.03f, 800); },
       [](GrabPoseEstimate& e) {
         e.extra_length_ratio_ = std::numeric_limits<float>::infinity();
         e.extend_lenth_threshold_ = 1.0f;
       },
       1111, Reason::kUnsoundPose, {"grasp pose is not finite in all 4 candidates"}},
      {"infinite extension, initial entry", Entry::GetInitialGrabPose, 2,
       [] { return clouds::standing_cylinder(clouds::at_bearing(0.6f, 10.0f), 0.2f, 0.03f, 800); },
       [](GrabPoseEstimate& e) {
         e.extra_length_ratio_ = std::numeric_limits<float>::infinity();
         e.extend_lenth_threshold_ = 1.0f;
       },
       1111, Reason::kUnsoundPose, {"grasp pose is not finite"}},
  };
  return all;
}

// The inverse kinematics' code for each candidate an estimate printed, from an arm model of
// its own: the flange 156 mm behind the tool centre point along the tool z axis.
std::map<int, int> solverCodes(const GrabPoseEstimate& e, const std::string& printed) {
  QuorvinKinematics arm(e.dh_d_, e.dh_a_, e.dh_alpha_, e.dh_offset_);
  arm.set_line_hook(nullptr);
  std::map<int, int> codes;
  for (const support::Candidate& c : support::candidates_in(printed)) {
    Eigen::Isometry3d flange = Eigen::Isometry3d::Identity();
    flange.linear() = c.orientation.normalized().toRotationMatrix();
    flange.translation() = 1000.0 * c.position;
    flange = flange * Eigen::Translation3d(0.0, 0.0, -156.0);
    double joints[6];
    ++codes[arm.inverse_kinematics(flange.matrix(), e.ik_ref_joints_, joints)];
  }
  return codes;
}

TEST(Reason, EachDecisionGivesItsCodeReasonAndNumbers) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    auto e = support::make_estimator();
    if (c.setup) c.setup(*e);
    e->trash_type_ = c.trash_type;
    auto cloud = c.cloud();
    int code = 0;
    const std::string printed =
        support::printed_by(*e, [&] { code = litterpose::runEntry(*e, c.entry, cloud); });
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(e->reason_, c.reason) << e->reason_text_;
    std::size_t at = 0;
    for (const std::string& part : c.text) {
      at = e->reason_text_.find(part, at);
      ASSERT_NE(at, std::string::npos) << "\"" << part << "\" in \"" << e->reason_text_ << "\"";
    }
    if (c.reason == Reason::kNoCandidateReachable) {
      const auto codes = solverCodes(*e, printed);
      ASSERT_EQ(codes.size(), 1u) << e->reason_text_;
      EXPECT_EQ(codes.count(e->ik_code_), 1u);
      const auto [ik, count] = *codes.begin();
      const std::string expected = "no candidate reachable: IK " + std::to_string(ik) +
                                   (count > 1 ? " on all " + std::to_string(count) : "");
      EXPECT_EQ(e->reason_text_.rfind(expected, 0), 0u) << e->reason_text_;
    }
  }
}

TEST(Reason, EveryEstimateRenewsItAlsoWhenItRaises) {
  auto e = support::make_estimator();
  EXPECT_EQ(e->reason_, Reason::kNone);
  e->trash_type_ = 3;
  auto cloud = bottle(0.35f);
  ASSERT_EQ(e->CommonGrabPoseFunc(cloud), 1);
  EXPECT_EQ(e->reason_, Reason::kFound);
  cloud = bottle(0.35f, 10.0f, 50);
  ASSERT_EQ(e->GetInitialGrabPose(cloud), 11);
  EXPECT_EQ(e->reason_, Reason::kTooFewPoints);
  e->enable_process_cloud_ = false;
  cloud = bottle(0.35f, 10.0f, 2);
  EXPECT_THROW(e->GrabPoseEstimateFunc(cloud), pcl::InitFailedException);
  EXPECT_EQ(e->reason_, Reason::kNone);
  EXPECT_EQ(e->reason_text_, "the estimate did not return");
}

TEST(Reason, NamesAreStableWords) {
  const std::map<Reason, const char*> names = {
      {Reason::kNone, "none"},
      {Reason::kFound, "found"},
      {Reason::kTooFewPoints, "too_few_points"},
      {Reason::kNonFiniteShape, "non_finite_shape"},
      {Reason::kOutsideWorkspace, "outside_workspace"},
      {Reason::kOutsideWindow, "outside_window"},
      {Reason::kUnknownTrashType, "unknown_trash_type"},
      {Reason::kGrabModeOff, "grab_mode_off"},
      {Reason::kNoStrategy, "no_strategy"},
      {Reason::kNoCandidateReachable, "no_candidate_reachable"},
      {Reason::kSlantedRetriesOff, "slanted_retries_off"},
      {Reason::kUnsoundPose, "unsound_pose"},
      {static_cast<Reason>(-1), "unknown"},
  };
  for (const auto& [reason, name] : names) EXPECT_STREQ(litterpose::reasonName(reason), name);
}

}  // namespace
