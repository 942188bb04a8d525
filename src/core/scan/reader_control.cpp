#include "core/scan/reader_control.h"

#include <algorithm>
#include <cmath>

#include "core/platform/numbers.h"

namespace kestrum {

ReaderControl::ReaderControl(unsigned cores, unsigned start, unsigned most)
    : cores_(std::clamp(cores, 1u, std::max(most, 1u))),
      most_(std::max(most, 1u)),
      bound_(most_),
      readers_(std::clamp(start, 1u, std::max(most, 1u))),
      ran_(readers_),
      ceiling_(std::max(most, 1u)) {}

unsigned ReaderControl::Update(const ReaderSample& s) {
  step_ = ReaderStep{};
  step_.From = ran_;
  const unsigned decided = Decide(s);
  readers_ = std::min(decided, bound_);
  step_.To = readers_;
  step_.Bounded = readers_ < decided || (cutByBound_ && readers_ < ran_);
  cutByBound_ = false;
  ran_ = readers_;
  return readers_;
}

unsigned ReaderControl::Decide(const ReaderSample& s) {
  using Kind = ReaderStep::Kind;
  if (s.Seconds <= 0) {
    step_.What = Kind::Idle;
    return readers_;
  }
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
    step_.Period = trialPeriods_ + 1;
    if (++trialPeriods_ < kTrialPeriods) {
      step_.What = Kind::Trial;
      return readers_;
    }
    trial_ = false;
    const double after = trialEntries_ / trialSeconds_;
    step_.Ratio = before_ > 0 ? after / before_ : 0;
    step_.What = Kind::TrialKept;
    if (readers_ > previous_ && after < before_ * kGain) {
      // More readers brought too little: back, and no higher for a while.
      readers_ = previous_;
      ceiling_ = previous_;
      cooldown_ = kCooldownPeriods;
      step_.What = Kind::GrowthUndone;
      step_.Limit = ceiling_;
    } else if (readers_ < previous_ && after < before_ * kKeepShrink) {
      // Fewer readers lost entries: back, and no lower for a while.
      readers_ = previous_;
      floor_ = previous_;
      cooldown_ = kCooldownPeriods;
      step_.What = Kind::ShrinkUndone;
      step_.Limit = floor_;
    }
    return readers_;
  }

  const double busy = s.Busy;
  // The readers had work for most of the period: the count, not the tree, limited them.
  const bool hadWork = busy >= 0.6 * readers_ * s.Seconds;
  // Busy time neither on a processor nor queued for one: asleep, waiting for the device.
  const double asleep = std::max(0.0, busy - s.OnCpu - s.Queued);
  const double asleepShare = busy > 0 ? asleep / busy : 0;
  step_.Asleep = asleepShare;
  step_.Work = busy / (ran_ * s.Seconds);
  auto tryCount = [&](unsigned n, Kind why) {
    previous_ = readers_;
    before_ = baseline;
    readers_ = n;
    trial_ = true;
    trialPeriods_ = 0;
    trialEntries_ = 0;
    trialSeconds_ = 0;
    steady_ = 0;
    steadyAsleep_ = 0;
    step_.What = why;
  };
  ++steady_;
  steadyAsleep_ += asleepShare;
  const unsigned highest = std::min(ceiling_, bound_);
  step_.What = hadWork ? Kind::Steady : Kind::NoWork;
  if (hadWork && asleepShare >= kGrowWait && readers_ < highest) {
    // Straight to the cold count only at the scan's start: later, a stretch of sleep in a
    // warm scan (a branch the cache lost) is more likely short, and sixteen readers on a
    // warm cache would take a dozen periods to shrink back.
    // (A growth's trial takes kTrialPeriods periods, so only one can start this early.)
    const bool start = recentAt_ <= kTrialPeriods;
    const unsigned cold = std::max(readers_ * 2, ColdCount());
    tryCount(std::min(highest, start ? cold : readers_ * 2),
             start && cold > readers_ * 2 ? Kind::ColdGrowth : Kind::Growth);
  } else if (readers_ > cores_ && busy > 0 && asleepShare < kShrinkWait) {
    const unsigned fewer = std::max(cores_, readers_ - std::max(1u, (readers_ - cores_) / 2));
    if (fewer >= floor_ && fewer < readers_) {
      tryCount(fewer, Kind::Shrink);
    } else {
      step_.What = Kind::AtFloor;
      step_.Limit = floor_;
    }
  } else if (readers_ < cores_ && hadWork && asleepShare < kGrowWait) {
    readers_ = cores_;
    step_.What = Kind::ToCores;
  } else if (hadWork && readers_ < highest && steady_ >= kCooldownPeriods &&
             steadyAsleep_ / steady_ >= kProbeWait) {
    // Readers that sleep a little, period after period, may be held back by the count, or
    // not: where a hypervisor shows waiting for the host's disk as running, only more readers
    // tell. A trial does, now and then.
    step_.Asleep = steadyAsleep_ / steady_;
    tryCount(std::min(highest, readers_ * 2), Kind::Probe);
  } else if (hadWork && asleepShare >= kGrowWait) {
    step_.What = Kind::AtCeiling;
    step_.Limit = highest;
  }
  return readers_;
}

