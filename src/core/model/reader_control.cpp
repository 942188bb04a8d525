#include "core/model/reader_control.h"

#include <algorithm>

namespace kestrum {

ReaderControl::ReaderControl(unsigned cores, unsigned start, unsigned most)
    : cores_(std::clamp(cores, 1u, std::max(most, 1u))),
      most_(std::max(most, 1u)),
      readers_(std::clamp(start, 1u, std::max(most, 1u))),
      ceiling_(std::max(most, 1u)) {}

unsigned ReaderControl::Update(const ReaderSample& s) {
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
  };
  if (hadWork && asleepShare >= kGrowWait && readers_ < ceiling_) {
    tryCount(std::min(ceiling_, grown_ ? readers_ * 2 : std::max(readers_ * 2, ColdCount())));
    grown_ = true;
  } else if (readers_ > cores_ && busy > 0 && asleepShare < kShrinkWait) {
    const unsigned fewer = std::max(cores_, readers_ - std::max(1u, (readers_ - cores_) / 2));
    if (fewer >= floor_ && fewer < readers_) tryCount(fewer);
  } else if (readers_ < cores_ && hadWork && asleepShare < kGrowWait) {
    readers_ = cores_;
  }
  return readers_;
}

void ReaderControl::Cap(unsigned most) {
  most_ = std::clamp(most, 1u, most_);
  ceiling_ = std::min(ceiling_, most_);
  readers_ = std::min(readers_, most_);
  previous_ = std::min(previous_, most_);
  floor_ = std::min(floor_, most_);
}

unsigned ReaderControl::ColdCount() const { return std::min(most_, std::max(16u, 4 * cores_)); }

bool StatInInodeOrder(bool seeking, const ReaderSample& s, bool now) {
  if (!seeking) return false;
  if (s.Busy <= 0.1 * s.Seconds) return now;
  return (s.Busy - s.OnCpu - s.Queued) / s.Busy >= ReaderControl::kShrinkWait;
}

}  // namespace kestrum
