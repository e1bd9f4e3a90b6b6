// Each decision an entry can end with gives its code, its reason and a text with the
// numbers that decided it; every estimate renews it.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include <pcl/exceptions.h>

#include "support/clouds.h"
#include "support/estimator.h"
#include "support/grasp.h"

namespace {

using litterpose::Reason;
using Setup = std::function<void(GrabPoseEstimate&)>;

clouds::CloudPtr bottle(float distance, float bearing = 10.0f, int points = 2000) {
  return clouds::lying_rod(clouds::at_bearing(distance, bearing), 30.0f, 0.22f, 0.035f, points);
}
clouds::CloudPtr can(float distance) {
  return clouds::standing_cylinder(clouds::at_bearing(distance, 5.0f), 0.2f, 0.03f, 800);
}

struct Case {
  litterpose::Entry entry;
  int trash_type;
  clouds::CloudPtr cloud;
  Setup setup;
  int code;
  Reason reason;
  std::string text;  // how the text begins
};

constexpr auto kMain = litterpose::Entry::GrabPoseEstimateFunc;
constexpr auto kCommon = litterpose::Entry::CommonGrabPoseFunc;
const Setup kWide = [](GrabPoseEstimate& e) { e.grab_vertical_distance_max_ = 1.2f; };
const Case kCases[] = {
    {kCommon, 3, bottle(0.35f), {}, 1, Reason::kFound, "candidate 1 reached"},
    {kCommon, 3, bottle(0.35f, 10.0f, 50), {}, 11, Reason::kTooFewPoints,
     "too few points: 50 after preparation, at least 100"},
    {kMain, 1, clouds::column(-0.4f, 0.0f, -0.17f, 1e38f, 20),
     [](GrabPoseEstimate& e) { e.enable_process_cloud_ = false; }, 11, Reason::kNonFiniteShape,
     "cloud shape is not finite"},
    {kCommon, 3, bottle(0.4f, -72.0f), {}, 41, Reason::kOutsideWorkspace,
     "grasp point at bearing -72.0 deg, workspace -60.0 to 60.0 deg"},
    {kMain, 1, bottle(0.72f), {}, 102, Reason::kOutsideWindow,
     "grasp point 0.72 m from the axis, vertical window 0.20-0.60 m"},
    {kCommon, 3, can(0.3f), {}, 311, Reason::kOutsideWindow,
     "grasp point 0.32 m from the axis, horizontal grab space 0.5"},
    {kMain, 7, bottle(0.35f), {}, 111, Reason::kUnknownTrashType, "unknown trash type 7"},
    {kMain, 1, bottle(0.35f), [](GrabPoseEstimate& e) { e.grab_mode_ = 0; }, 1111,
     Reason::kGrabModeOff, "grab mode 0 is off"},
    {kMain, 3, clouds::rod({-0.4f, 0.0f, -0.1f}, {0.87f, 0.0f, 0.5f}, 0.2f, 0.02f, 2000), {},
     1111, Reason::kNoStrategy, "main-axis class 3 (tilted): no strategy for trash type 3"},
    {kMain, 3, bottle(0.75f), kWide, 1111, Reason::kSlantedRetriesOff,
     "vertical candidate not reachable (IK -"},
    {kCommon, 1, bottle(0.75f), kWide, 1111, Reason::kNoCandidateReachable,
     "no candidate reachable: IK "},
    {kCommon, 2, can(0.6f),
     [](GrabPoseEstimate& e) {
       e.extra_length_ratio_ = std::numeric_limits<float>::infinity();
       e.extend_lenth_threshold_ = 1.0f;
     },
     1111, Reason::kUnsoundPose, "grasp pose is not finite in all 4 candidates"},
};

TEST(Reason, EachDecisionGivesItsCodeReasonAndNumbers) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    auto e = support::make_estimator();
    if (c.setup) c.setup(*e);
    e->trash_type_ = c.trash_type;
    auto cloud = std::make_shared<clouds::Cloud>(*c.cloud);
    int code = 0;
    const std::string printed =
        support::printed_by([&] { code = litterpose::runEntry(*e, c.entry, cloud); });
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(e->reason_, c.reason);
    EXPECT_EQ(e->reason_text_.rfind(c.text, 0), 0u) << e->reason_text_;
    if (c.reason == Reason::kNoCandidateReachable) {  // the same refusal of every candidate
      EXPECT_EQ(e->reason_text_, "no candidate reachable: IK " + std::to_string(e->ik_code_) +
                                     " on all " +
                                     std::to_string(support::candidates_in(printed).size()));
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
  e->enable_process_cloud_ = false;
  cloud = bottle(0.35f, 10.0f, 2);
  EXPECT_THROW(e->GrabPoseEstimateFunc(cloud), pcl::InitFailedException);
  EXPECT_EQ(e->reason_, Reason::kNone);
  EXPECT_STREQ(litterpose::reasonName(e->reason_), "none");
  EXPECT_STREQ(litterpose::reasonName(Reason::kNoCandidateReachable), "no_candidate_reachable");
}

}  // namespace