void ReaderControl::Bound(unsigned n) {
  bound_ = std::clamp(n, 1u, most_);
  if (readers_ > bound_) cutByBound_ = true;
  readers_ = std::min(readers_, bound_);
}

namespace {

// Whole percent, rounded down: a share below a threshold never reads as the threshold.
std::string Percent(double share) {
  return std::to_string(static_cast<int>(std::floor(share * 100))) + "%";
}

std::string Times(double x) { return FixedText(x, 2); }

}  // namespace

std::string ReaderStep::Decision() const {
  if (To > From) return "grew to " + std::to_string(To);
  if (To < From) return "shrank to " + std::to_string(To);
  return What == Kind::Trial ? "trial" : "kept";
}

std::string ReaderStep::Reason() const {
  const std::string n = std::to_string(To);
  const std::string trial =
      ", on trial for " + std::to_string(ReaderControl::kTrialPeriods) + " periods";
  std::string why;
  switch (What) {
    case Kind::Idle:
      why = "the period had no length";
      break;
    case Kind::Trial:
      why = "period " + std::to_string(Period) + " of " +
            std::to_string(ReaderControl::kTrialPeriods) + " of the trial at " +
            std::to_string(From) + " readers";
      break;
    case Kind::TrialKept:
      why = "the trial brought " + Times(Ratio) + " times the rate before it";
      break;
    case Kind::GrowthUndone:
      why = "the trial at " + std::to_string(From) + " readers brought " + Times(Ratio) +
            " times the rate before it, below " + Times(ReaderControl::kGain) + "; at most " +
            std::to_string(Limit) + " for " + std::to_string(ReaderControl::kCooldownPeriods) +
            " periods";
      break;
    case Kind::ShrinkUndone:
      why = "the trial at " + std::to_string(From) + " readers brought " + Times(Ratio) +
            " times the rate before it, below " + Times(ReaderControl::kKeepShrink) +
            "; at least " + std::to_string(Limit) + " for " +
            std::to_string(ReaderControl::kCooldownPeriods) + " periods";
      break;
    case Kind::Growth:
      why = Percent(Asleep) + " of the busy time asleep on the device (" +
            Percent(ReaderControl::kGrowWait) + " grows), with work for " + Percent(Work) +
            " of the period" + trial;
      break;
    case Kind::ColdGrowth:
      why = Percent(Asleep) + " of the busy time asleep on the device (" +
            Percent(ReaderControl::kGrowWait) + " grows) at the scan's start: straight to the " +
            "cold count" + trial;
      break;
    case Kind::Shrink:
      why = "only " + Percent(Asleep) + " of the busy time asleep (below " +
            Percent(ReaderControl::kShrinkWait) + "), more readers than cores" + trial;
      break;
    case Kind::ToCores:
      why = "fewer readers than cores with work for " + Percent(Work) + " of the period, " +
            Percent(Asleep) + " of the busy time asleep";
      break;
    case Kind::Probe:
      why = "a probe: " + Percent(Asleep) + " of the busy time asleep on average since the last " +
            "change (" + Percent(ReaderControl::kProbeWait) + " probes)" + trial;
      break;
    case Kind::NoWork:
      why = "work for only " + Percent(Work) + " of the period: the tree, not the count, held " +
            "the readers back";
      break;
    case Kind::AtCeiling:
      why = Percent(Asleep) + " of the busy time asleep, but " + std::to_string(Limit) +
            " is the most for now";
      break;
    case Kind::AtFloor:
      why = "only " + Percent(Asleep) + " of the busy time asleep, but " + std::to_string(Limit) +
            " is the floor for now";
      break;
    case Kind::Steady:
      why = Percent(Asleep) + " of the busy time asleep, work for " + Percent(Work) +
            " of the period: nothing calls for a change";
      break;
  }
  if (Bounded) why = "memory allows no more than " + n + " readers; " + why;
  return why;
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
