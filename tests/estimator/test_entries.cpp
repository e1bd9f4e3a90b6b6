// Choosing an entry at run time: by its short name, and running it.
#include <gtest/gtest.h>
#include <litterpose.h>

#include <stdexcept>
#include <string>

#include "support/clouds.h"
#include "support/estimator.h"

namespace {

using litterpose::Entry;
using litterpose::entryNamed;

TEST(Entries, ShortNamesAreTheProgramsNames) {
  EXPECT_EQ(entryNamed("main"), Entry::GrabPoseEstimateFunc);
  EXPECT_EQ(entryNamed("common"), Entry::CommonGrabPoseFunc);
  EXPECT_EQ(entryNamed("initial"), Entry::GetInitialGrabPose);
  for (const char* name : {"", "Main", "common ", "GrabPoseEstimateFunc", "init"})
    EXPECT_FALSE(entryNamed(name)) << "'" << name << "'";
  for (const Entry entry :
       {Entry::GrabPoseEstimateFunc, Entry::CommonGrabPoseFunc, Entry::GetInitialGrabPose})
    EXPECT_EQ(entryNamed(litterpose::entryShortName(entry)), entry);
}

// A stick lying beyond the vertical grab space, which the entries answer differently:
// runEntry answers and prints as the entry it names does on a fresh estimator.
TEST(Entries, RunEntryRunsTheEntryItNames) {
  const auto stick = clouds::lying_rod(clouds::at_bearing(0.8f, 0.0f), 30.0f, 0.2f, 0.01f, 2000);
  const std::pair<Entry, const char*> entries[] = {
      {Entry::GrabPoseEstimateFunc, nullptr},
      {Entry::CommonGrabPoseFunc, "CommonGrabPoseFunc"},
      {Entry::GetInitialGrabPose, "GetInitialGrabPose"}};
  int codes[3];
  for (int i = 0; i < 3; ++i) {
    auto cloud = std::make_shared<clouds::Cloud>(*stick);
    auto estimator = support::make_estimator();
    const std::string printed = support::printed_by(
        [&] { codes[i] = litterpose::runEntry(*estimator, entries[i].first, cloud); });
    auto direct_cloud = std::make_shared<clouds::Cloud>(*stick);
    auto direct = support::make_estimator();
    int expected = 0;
    support::printed_by([&] {
      switch (entries[i].first) {
        case Entry::GrabPoseEstimateFunc:
          expected = direct->GrabPoseEstimateFunc(direct_cloud);
          break;
        case Entry::CommonGrabPoseFunc: expected = direct->CommonGrabPoseFunc(direct_cloud); break;
        case Entry::GetInitialGrabPose: expected = direct->GetInitialGrabPose(direct_cloud); break;
      }
    });
    EXPECT_EQ(codes[i], expected) << i;
    for (int j = 1; j < 3; ++j) {
      const bool own = entries[j].second == entries[i].second;
      EXPECT_EQ(printed.find(entries[j].second) != std::string::npos, own) << i << " " << j;
    }
  }
  EXPECT_FALSE(codes[0] == codes[1] && codes[1] == codes[2]) << "the cloud tells no entry apart";
}

TEST(Entries, RunEntryRefusesAValueThatNamesNoEntry) {
  auto estimator = support::make_estimator();
  auto cloud = std::make_shared<clouds::Cloud>(
      *clouds::lying_rod(clouds::at_bearing(0.4f, 0.0f), 0.0f, 0.2f, 0.01f, 200));
  EXPECT_THROW(litterpose::runEntry(*estimator, static_cast<Entry>(7), cloud),
               std::invalid_argument);
}

}  // namespace
