#pragma once
#include <cstdint>

namespace kestrum {

// What a scan's readers did during one period, summed over the readers that ran.
struct ReaderSample {
  double Seconds = 0;  // length of the period
  double Busy = 0;     // reader-seconds spent reading folders (not waiting for work)
  double OnCpu = 0;    // reader-seconds running on a processor
  double Entries = 0;  // directory entries the readers handled
};

// Decides how many readers a scan keeps, one period at a time.
//
// A reader that is busy (inside a folder) is either on a processor, or off it: asleep in the
// kernel waiting for the device (a cold inode or directory block), or queued for a processor
// that other programs hold. The rules:
//  - Readers that spend much of their busy time off the processor leave work undone that more
//    readers could do: asleep on the device, more of them keep more requests in flight, and a
//    device with a queue (any SSD, most virtual disks) serves them in parallel; queued behind
//    other programs, more of them get a larger share of the processors. So while at least
//    kGrowWait of the busy time is spent off the processor and the readers had work for most
//    of the period, the count doubles.
//  - Whether a growth paid is judged by what actually came out: the entries handled per
//    second over the next kTrialPeriods periods against the kTrialPeriods before. A growth
//    that did not bring kGain is taken back, and that count becomes a ceiling for
//    kCooldownPeriods periods (then probed again, as the tree and the cache change under a
//    scan). This stops a saturated device, a spinning disk whose head only seeks further with
//    more requests, or processors our own readers already fill, from collecting readers that
//    only queue.
//  - Readers that are busy on the processor (less than kShrinkWait off it) gain nothing
//    beyond one per core and only contend: the count goes back toward the cores. Below the
//    cores it rises to them as soon as the readers are busy on the processor, so a warm scan
//    runs on every core.
// Only the number of readers changes; what a scan finds never depends on it.
class ReaderControl {
 public:
  static constexpr double kGrowWait = 0.3;
  static constexpr double kShrinkWait = 0.15;
  static constexpr double kGain = 1.1;
  static constexpr int kTrialPeriods = 4;
  static constexpr int kCooldownPeriods = 40;

  // cores: the processors the readers settle on when busy on them (at least 1); start: the
  // count to begin with; most: the upper bound. All clamped to 1..most.
  ReaderControl(unsigned cores, unsigned start, unsigned most);

  unsigned Readers() const { return readers_; }

  // Takes the sample of the period just ended and returns the readers for the next one.
  unsigned Update(const ReaderSample& s);

 private:
  unsigned cores_;
  unsigned most_;
  unsigned readers_;
  unsigned ceiling_;
  int cooldown_ = 0;
  double recent_[4] = {};  // entries per second of the last periods
  unsigned recentAt_ = 0;

  bool trial_ = false;  // judging the last growth
  unsigned previous_ = 0;
  double before_ = 0;
  int trialPeriods_ = 0;
  double trialEntries_ = 0;
  double trialSeconds_ = 0;
};

// Whether a folder's stat calls go in inode order in the next period. The order helps only a
// device that seeks (seeking, from its flag), and only while the readers wait for it: on a
// warm cache sorting is pure cost. A period in which the readers hardly worked keeps the
// current choice (now).
bool StatInInodeOrder(bool seeking, const ReaderSample& s, bool now);

}  // namespace kestrum
