// KESTRUM_SCAN_LOG: what a scan writes of its periods, checked by its form, never its timing.
#include "core/scan/scan_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

// Names the log for the scans run while it lives.
struct LogVariable {
  explicit LogVariable(const std::string& path) { ::setenv("KESTRUM_SCAN_LOG", path.c_str(), 1); }
  ~LogVariable() { ::unsetenv("KESTRUM_SCAN_LOG"); }
};

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
  return out;
}

// Checks one period's line; returns its decision.
std::string CheckPeriod(const std::string& line) {
  const std::vector<std::string> f = Fields(line);
  EXPECT_EQ(f.size(), 9u) << line;
  if (f.size() != 9) return {};
  double v[7];
  for (int i = 0; i < 7; ++i) {
    char* end = nullptr;
    v[i] = std::strtod(f[i].c_str(), &end);
    EXPECT_TRUE(!f[i].empty() && *end == 0) << "field " << i << " of " << line;
  }
  EXPECT_GE(v[0], 0) << line;  // seconds
  EXPECT_GE(v[1], 1) << line;  // readers
  EXPECT_GE(v[2], 0) << line;  // entries per second
  for (int i = 3; i < 6; ++i) {
    EXPECT_GE(v[i], 0) << line;
    EXPECT_LE(v[i], 1) << line;
  }
  EXPECT_GE(v[6], 1) << line;  // memory bound
  EXPECT_TRUE(std::regex_match(f[7], std::regex("kept|trial|fixed|(grew|shrank) to [0-9]+")))
      << line;
  EXPECT_FALSE(f[8].empty()) << line;
  return f[7];
}

bool Scan(const std::string& root, ScanOptions o, DiskObject& drive) {
  drive.Class = ObjectClass::Drive;
  drive.SetPath(root);
  drive.DriveForChange().RootFolder = root + "/";
  drive.DriveForChange().AllocationUnit = 4096;
  std::int32_t keys = 0;
  Scanning = true;
  const bool ok = ScanDrive(drive, keys, o);
  Scanning = false;
  return ok;
}

void SmallTree(const TempDir& t) {
  for (int i = 0; i < 20; ++i)
    t.Write("tree/d" + std::to_string(i % 5) + "/f" + std::to_string(i), "x");
}

TEST(ScanLog, EachScanAppendsItsHeaderAndFixedCountsSayTheyAreFixed) {
  TempDir t;
  SmallTree(t);
  const std::string log = t.Path() + "/scan.log";
  LogVariable named(log);
  for (int run = 0; run < 2; ++run) {
    ScanOptions o;
    o.Threads = 2;
    DiskObject drive;
    EXPECT_TRUE(Scan(t.Path() + "/tree", o, drive));
    EXPECT_EQ(drive.DiskObjects().Count(), 6u);
  }
  std::vector<std::string> headers;
  for (const std::string& line : ReadLines(log)) {
    if (line == ScanLog::kHeader)
      headers.push_back(line);
    else
      EXPECT_EQ(CheckPeriod(line), "fixed");
  }
  EXPECT_EQ(headers.size(), 2u);
  EXPECT_EQ(ReadLines(log).front(), ScanLog::kHeader);
}

// Holds the reading of one folder until the log has `lines` lines, so that the scan lasts a
// few periods on any machine.
class HeldReader : public DirectoryReader {
 public:
  HeldReader(std::string log, std::size_t lines) : log_(std::move(log)), lines_(lines) {}
  int OpenAt(int dirFd, const char* name) override {
    if (std::string(name) == "held") {
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (ReadLines(log_).size() < lines_ && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return DirectoryReader::OpenAt(dirFd, name);
  }

 private:
  const std::string log_;
  const std::size_t lines_;
};

TEST(ScanLog, AnAdaptiveScanWritesOneLinePerPeriod) {
  TempDir t;
  SmallTree(t);
  t.Write("tree/held/f", "abc");
  const std::string log = t.Path() + "/scan.log";
  LogVariable named(log);
  auto reader = std::make_shared<HeldReader>(log, 4);
  ScanOptions o;
  o.SharedReader = reader;
  DiskObject drive;
  ASSERT_TRUE(AdaptiveScanThreads(o));
  EXPECT_TRUE(Scan(t.Path() + "/tree", o, drive));
  EXPECT_EQ(drive.DiskObjects().Count(), 7u);
  const std::vector<std::string> lines = ReadLines(log);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], ScanLog::kHeader);
  double last = -1;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(CheckPeriod(lines[i]), "fixed");
    const double seconds = std::strtod(lines[i].c_str(), nullptr);
    EXPECT_GE(seconds, last) << lines[i];
    last = seconds;
  }
}

TEST(ScanLog, ALogThatCannotBeWrittenLeavesTheScanAlone) {
  TempDir t;
  SmallTree(t);
  LogVariable named(t.Path() + "/no/such/folder/scan.log");
  EXPECT_EQ(ScanLog::FromEnvironment(), nullptr);
  for (const unsigned threads : {0u, 2u}) {
    ScanOptions o;
    o.Threads = threads;
    DiskObject drive;
    EXPECT_TRUE(Scan(t.Path() + "/tree", o, drive));
    EXPECT_EQ(drive.DiskObjects().Count(), 6u);
  }
}

}  // namespace
}  // namespace kestrum
