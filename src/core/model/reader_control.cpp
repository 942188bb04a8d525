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
    lastRate_ = after;
    return readers_;
  }

  const double busy = s.Busy;
  // The readers had work for most of the period: the count, not the tree, limited them.
  const bool hadWork = busy >= 0.6 * readers_ * s.Seconds;
  const double waitShare = busy > 0 ? std::max(0.0, busy - s.OnCpu - s.Queued) / busy : 0;
  const double queueShare = busy > 0 ? s.Queued / busy : 0;
  // The rate before a growth: the mean of this period and the one before smooths out a
  // single folder of unusual size.
  const double baseline = lastRate_ < 0 ? rate : (rate + lastRate_) / 2;
  lastRate_ = rate;

  if (hadWork && waitShare >= kGrowWait && readers_ < ceiling_) {
    previous_ = readers_;
    before_ = baseline;
    readers_ = std::min(ceiling_, readers_ * 2);
    trial_ = true;
    trialPeriods_ = 0;
    trialEntries_ = 0;
    trialSeconds_ = 0;
  } else if (readers_ > cores_ && busy > 0 &&
             (waitShare < kShrinkWait || queueShare >= kShrinkQueue)) {
    readers_ = std::max(cores_, readers_ - std::max(1u, (readers_ - cores_) / 2));
  } else if (readers_ < cores_ && hadWork && waitShare < kGrowWait) {
    readers_ = cores_;
  }
  return readers_;
}

}  // namespace kestrum
