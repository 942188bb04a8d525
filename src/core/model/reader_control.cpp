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
  if (cooldown_ > 0 && --cooldown_ == 0) ceiling_ = most_;
  // The rate before a growth: the mean of the last periods smooths out single folders of
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
    if (after < before_ * kGain) {
      readers_ = previous_;
      ceiling_ = previous_;
      cooldown_ = kCooldownPeriods;
    }
    return readers_;
  }

  const double busy = s.Busy;
  // The readers had work for most of the period: the count, not the tree, limited them.
  const bool hadWork = busy >= 0.6 * readers_ * s.Seconds;
  // Busy time not spent on a processor: asleep on the device, or queued for a processor that
  // other work holds.
  const double offCpuShare = busy > 0 ? std::max(0.0, busy - s.OnCpu) / busy : 0;
  if (hadWork && offCpuShare >= kGrowWait && readers_ < ceiling_) {
    previous_ = readers_;
    before_ = baseline;
    readers_ = std::min(ceiling_, readers_ * 2);
    trial_ = true;
    trialPeriods_ = 0;
    trialEntries_ = 0;
    trialSeconds_ = 0;
  } else if (readers_ > cores_ && busy > 0 && offCpuShare < kShrinkWait) {
    readers_ = std::max(cores_, readers_ - std::max(1u, (readers_ - cores_) / 2));
  } else if (readers_ < cores_ && hadWork && offCpuShare < kGrowWait) {
    readers_ = cores_;
  }
  return readers_;
}

bool StatInInodeOrder(bool seeking, const ReaderSample& s, bool now) {
  if (!seeking) return false;
  if (s.Busy <= 0.1 * s.Seconds) return now;
  return (s.Busy - s.OnCpu) / s.Busy >= ReaderControl::kShrinkWait;
}

}  // namespace kestrum
