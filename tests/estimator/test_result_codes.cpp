// The meanings of the result codes, in general and as each entry returns them.
#include <gtest/gtest.h>
#include <litterpose_result.h>

#include <string>

namespace {

using litterpose::Entry;
using litterpose::describeResult;

TEST(ResultCodes, CodesSharedByTheEntriesMeanOneThingEach) {
  EXPECT_STREQ(describeResult(101), "too near (trash type 1), or outside the vertical grab space");
  EXPECT_STREQ(describeResult(101, Entry::GrabPoseEstimateFunc), "too near (trash type 1)");
  EXPECT_STREQ(describeResult(101, Entry::CommonGrabPoseFunc), "outside the vertical grab space");
  EXPECT_STREQ(describeResult(311, Entry::GrabPoseEstimateFunc),
               "too near (trash type 3, standing)");
  EXPECT_STREQ(describeResult(311, Entry::CommonGrabPoseFunc),
               "outside the horizontal grab space");
}

TEST(ResultCodes, AnEntryKnowsOnlyTheCodesItReturns) {
  for (const Entry entry :
       {Entry::GrabPoseEstimateFunc, Entry::CommonGrabPoseFunc, Entry::GetInitialGrabPose}) {
    for (const int code : {1, 11, 1111})
      EXPECT_STREQ(describeResult(code, entry), describeResult(code));
    EXPECT_STREQ(describeResult(7, entry), "unknown result");
  }
  EXPECT_STREQ(describeResult(41, Entry::GrabPoseEstimateFunc), "unknown result");
  EXPECT_STREQ(describeResult(41, Entry::GetInitialGrabPose), "outside the workspace sector");
  EXPECT_STREQ(describeResult(302, Entry::GrabPoseEstimateFunc), "too far (trash type 3, lying)");
  for (const int code : {101, 311, 302, 111})
    EXPECT_STREQ(describeResult(code, Entry::GetInitialGrabPose), "unknown result") << code;
  EXPECT_STREQ(describeResult(302, Entry::CommonGrabPoseFunc), "unknown result");
}

}  // namespace
