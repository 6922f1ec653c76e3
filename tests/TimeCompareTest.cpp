#include "QVSchedulerStage.h"
#include "QVTestSupport.h"
#include "QVTimeCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(TimeCompare, IntegerComparisonsUseTolerance) {
  EXPECT_TRUE(CQVTimeCompare::isEqual(7, 7, 0.0));
  EXPECT_TRUE(CQVTimeCompare::isEqual(7, 8, 1.0));
  EXPECT_FALSE(CQVTimeCompare::isEqual(7, 9, 1.0));
  EXPECT_FALSE(CQVTimeCompare::isBigger(8, 7, 1.0));
  EXPECT_TRUE(CQVTimeCompare::isBigger(9, 7, 1.0));
  EXPECT_TRUE(CQVTimeCompare::isBiggerOrEqual(6, 7, 1.0));
  EXPECT_FALSE(CQVTimeCompare::isBiggerOrEqual(5, 7, 1.0));
}

TEST(TimeCompare, DifferenceWrapsInThirtyTwoBits) {
  // INT32_MIN - 1 wraps to INT32_MAX in 32-bit arithmetic: a large positive difference.
  EXPECT_TRUE(CQVTimeCompare::isBigger(-2147483647L - 1, 1, 1.0));
  EXPECT_FALSE(CQVTimeCompare::isEqual(-2147483647L - 1, 1, 1.0));
  // 2^32 + 5 and 5 are the same 32-bit value.
  EXPECT_TRUE(CQVTimeCompare::isEqual(4294967301L, 5, 0.0));
}

TEST(TimeCompare, NotANumberToleranceNeverHolds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(CQVTimeCompare::isEqual(7, 7, nan));
  EXPECT_FALSE(CQVTimeCompare::isBigger(9, 7, nan));
  EXPECT_FALSE(CQVTimeCompare::isBiggerOrEqual(9, 7, nan));
  // isSmaller falls back to 1 ms.
  EXPECT_FALSE(CQVTimeCompare::isSmaller(0, 10000, nan));
  EXPECT_TRUE(CQVTimeCompare::isSmaller(0, 20000, nan));
}

TEST(TimeCompare, IsSmallerTruncatesToWholeMilliseconds) {
  const double eps = CQVTimeCompare::EPSILON_3;
  EXPECT_FALSE(CQVTimeCompare::isSmaller(0, 19999, eps));
  EXPECT_TRUE(CQVTimeCompare::isSmaller(0, 20000, eps));
  EXPECT_TRUE(CQVTimeCompare::isSmaller(9999, 20000, eps));
  EXPECT_FALSE(CQVTimeCompare::isSmaller(10000, 29999, eps));
  for (double e : {0.0, 0.0005, 0.001, 1.0, -3.0}) EXPECT_FALSE(CQVTimeCompare::isSmaller(123456789, 123456789, e));
  EXPECT_FALSE(CQVTimeCompare::isSmaller(0, 10000, 0.0));   // tolerance 1 ms
  EXPECT_TRUE(CQVTimeCompare::isSmaller(0, 10000, 0.0005));  // truncates to 0 ms
  // A huge tolerance never wraps into "smaller".
  EXPECT_FALSE(CQVTimeCompare::isSmaller(UINT64_MAX - 5, UINT64_MAX, 1e30));
}

TEST(TimeCompare, RelativeSecondsFromTheInstalledClock) {
  ScopedManualClock clock;
  const std::uint64_t now = clock->now();
  EXPECT_EQ(CQVTimeCompare::getCurrTimeIn100NanoSeconds().QuadPart, now);
  EXPECT_EQ(CQVTimeCompare::relTimeInSecondsToAbsTimeIn100NanoSeconds(0).QuadPart, now);
  EXPECT_EQ(CQVTimeCompare::relTimeInSecondsToAbsTimeIn100NanoSeconds(-1).QuadPart, now - 10000000ULL);
  EXPECT_EQ(CQVTimeCompare::relTimeInSecondsToAbsTimeIn100NanoSeconds(3600).QuadPart, now + 36000000000ULL);
  EXPECT_EQ(CQVTimeCompare::SECOND_TO_100_NANO_SECONDS, 10000000ULL);
  EXPECT_EQ(CQVTimeCompare::MILLI_SECOND_TO_100_NANO_SECONDS, 10000ULL);
  EXPECT_EQ(CQVTimeCompare::SECOND_TO_MILLI_SECOND, 1000ULL);
  EXPECT_DOUBLE_EQ(CQVTimeCompare::DEBUG_EPSILON, 10.0);
  EXPECT_DOUBLE_EQ(CQVTimeCompare::TEST_EPSILON, 1.0);
}

TEST(SchedulerStage, ValueSemantics) {
  CQVSchedulerStage a;
  CQVSchedulerStage b;
  EXPECT_TRUE(a == b);
  EXPECT_EQ(a.getCurrActionStage(), STAGE_NONE);
  EXPECT_EQ(a.getNextActionStage(), STAGE_NONE);
  b.setHasNextStage(true);
  EXPECT_FALSE(a == b);

  CQVSchedulerStage c;
  c.setCurrActionStage(STAGE_RAMP_UP);
  c.setNextActionStage(STAGE_STOP);
  c.setSecondsToNextStage(60);
  c.setNumberOfVusersInNextBatch(CQVSchedulerStage::ALL_VUSERS);
  c.setHasNextStage(true);
  CQVSchedulerStage& self = c;
  c = self;
  EXPECT_EQ(c.getCurrActionStage(), STAGE_RAMP_UP);
  EXPECT_EQ(c.getNumberOfVusersInNextBatch(), -999);
  const CQVSchedulerStage copy(c);
  EXPECT_TRUE(copy == c);
  a = c;
  EXPECT_TRUE(a == c);
  a.setSecondsToNextStage(59);
  EXPECT_FALSE(a == c);
}
