// The reader count's rules, fed with made-up periods: what readers did, never a clock.
#include "core/model/reader_control.h"

#include <gtest/gtest.h>

namespace kestrum {
namespace {

// A period of 25 ms in which `readers` readers were busy for `busy` of it, spending `off` of
// their busy time off the processor (asleep on the device or queued), and handled `rate`
// entries per second.
ReaderSample Period(unsigned readers, double rate, double off, double busy = 1) {
  ReaderSample s;
  s.Seconds = 0.025;
  s.Busy = readers * s.Seconds * busy;
  s.OnCpu = s.Busy * (1 - off);
  s.Entries = rate * s.Seconds;
  return s;
}

// Feeds the periods of a trial; returns the count after it.
unsigned Trial(ReaderControl& c, unsigned readers, double rate, double off) {
  unsigned n = readers;
  for (int i = 0; i < ReaderControl::kTrialPeriods; ++i) n = c.Update(Period(readers, rate, off));
  return n;
}

TEST(ReaderControl, GrowsWhileTheDevicePaysAndStopsWhereItNoLongerDoes) {
  ReaderControl c(2, 2, 64);
  EXPECT_EQ(c.Readers(), 2u);
  // Readers off the processor: the count doubles, and stays while the rate grows with it.
  double rate = 10000;
  EXPECT_EQ(c.Update(Period(2, rate, 0.8)), 4u);
  rate *= 1.8;
  EXPECT_EQ(Trial(c, 4, rate, 0.8), 4u);
  EXPECT_EQ(c.Update(Period(4, rate, 0.8)), 8u);
  rate *= 1.5;
  EXPECT_EQ(Trial(c, 8, rate, 0.8), 8u);
  EXPECT_EQ(c.Update(Period(8, rate, 0.8)), 16u);
  // The device is saturated: sixteen readers only queue on it. The growth is taken back and
  // eight is the ceiling for a while, however long readers keep waiting.
  EXPECT_EQ(Trial(c, 16, rate * 1.02, 0.9), 8u);
  for (int i = 0; i < ReaderControl::kCooldownPeriods - 1; ++i)
    EXPECT_EQ(c.Update(Period(8, rate, 0.8)), 8u) << i;
  // Then it probes again: the tree or the cache may have changed.
  EXPECT_EQ(c.Update(Period(8, rate, 0.8)), 16u);
}

TEST(ReaderControl, BusyOnTheProcessorSettlesOnTheCores) {
  ReaderControl c(2, 2, 64);
  // A warm cache: readers on the processor. Nothing grows.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(c.Update(Period(2, 500000, 0.02)), 2u);
  // After a cold stretch has grown the count, a warm one brings it back to the cores, and
  // never below.
  ReaderControl d(2, 16, 64);
  unsigned n = 16;
  for (int i = 0; i < 10; ++i) n = d.Update(Period(n, 500000, 0.05));
  EXPECT_EQ(n, 2u);
  // A start below the cores (a spinning disk) rises to them as soon as the readers are busy
  // on the processor.
  ReaderControl f(4, 1, 64);
  EXPECT_EQ(f.Update(Period(1, 100000, 0.0)), 4u);
  // Half-way off the processor, above the cores: neither grown nor shrunk.
  ReaderControl g(2, 6, 64);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(g.Update(Period(6, 100000, 0.2)), 6u);
}

TEST(ReaderControl, ReadersWithoutWorkDoNotGrow) {
  // A narrow tree: readers idle most of the period. Waiting on the device or not, more readers
  // would only wait for work.
  ReaderControl c(2, 2, 64);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(c.Update(Period(2, 1000, 0.9, 0.3)), 2u);
  // An empty period changes nothing.
  EXPECT_EQ(c.Update(ReaderSample{}), 2u);
  // Bounds: never above the most, never below one.
  ReaderControl d(8, 100, 6);
  EXPECT_EQ(d.Readers(), 6u);
  EXPECT_EQ(d.Update(Period(6, 1000, 0.9)), 6u);
  ReaderControl e(1, 0, 64);
  EXPECT_EQ(e.Readers(), 1u);
}

TEST(StatInInodeOrder, OnlyForASeekingDeviceTheReadersWaitFor) {
  // Cold: readers asleep on the device half of the time.
  EXPECT_TRUE(StatInInodeOrder(true, Period(2, 1e5, 0.5), false));
  // Warm: on the processor, the sorting is dropped, and taken up again when they wait.
  EXPECT_FALSE(StatInInodeOrder(true, Period(2, 1e6, 0.02), true));
  EXPECT_TRUE(StatInInodeOrder(true, Period(2, 1e5, 0.4), false));
  // A device that does not seek never sorts.
  EXPECT_FALSE(StatInInodeOrder(false, Period(2, 1e5, 0.9), true));
  // A period with hardly any reading says nothing: the choice stays.
  EXPECT_TRUE(StatInInodeOrder(true, Period(2, 10, 0.0, 0.01), true));
  EXPECT_FALSE(StatInInodeOrder(true, Period(2, 10, 0.9, 0.01), false));
}

}  // namespace
}  // namespace kestrum
