#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrum {

// What a scan's readers did during one period, summed over the readers that ran.
struct ReaderSample {
  double Seconds = 0;  // length of the period
  double Busy = 0;     // reader-seconds spent reading folders (not waiting for work)
  double OnCpu = 0;    // reader-seconds running on a processor
  double Queued = 0;   // reader-seconds runnable, waiting for a processor
  double Entries = 0;  // directory entries the readers handled
};

// What the controller decided after one period, and the figures it decided on: the count it
// came from and went to, and why. Recorded for every period at the cost of a few stores;
// worded only for the scan log (KESTRUM_SCAN_LOG).
struct ReaderStep {
  enum class Kind : std::uint8_t {
    Idle,          // a period of no length: nothing to judge
    Trial,         // a change is being judged: period Period of kTrialPeriods
    TrialKept,     // the change judged brought what it had to (Ratio of the rate before)
    GrowthUndone,  // more readers brought too little: back, and Limit the ceiling for a while
    ShrinkUndone,  // fewer readers lost entries: back, and Limit the floor for a while
    Growth,        // asleep on the device with work: more readers, on trial
    ColdGrowth,    // the same at the scan's start: straight to the cold count
    Shrink,        // hardly asleep above the cores: fewer readers, on trial
    ToCores,       // below the cores with work, not mostly asleep: up to the cores
    Probe,         // asleep a little, period after period: doubled, on trial
    NoWork,        // the readers had work for too little of the period to judge the count
    AtCeiling,     // more readers would have been tried, but Limit is the most for now
    AtFloor,       // fewer readers would have been tried, but Limit is the floor for now
    Steady,        // nothing calls for a change
  };
  Kind What = Kind::Steady;
  unsigned From = 0;     // the readers of the period
  unsigned To = 0;       // the readers of the next one
  unsigned Limit = 0;    // the ceiling or floor that held (AtCeiling, AtFloor, ...Undone)
  int Period = 0;        // Trial: which period of the trial this was, from 1
  double Asleep = 0;     // share of the busy time asleep (Probe: its mean since the last change)
  double Work = 0;       // share of the period the readers had work
  double Ratio = 0;      // trials: the rate during the trial over the rate before it
  bool Bounded = false;  // memory's bound cut the count to To

  // "kept", "trial", "grew to N" or "shrank to N".
  std::string Decision() const;
  // Why, in words and figures, on one line without tabs.
  std::string Reason() const;
};

// Decides how many readers a scan keeps, one period at a time.
//
// A reader that is busy (inside a folder) is in one of three states, which the scheduler's figures
// tell apart (the time on a processor from the reader's CPU-time clock, exact even while it runs;
// the time queued from its schedstat): on a processor; runnable but queued for one (our other
// readers, or other programs, hold them all); or asleep, which for a reader is waiting for the
// device (a cold inode or directory block; a lock of ours is held only for moments). Only sleep
// says that more readers would find more to do: they keep more requests in flight, and a device
// with a queue (any SSD, most virtual disks) serves them in parallel. Queued time says the
// opposite: the processors are the limit, and more readers only queue longer. So a warm cache
// cannot pass for a slow device (its readers never sleep, however many queue), nor a slow device
// for a warm cache (its readers sleep, however few run).
//  - Growth: while at least kGrowWait of the busy time is asleep and the readers had work
//    for most of the period, the count grows. A growth in the scan's first kTrialPeriods
//    periods goes straight to the cold count (sixteen, or four per core), not by doubling: a
//    cold scan gains most in its first second, and doubling from one or two, with a trial at
//    each step, spent a third of a second or more below the device's speed. Later growths
//    double: a warm scan that meets a branch the cache lost would otherwise run sixteen
//    readers on a warm cache until a dozen periods shrank them back.
//  - Readers above the cores that hardly sleep (less than kShrinkWait of their busy time:
//    on a processor or queued for one, as on a warm cache) are halved back toward the cores.
//    Below the cores the count rises to them as soon as the readers have work and are not
//    mostly asleep, so a warm scan runs on every core.
//  - Readers that sleep a little, period after period (kProbeWait of their busy time on
//    average since the count last changed, over kCooldownPeriods or more), are tried doubled:
//    between the thresholds above nothing else would ever add a reader, and where waiting
//    for the host's disk shows as running, a few more readers may still pay. A warm cache,
//    whose readers hardly sleep at all, is never probed.
//  - Memory bounds the count from outside (Bound): it drops at once and grows no further
//    while memory is short, and may grow again when it is not.
//  - Every growth and every shrink is a trial, judged by what actually came out: the entries
//    handled per second over the next kTrialPeriods periods against the kTrialPeriods
//    before. A growth that did not bring kGain, or a shrink that lost more than 1 -
//    kKeepShrink (on a cold device fewer readers lose a little at each step), is taken back,
//    and the count it came from becomes a ceiling (or a floor) for kCooldownPeriods periods,
//    then probed again: the tree and the cache change under a scan, and one unlucky trial
//    must not hold a cold scan back for long. This stops a saturated device, or a spinning
//    disk whose head only seeks further with more requests, from collecting readers that
//    only queue; and where the scheduler's figures mislead (in a virtual machine, a reader
//    waiting for the host's disk may count as running), the rate still decides.
// Only the number of readers changes; what a scan finds never depends on it.
class ReaderControl {
 public:
  static constexpr double kGrowWait = 0.3;
  static constexpr double kShrinkWait = 0.15;
  static constexpr double kProbeWait = 0.08;
  static constexpr double kGain = 1.1;
  static constexpr double kKeepShrink = 0.97;
  static constexpr int kTrialPeriods = 4;
  static constexpr int kCooldownPeriods = 12;

