#include "core/scan/reader_control.h"

#include <algorithm>
#include <cmath>

namespace kestrum {

ReaderControl::ReaderControl(unsigned cores, unsigned start, unsigned most)
    : cores_(std::clamp(cores, 1u, std::max(most, 1u))),
      most_(std::max(most, 1u)),
      bound_(most_),
      readers_(std::clamp(start, 1u, std::max(most, 1u))),
      ceiling_(std::max(most, 1u)) {}

unsigned ReaderControl::Update(const ReaderSample& s) {
  readers_ = std::min(Decide(s), bound_);
  return readers_;
}

unsigned ReaderControl::Decide(const ReaderSample& s) {
  if (s.Seconds <= 0) return readers_;
  const double rate = s.Entries / s.Seconds;
  if (cooldown_ > 0 && --cooldown_ == 0) {
    ceiling_ = most_;
    floor_ = 1;
  }
  // The rate before a change: the mean of the last periods smooths out single folders of
  // unusual size.
  recent_[recentAt_++ % kTrialPeriods] = rate;
  double baseline = 0;
  const auto known = std::min<unsigned>(recentAt_, kTrialPeriods);
  for (unsigned i = 0; i < known; ++i) baseline += recent_[i];
  baseline /= known;

  if (trial_) {
    trialEntries_ += s.Entries;
    trialSeconds_ += s.Seconds;
    if (++trialPeriods_ < kTrialPeriods) return readers_;
    trial_ = false;
    const double after = trialEntries_ / trialSeconds_;
    if (readers_ > previous_ && after < before_ * kGain) {
      // More readers brought too little: back, and no higher for a while.
      readers_ = previous_;
      ceiling_ = previous_;
      cooldown_ = kCooldownPeriods;
    } else if (readers_ < previous_ && after < before_ * kKeepShrink) {
      // Fewer readers lost entries: back, and no lower for a while.
      readers_ = previous_;
      floor_ = previous_;
      cooldown_ = kCooldownPeriods;
    }
    return readers_;
  }

  const double busy = s.Busy;
  // The readers had work for most of the period: the count, not the tree, limited them.
  const bool hadWork = busy >= 0.6 * readers_ * s.Seconds;
  // Busy time neither on a processor nor queued for one: asleep, waiting for the device.
  const double asleep = std::max(0.0, busy - s.OnCpu - s.Queued);
  const double asleepShare = busy > 0 ? asleep / busy : 0;
  auto tryCount = [&](unsigned n) {
    previous_ = readers_;
    before_ = baseline;
    readers_ = n;
    trial_ = true;
    trialPeriods_ = 0;
    trialEntries_ = 0;
    trialSeconds_ = 0;
    steady_ = 0;
    steadyAsleep_ = 0;
  };
  ++steady_;
  steadyAsleep_ += asleepShare;
  const unsigned highest = std::min(ceiling_, bound_);
  if (hadWork && asleepShare >= kGrowWait && readers_ < highest) {
    // Straight to the cold count only at the scan's start: later, a stretch of sleep in a
    // warm scan (a branch the cache lost) is more likely short, and sixteen readers on a
    // warm cache would take a dozen periods to shrink back.
    // (A growth's trial takes kTrialPeriods periods, so only one can start this early.)
    const bool start = recentAt_ <= kTrialPeriods;
    tryCount(std::min(highest, start ? std::max(readers_ * 2, ColdCount()) : readers_ * 2));
  } else if (readers_ > cores_ && busy > 0 && asleepShare < kShrinkWait) {
    const unsigned fewer = std::max(cores_, readers_ - std::max(1u, (readers_ - cores_) / 2));
    if (fewer >= floor_ && fewer < readers_) tryCount(fewer);
  } else if (readers_ < cores_ && hadWork && asleepShare < kGrowWait) {
    readers_ = cores_;
  } else if (hadWork && readers_ < highest && steady_ >= kCooldownPeriods &&
             steadyAsleep_ / steady_ >= kProbeWait) {
    // Readers that sleep a little, period after period, may be held back by the count, or
    // not: where a hypervisor shows waiting for the host's disk as running, only more readers
    // tell. A trial does, now and then.
    tryCount(std::min(highest, readers_ * 2));
  }
  return readers_;
}

void ReaderControl::Bound(unsigned n) {
  bound_ = std::clamp(n, 1u, most_);
  readers_ = std::min(readers_, bound_);
}

unsigned ReaderControl::ColdCount() const { return std::min(most_, std::max(16u, 4 * cores_)); }

void RecordEstimate::Filed(std::size_t bytes, std::int64_t listing) {
  largestRecord_ = std::max(largestRecord_, bytes);
  if (listing < kLearnFromListing) return;
  const double ratio = static_cast<double>(bytes) / static_cast<double>(listing);
  perListing_ = std::max(perListing_.value_or(0.0), ratio);
}

std::size_t RecordEstimate::Largest() const {
  return std::max(largestRecord_, static_cast<std::size_t>(perListing_.value_or(2.0) *
                                                           static_cast<double>(largestListing_)));
}

unsigned MemoryBound(std::size_t resident, std::size_t target, std::size_t perReader,
                     unsigned readers, unsigned cores) {
  const double room = static_cast<double>(target) - static_cast<double>(resident);
  const double n =
      readers + std::floor(room / static_cast<double>(std::max<std::size_t>(perReader, 1)));
  if (n <= cores) return std::max(cores, 1u);
  return n >= 1e6 ? 1000000u : static_cast<unsigned>(n);
}

bool StatInInodeOrder(bool seeking, const ReaderSample& s, bool now) {
  if (!seeking) return false;
  if (s.Busy <= 0.1 * s.Seconds) return now;
  return (s.Busy - s.OnCpu - s.Queued) / s.Busy >= ReaderControl::kShrinkWait;
}

}  // namespace kestrum
