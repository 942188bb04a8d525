#pragma once
// What the window benchmarks share: an application that times every event the window thread
// handles.
#include <QApplication>
#include <QElapsedTimer>
#include <time.h>

#include <algorithm>
#include <string>

namespace kestrum {

// The calling thread's processor time, in milliseconds.
inline double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Times every event the window thread handles while Timing is set; the longest is kept, by
// the clock (which counts time the thread waited for a processor on a busy machine too) and
// by the thread's own processor time.
class TimedApp : public QApplication {
 public:
  using QApplication::QApplication;
  bool Timing = false;
  double Longest = 0;
  double LongestCpu = 0;  // the same, counting only the thread's own running time
  std::string What;  // the longest event's receiver and type
  bool notify(QObject* to, QEvent* e) override {
    if (!Timing || depth_ > 0) return QApplication::notify(to, e);
    ++depth_;
    QElapsedTimer t;
    t.start();
    const double cpu0 = ThreadCpuMs();
    const int type = e->type();  // e may be gone after it is handled
    const char* kind = to->metaObject()->className();
    const bool done = QApplication::notify(to, e);
    LongestCpu = std::max(LongestCpu, ThreadCpuMs() - cpu0);
    if (t.nsecsElapsed() / 1e6 > Longest) {
      Longest = t.nsecsElapsed() / 1e6;
      What = std::string(kind) + " event " + std::to_string(type);
    }
    --depth_;
    return done;
  }

 private:
  int depth_ = 0;
};

}  // namespace kestrum