  // cores: the processors the readers settle on when busy on them (at least 1); start: the
  // count to begin with; most: the upper bound. All clamped to 1..most.
  ReaderControl(unsigned cores, unsigned start, unsigned most);

  unsigned Readers() const { return readers_; }
  // Where the first growth of a scan goes.
  unsigned ColdCount() const;

  // The most readers allowed for now (at least 1; never above the upper bound), as memory
  // allows: lowers the count at once when it is above, and may rise again later.
  void Bound(unsigned n);

  // The bound in force (Bound's, or the upper bound).
  unsigned BoundNow() const { return bound_; }

  // Takes the sample of the period just ended and returns the readers for the next one.
  unsigned Update(const ReaderSample& s);
  // What the last Update decided, and why.
  const ReaderStep& Step() const { return step_; }

 private:
  unsigned Decide(const ReaderSample& s);
  unsigned cores_;
  unsigned most_;
  unsigned bound_;  // most_, or less while memory is short
  unsigned readers_;
  unsigned ran_;             // the readers of the period running now
  bool cutByBound_ = false;  // Bound lowered the count during this period
  ReaderStep step_;
  unsigned ceiling_;
  unsigned floor_ = 1;
  int cooldown_ = 0;
  int steady_ = 0;           // periods since the count last changed, trials left out
  double steadyAsleep_ = 0;  // the sum of their shares of busy time asleep
  double recent_[4] = {};    // entries per second of the last periods
  unsigned recentAt_ = 0;

  bool trial_ = false;  // judging the last change, from previous_
  unsigned previous_ = 0;
  double before_ = 0;
  int trialPeriods_ = 0;
  double trialEntries_ = 0;
  double trialSeconds_ = 0;
};

// How large a record the scan's readers may hold at once: each reader holds the record of the
// folder it reads, which it cannot know before reading it. A folder's listing size is known
// from its parent's stat, and large folders teach how many record bytes a listing byte
// becomes (at most about two, where every file may enter the largest list or has several
// names; far less once the list's smallest file keeps most out).
class RecordEstimate {
 public:
  // Folders whose listing takes at least this much teach; in smaller ones a few long names
  // decide it.
  static constexpr std::int64_t kLearnFromListing = 64 * 1024;
  // A folder whose listing takes `listing` bytes is known.
  void Met(std::int64_t listing) { largestListing_ = std::max(largestListing_, listing); }
  // A folder whose listing takes `listing` bytes was read into a record of `bytes`.
  void Filed(std::size_t bytes, std::int64_t listing);
  // The largest record filed, or the largest folder met as a record at the most record bytes
  // per listing byte learnt (two until a large folder is filed), whichever is more.
  std::size_t Largest() const;

 private:
  std::size_t largestRecord_ = 0;
  std::int64_t largestListing_ = 0;
  std::optional<double> perListing_;
};

// How many readers the memory allows: the readers running now, plus (or minus) as many as
// the room between the process's resident bytes and target holds readers of perReader bytes
// each; never fewer than cores. A scan bounds its readers by this so that its peak memory
// counts what the process already holds (a hard-link table, the folders made), not only the
// folders being read.
unsigned MemoryBound(std::size_t resident, std::size_t target, std::size_t perReader,
                     unsigned readers, unsigned cores);

// Whether a folder's stat calls go in inode order in the next period. The order helps only a
// device that seeks (seeking, from its flag), and only while the readers wait for it: on a
// warm cache sorting is pure cost. A period in which the readers hardly worked keeps the
// current choice (now).
bool StatInInodeOrder(bool seeking, const ReaderSample& s, bool now);

}  // namespace kestrum
