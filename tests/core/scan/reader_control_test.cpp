// The reader count's rules, fed with made-up periods: what readers did, never a clock.
#include "core/scan/reader_control.h"

#include <gtest/gtest.h>

namespace kestrum {
namespace {

// A period of 25 ms in which `readers` readers were busy for `busy` of it, spending `asleep`
// of their busy time asleep (on the device) and `queued` of it waiting for a processor, and
// handled `rate` entries per second.
ReaderSample Period(unsigned readers, double rate, double asleep, double busy = 1,
                    double queued = 0) {
  ReaderSample s;
  s.Seconds = 0.025;
  s.Busy = readers * s.Seconds * busy;
  s.Queued = s.Busy * queued;
  s.OnCpu = s.Busy * (1 - asleep - queued);
  s.Entries = rate * s.Seconds;
  return s;
}

// Feeds the periods of a trial; returns the count after it.
unsigned Trial(ReaderControl& c, unsigned readers, double rate, double asleep, double queued = 0) {
  unsigned n = readers;
  for (int i = 0; i < ReaderControl::kTrialPeriods; ++i)
    n = c.Update(Period(readers, rate, asleep, 1, queued));
  return n;
}

TEST(ReaderControl, ColdStartsAtTheColdCountAndGrowsWhileTheDevicePays) {
  ReaderControl c(2, 1, 64);
  ASSERT_EQ(c.ColdCount(), 16u);
  EXPECT_EQ(c.Readers(), 1u);
  // The first period shows a cold device: straight to the cold count, not one doubling.
  double rate = 10000;
  EXPECT_EQ(c.Update(Period(1, rate, 0.7)), 16u);
  rate *= 4;
  EXPECT_EQ(Trial(c, 16, rate, 0.8), 16u);
  // Later growths double.
  EXPECT_EQ(c.Update(Period(16, rate, 0.8)), 32u);
  // The device is saturated: more readers only queue on it. The growth is taken back, and
  // sixteen is the ceiling for a while, however long readers keep waiting.
  EXPECT_EQ(Trial(c, 32, rate * 1.02, 0.9), 16u);
  for (int i = 0; i < ReaderControl::kCooldownPeriods - 1; ++i)
    EXPECT_EQ(c.Update(Period(16, rate, 0.8)), 16u) << i;
  // Then it probes again: the tree or the cache may have changed; and a growth that pays
  // stays.
  EXPECT_EQ(c.Update(Period(16, rate, 0.8)), 32u);
  EXPECT_EQ(Trial(c, 32, rate * 1.5, 0.8), 32u);
  // Memory short (each reader holds the record of a huge folder): the count drops at once
  // and stays within the bound while it holds; once the bound rises, the count may grow again.
  c.Bound(6);
  EXPECT_EQ(c.Readers(), 6u);
  for (int i = 0; i < 3 * ReaderControl::kCooldownPeriods; ++i)
    EXPECT_LE(c.Update(Period(6, rate, 0.8)), 6u) << i;
  c.Bound(64);
  EXPECT_EQ(c.Update(Period(6, rate, 0.8)), 12u);
}

TEST(ReaderControl, MemoryBoundCountsWhatTheProcessHolds) {
  constexpr std::size_t MiB = 1u << 20;
  struct Case {
    std::size_t resident, perReader;
    unsigned readers, want;
  } cases[] = {
      {4 * MiB, 4 * MiB, 2, 12},    // room for ten more
      {40 * MiB, 4 * MiB, 12, 13},  // a little room left
      {44 * MiB, 4 * MiB, 12, 12},  // none: no more, no fewer
      {53 * MiB, 4 * MiB, 12, 9},   // over: as many fewer as it is over, rounded up
      {90 * MiB, 4 * MiB, 12, 2},   // never below the cores
      {4 * MiB, 16 * 1024, 2, 2562},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MemoryBound(c.resident, 44 * MiB, c.perReader, c.readers, 2), c.want)
        << c.resident / MiB << " MiB resident, " << c.readers << " readers";
}

TEST(RecordEstimate, LearnsFromLargeFoldersOnly) {
  constexpr std::int64_t MiB = 1 << 20;
  RecordEstimate e;
  EXPECT_EQ(e.Largest(), 0u);
  // A huge folder met, none read: its listing, twice.
  e.Met(MiB);
  EXPECT_EQ(e.Largest(), 2u * MiB);
  // A small folder teaches nothing of the ratio, though its record counts as itself.
  e.Filed(100 * 1024, 4096);
  EXPECT_EQ(e.Largest(), 2u * MiB);
  // A large folder whose record was tiny: the huge folder is expected as small.
  e.Filed(10 * 1024, 512 * 1024);
  EXPECT_EQ(e.Largest(), 100u * 1024);
  // Another whose record grew past its listing: the most seen stands.
  e.Filed(MiB, MiB / 2);
  e.Filed(0, MiB);
  EXPECT_EQ(e.Largest(), 2u * MiB);
}

TEST(ReaderControl, QueuedForAProcessorIsNotWaitingForTheDevice) {
  // Many readers on a warm cache: nearly all their busy time queued for the two cores. They
  // never grow, and shrink back to the cores, each step kept as the rate holds.
  ReaderControl c(2, 16, 64);
  unsigned n = 16;
  for (int i = 0; i < 40; ++i) n = c.Update(Period(n, 500000, 0.0, 1, 0.85));
  EXPECT_EQ(n, 2u);
  // The same share off the processor, asleep instead: a cold device, and the count grows.
  ReaderControl d(2, 2, 64);
  EXPECT_EQ(d.Update(Period(2, 10000, 0.85)), 16u);
}

TEST(ReaderControl, AShrinkThatLosesEntriesIsTakenBack) {
  // Readers that hardly sleep, yet fewer of them get less done (a cold device whose waits
  // show as running time, as in a virtual machine): the shrink is undone, and the count
  // stays for a while.
  ReaderControl c(2, 16, 64);
  const double rate = 400000;
  EXPECT_EQ(c.Update(Period(16, rate, 0.05, 1, 0.5)), 9u);
  EXPECT_EQ(Trial(c, 9, rate * 0.8, 0.05, 0.5), 16u);
  for (int i = 0; i < ReaderControl::kCooldownPeriods - 1; ++i)
    EXPECT_EQ(c.Update(Period(16, rate, 0.05, 1, 0.5)), 16u) << i;
  // A shrink that keeps the rate is kept.
  EXPECT_EQ(c.Update(Period(16, rate, 0.05, 1, 0.5)), 9u);
  EXPECT_EQ(Trial(c, 9, rate, 0.05, 0.5), 9u);
}

TEST(ReaderControl, BusyOnTheProcessorSettlesOnTheCores) {
  ReaderControl c(2, 2, 64);
  // A warm cache: readers on the processor. Nothing grows, however long.
  for (int i = 0; i < 3 * ReaderControl::kCooldownPeriods; ++i)
    EXPECT_EQ(c.Update(Period(2, 500000, 0.02)), 2u) << i;
  // Then a branch the cache lost: the readers sleep, and the count doubles, no more.
  EXPECT_EQ(c.Update(Period(2, 200000, 0.5)), 4u);
  // A little asleep, period after period: now and then a trial of more readers, taken back
  // when it brings nothing.
  ReaderControl p(2, 2, 64);
  unsigned n = 2;
  for (int i = 0; i < ReaderControl::kCooldownPeriods && n == 2; ++i)
    n = p.Update(Period(2, 100000, 0.1));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(Trial(p, 4, 100000, 0.1), 2u);
  // A start below the cores (a spinning disk) rises to them as soon as the readers are busy
  // on the processor.
  ReaderControl f(4, 1, 64);
  EXPECT_EQ(f.Update(Period(1, 100000, 0.0)), 4u);
  // Somewhat asleep, above the cores: neither grown nor shrunk.
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

// Each period's decision, as the scan log words it, follows what the count did: a cold start,
// its trial, a growth taken back, a ceiling, a narrow tree, memory's bound, and a shrink that
// lost entries.
TEST(ReaderControl, EachStepSaysWhatItDecidedAndWhy) {
  using Kind = ReaderStep::Kind;
  const double rate = 40000;
  const struct {
    unsigned bound;  // 0: none before the period
    ReaderSample period;
    const char* decision;
    Kind what;
  } steps[] = {
      {0, Period(1, 10000, 0.7), "grew to 16", Kind::ColdGrowth},
      {0, Period(16, rate, 0.8), "trial", Kind::Trial},
      {0, Period(16, rate, 0.8), "trial", Kind::Trial},
      {0, Period(16, rate, 0.8), "trial", Kind::Trial},
      {0, Period(16, rate, 0.8), "kept", Kind::TrialKept},
      {0, Period(16, rate, 0.8), "grew to 32", Kind::Growth},
      {0, Period(32, rate, 0.9), "trial", Kind::Trial},
      {0, Period(32, rate, 0.9), "trial", Kind::Trial},
      {0, Period(32, rate, 0.9), "trial", Kind::Trial},
      {0, Period(32, rate, 0.9), "shrank to 16", Kind::GrowthUndone},
      {0, Period(16, rate, 0.8), "kept", Kind::AtCeiling},
      {0, Period(16, rate, 0.8, 0.3), "kept", Kind::NoWork},
      {6, Period(16, rate, 0.8), "shrank to 6", Kind::AtCeiling},
      {0, Period(6, rate, 0.05), "shrank to 4", Kind::Shrink},
      {0, Period(4, rate * 0.9, 0.05), "trial", Kind::Trial},
      {0, Period(4, rate * 0.9, 0.05), "trial", Kind::Trial},
      {0, Period(4, rate * 0.9, 0.05), "trial", Kind::Trial},
      {0, Period(4, rate * 0.9, 0.05), "grew to 6", Kind::ShrinkUndone},
      {0, ReaderSample{}, "kept", Kind::Idle},
  };
  ReaderControl c(2, 1, 64);
  int i = 0;
  for (const auto& step : steps) {
    if (step.bound) c.Bound(step.bound);
    c.Update(step.period);
    const ReaderStep& got = c.Step();
    EXPECT_EQ(got.Decision(), step.decision) << i;
    EXPECT_EQ(got.What, step.what) << i;
    // The reason is one field of a tab-separated line.
    const std::string why = got.Reason();
    EXPECT_FALSE(why.empty()) << i;
    EXPECT_EQ(why.find_first_of("\t\n"), std::string::npos) << i;
    if (step.bound) {
      EXPECT_EQ(why.rfind("memory allows no more than 6 readers", 0), 0u) << why;
    }
    ++i;
  }
  EXPECT_EQ(c.Readers(), 6u);
}

TEST(StatInInodeOrder, OnlyForASeekingDeviceTheReadersWaitFor) {
  // Cold: readers asleep on the device half of the time.
  EXPECT_TRUE(StatInInodeOrder(true, Period(2, 1e5, 0.5), false));
  // Warm: on the processor, or queued for one, the sorting is dropped, and taken up again
  // when they wait.
  EXPECT_FALSE(StatInInodeOrder(true, Period(2, 1e6, 0.02), true));
  EXPECT_FALSE(StatInInodeOrder(true, Period(8, 1e6, 0.02, 1, 0.7), true));
  EXPECT_TRUE(StatInInodeOrder(true, Period(2, 1e5, 0.4), false));
  // A device that does not seek never sorts.
  EXPECT_FALSE(StatInInodeOrder(false, Period(2, 1e5, 0.9), true));
  // A period with hardly any reading says nothing: the choice stays.
  EXPECT_TRUE(StatInInodeOrder(true, Period(2, 10, 0.0, 0.01), true));
  EXPECT_FALSE(StatInInodeOrder(true, Period(2, 10, 0.9, 0.01), false));
}

}  // namespace
}  // namespace kestrum
