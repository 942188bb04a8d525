#include "core/trace/disk_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace kestrum {
namespace {

using test::Slurp;

bool Exists(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

// 2026-12-07 11:02:22 local time.
std::time_t Pinned() {
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 11;
  tm.tm_mday = 7;
  tm.tm_hour = 11;
  tm.tm_min = 2;
  tm.tm_sec = 22;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

struct Fixture : ::testing::Test {
  test::TempDir dir;
  std::string exe = dir.Path() + "/Kestrum";
  DiskFile f{exe};
  void SetUp() override {
    f.SetRaiseErrors(false);
    f.SetClock([] { return Pinned(); });
    f.SetThreadIdSource([] { return 412L; });
  }
  std::string P(const std::string& name) const { return dir.Path() + "/" + name; }
};

using DiskFileTest = Fixture;

TEST_F(DiskFileTest, AutoPathCompletesIntoTheApplicationFolder) {
  EXPECT_EQ(f.AutoPath(".tra"), P("Kestrum.tra"));
  EXPECT_EQ(f.AutoPath("\\logs/run.log"), P("logs/run.log"));
  EXPECT_EQ(f.AutoPath("/var/x.log"), "/var/x.log");
  EXPECT_EQ(f.AutoPath("plain.txt"), "plain.txt");
  DiskFile withExt(dir.Path() + "/tool.bin");
  EXPECT_EQ(withExt.AutoPath(".tra"), P("tool.tra"));
  DiskFile atRoot("/kestrum");
  EXPECT_EQ(atRoot.AutoPath(".tra"), "/kestrum.tra");
  EXPECT_EQ(atRoot.AutoPath("\\a"), "/a");
}

TEST_F(DiskFileTest, ExistenceRulesAndArgumentChecks) {
  EXPECT_FALSE(f.OpenFile(P("missing"), 0, DiskFile::kForWriting));
  EXPECT_EQ(f.LastErrorNumber(), 53);
  EXPECT_EQ(f.LastErrorText(), "File not found");
  EXPECT_FALSE(Exists(P("missing")));

  dir.Write("there", "old\n");
  EXPECT_FALSE(f.OpenFile(P("there"), 1, DiskFile::kForWriting));
  EXPECT_EQ(f.LastErrorNumber(), 58);
  EXPECT_EQ(Slurp(P("there")), "old\n");

  const std::pair<std::array<int, 4>, const char*> bad[] = {
      {{3, 2, 0, 0}, "File Domain is incorrect"},
      {{2, 4, 0, 0}, "File Access is incorrect"},
      {{2, 2, 1, 0}, "File Type is incorrect"},
      {{2, 2, 0, 3}, "File Auto Extension is incorrect"},
      {{2, 1, 0, 0}, "File Access and Domain conflict"},
  };
  for (const auto& [a, text] : bad) {
    EXPECT_FALSE(f.OpenFile(P("x"), a[0], a[1], a[2], a[3]));
    EXPECT_EQ(f.LastErrorNumber(), 54);
    EXPECT_EQ(f.LastErrorText(), text);
    EXPECT_FALSE(f.IsOpen());
  }
  EXPECT_FALSE(Exists(P("x")));
}

TEST_F(DiskFileTest, SecondOpenFailsAndLeavesTheOpenFileAlone) {
  ASSERT_TRUE(f.OpenFile(P("a.log"), 2, DiskFile::kForWriting));
  f.WriteLine("one");
  EXPECT_FALSE(f.OpenFile(P("b.log"), 2, DiskFile::kForWriting));
  EXPECT_EQ(f.LastErrorNumber(), 55);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.FullName(), P("a.log"));
  f.WriteLine("two");
  EXPECT_TRUE(f.CloseFile());
  EXPECT_TRUE(f.CloseFile());
  EXPECT_FALSE(Exists(P("b.log")));
  EXPECT_EQ(Slurp(P("a.log")), "one\ntwo\n");
  // Domain 2 again after closing: accepted, and ForWriting empties it.
  ASSERT_TRUE(f.OpenFile(P("a.log"), 2, DiskFile::kForWriting));
  f.CloseFile();
  EXPECT_EQ(Slurp(P("a.log")), "");
  ASSERT_TRUE(f.OpenFile(P("a.log"), 0, DiskFile::kForAppending));
  f.WriteLine("x");
  f.CloseFile();
  ASSERT_TRUE(f.OpenFile(P("a.log"), 0, DiskFile::kForAppending));
  f.WriteLine("y");
  f.CloseFile();
  EXPECT_EQ(Slurp(P("a.log")), "x\ny\n");
}

TEST_F(DiskFileTest, RaiseErrorsThrowsTheRecordedError) {
  f.SetRaiseErrors(true);
  try {
    f.OpenFile(P("missing"), 0, DiskFile::kForReading);
    FAIL() << "no exception";
  } catch (const DiskFileError& e) {
    EXPECT_EQ(e.Number(), 53);
    EXPECT_EQ(e.Description(), "File not found");
    EXPECT_EQ(e.Source(), "DiskFile.OpenFile");
  }
  EXPECT_EQ(f.LastErrorNumber(), 53);
  EXPECT_THROW(f.WriteLine("closed"), DiskFileError);
  EXPECT_EQ(f.LastErrorNumber(), 52);
  f.ClearError();
  EXPECT_EQ(f.LastErrorNumber(), 0);
  EXPECT_EQ(f.LastErrorText(), "");
}

TEST_F(DiskFileTest, PrefixesAndHeaders) {
  f.AddHeaderLine("H1");
  f.AddHeaderLine("");
  f.SetPrefixSeparator("|");
  ASSERT_TRUE(f.OpenFile(P("p.log"), 2, DiskFile::kForWriting));
  f.WriteLine("bare");  // no date, no thread id: no quotes and no separator either
  f.SetPrefixQuoted(true);
  f.WriteLine("quoted-but-no-prefix");
  f.SetPrefixThreadID(true);
  f.SetPrefixDate(true);
  f.SetPrefixSeparator(", ");
  f.WriteLine("all");
  f.SetPrefixQuoted(false);
  f.SetPrefixSeparator("");
  f.WriteLine("");
  f.CloseFile();
  EXPECT_EQ(Slurp(P("p.log")),
            "H1\n\nbare\nquoted-but-no-prefix\n\"(412)2026-12-07 11:02:22\", all\n"
            "(412)2026-12-07 11:02:22\n");
  // The header is written for every access mode; a file opened for reading cannot take it,
  // so the open fails with the system's error and the object stays closed.
  EXPECT_FALSE(f.OpenFile(P("p.log"), 0, DiskFile::kForReading));
  EXPECT_FALSE(f.IsOpen());
  f.ClearHeader();
  EXPECT_TRUE(f.OpenFile(P("p.log"), 0, DiskFile::kForReading));
}

TEST_F(DiskFileTest, ContinuationAfterOverflow) {
  f.AddHeaderLine("HEAD");
  f.SetFileOverFlow(2);
  f.SetOverFlowSize(20);
  f.SetOverFlowMarker(true);
  ASSERT_TRUE(f.OpenFile(P("K.tra"), 2, DiskFile::kForWriting));
  f.WriteLine("0123456789");  // 16 bytes: under the limit
  f.WriteLine("abcd");        // 21 bytes: written here, then the file continues
  EXPECT_EQ(f.FullName(), P("K.tra.20261207110222"));
  f.WriteLine("next");
  EXPECT_EQ(Slurp(P("K.tra")), "HEAD\n0123456789\nabcd\n");
  const std::string stamped = P("K.tra.20261207110222");
  const std::string marker = "<<Continuation of " + P("K.tra") + " at 2026-12-07 11:02:22>>\n\n";
  // Header and marker alone pass the limit, so "next" continues again, in the same second:
  // the first continuation keeps its content and the next one gets a sequence number.
  EXPECT_EQ(Slurp(stamped), "HEAD\n" + marker + "next\n");
  EXPECT_EQ(f.FullName(), stamped + ".001");
  f.SetFileOverFlow(0);
  f.WriteLine("last");
  f.CloseFile();
  EXPECT_EQ(Slurp(stamped), "HEAD\n" + marker + "next\n");
  EXPECT_EQ(Slurp(stamped + ".001"),
            "HEAD\n<<Continuation of " + stamped + " at 2026-12-07 11:02:22>>\n\nlast\n");
}

TEST_F(DiskFileTest, RestartAfterOverflowAndSizeAtTheLimit) {
  f.AddHeaderLine("HEAD");
  f.SetFileOverFlow(1);
  f.SetOverFlowSize(10);
  ASSERT_TRUE(f.OpenFile(P("r.log"), 2, DiskFile::kForWriting));
  f.WriteLine("1234");  // 5 + 5 = 10 bytes: equal to the limit, no restart
  EXPECT_EQ(Slurp(P("r.log")), "HEAD\n1234\n");
  f.SetOverFlowMarker(true);
  f.WriteLine("x");
  EXPECT_EQ(Slurp(P("r.log")), "HEAD\n<<File restarted at 2026-12-07 11:02:22>>\n\n");
  EXPECT_TRUE(f.IsOpen());
  f.SetOverFlowMarker(false);
  f.SetFileOverFlow(7);  // any other value measures and does nothing
  f.WriteLine("y");
  f.CloseFile();
  EXPECT_EQ(Slurp(P("r.log")), "HEAD\n<<File restarted at 2026-12-07 11:02:22>>\n\ny\n");
}

TEST_F(DiskFileTest, SequenceNumbersIgnoreOtherNamesAndCase) {
  dir.Write("Kestrum.tra.001", "");
  dir.Write("Kestrum.tra.abc", "");
  dir.Write("kestrum.tra.005", "");
  dir.Write("Kestrum.tra.x.009", "");
  dir.Mkdir("Kestrum.tra.050");
  ASSERT_TRUE(f.OpenFile(P("Kestrum.tra"), 1, DiskFile::kForWriting, 0, 2));
  EXPECT_EQ(f.FullName(), P("Kestrum.tra.002"));
  f.CloseFile();
  dir.Write("Kestrum.tra.999", "");
  ASSERT_TRUE(f.OpenFile(P("Kestrum.tra"), 1, DiskFile::kForWriting, 0, 2));
  EXPECT_EQ(f.FullName(), P("Kestrum.tra.1000"));
  f.CloseFile();
  ASSERT_TRUE(f.OpenFile(P("Kestrum.tra"), 1, DiskFile::kForWriting, 0, 1));
  EXPECT_EQ(f.FullName(), P("Kestrum.tra.20261207110222"));
  f.CloseFile();
  // A first open in the same second meets the rule of its domain, not a renamed file.
  EXPECT_FALSE(f.OpenFile(P("Kestrum.tra"), 1, DiskFile::kForWriting, 0, 1));
  EXPECT_EQ(f.LastErrorNumber(), 58);
}

TEST_F(DiskFileTest, BackupBeforeChangeNeverOverwrites) {
  dir.Write("b.log", "first\n");
  f.SetMakeBackup(true);
  ASSERT_TRUE(f.OpenFile(P("b.log"), 0, DiskFile::kForAppending));
  f.WriteLine("new");
  f.CloseFile();
  ASSERT_TRUE(f.OpenFile(P("b.log"), 0, DiskFile::kForWriting));
  f.CloseFile();
  EXPECT_EQ(Slurp(P("b.log.001")), "first\n");
  EXPECT_EQ(Slurp(P("b.log.002")), "new\n");
  EXPECT_EQ(Slurp(P("b.log")), "");
  // Reading never backs up.
  ASSERT_TRUE(f.OpenFile(P("b.log"), 0, DiskFile::kForReading));
  f.CloseFile();
  EXPECT_FALSE(Exists(P("b.log.003")));
}

TEST_F(DiskFileTest, ReadingLinesBytesAndTheRest) {
  dir.Write("in.txt", "l1\r\nl2\nl3");
  ASSERT_TRUE(f.OpenFile(P("in.txt"), 0, DiskFile::kForReading));
  std::string s;
  EXPECT_EQ(f.LineNumber(), 1);
  EXPECT_TRUE(f.ReadLine(s));
  EXPECT_EQ(s, "l1");
  EXPECT_TRUE(f.ReadBytes(s, 2));
  EXPECT_EQ(s, "l2");
  EXPECT_TRUE(f.ReadFile(s));
  EXPECT_EQ(s, "\nl3");
  EXPECT_TRUE(f.Eof());
  EXPECT_FALSE(f.ReadFile(s));
  EXPECT_NE(f.LastErrorNumber(), 0);
  f.CloseFile();

  ASSERT_TRUE(f.OpenFile(P("in.txt"), 0, DiskFile::kForReading));
  ASSERT_TRUE(f.ReadLine(s));
  ASSERT_TRUE(f.ReadLine(s));
  ASSERT_TRUE(f.ReadLine(s));
  EXPECT_EQ(s, "l3");
  s = "kept";
  EXPECT_FALSE(f.ReadLine(s));
  EXPECT_EQ(f.LastErrorNumber(), 62);
  EXPECT_EQ(f.LastErrorText(), "End of file");
  EXPECT_EQ(s, "kept");
  EXPECT_FALSE(f.ReadBytes(s, 1));
  EXPECT_EQ(f.LastErrorNumber(), 62);
  f.SetRaiseErrors(true);
  EXPECT_THROW(f.ReadLine(s), DiskFileError);
  f.CloseFile();
  EXPECT_FALSE(f.Eof());
  EXPECT_EQ(f.LineNumber(), 0);
}

TEST_F(DiskFileTest, VarListsRoundTrip) {
  ASSERT_TRUE(f.OpenFile(P("v.txt"), 2, DiskFile::kForWriting));
  EXPECT_TRUE(f.WriteVar({std::string("abc"), std::int32_t{12}, true}));
  EXPECT_TRUE(f.WriteVar({std::string("x"), VarOther{}, std::int16_t{3}}));
  EXPECT_TRUE(f.WriteVar({VarEmpty{}, 2.5, std::string("a,b")}));
  f.CloseFile();
  EXPECT_EQ(Slurp(P("v.txt")), "\"abc\",12,\"True\"\n\"x\",,3\n\"\",2.5,\"a,b\"\n");

  dir.Write("r.txt", "\"a\",2,,\"c\"\n\"t\",2\n\"q\",7x,\"a,b\",9,10\n");
  ASSERT_TRUE(f.OpenFile(P("r.txt"), 0, DiskFile::kForReading));
  std::vector<Var> v{VarEmpty{}, VarEmpty{}, std::string("keep2"), std::string("keep3")};
  ASSERT_TRUE(f.ReadVar(v));
  EXPECT_EQ(std::get<std::string>(v[0]), "a");
  EXPECT_EQ(std::get<double>(v[1]), 2.0);
  EXPECT_EQ(std::get<std::string>(v[2]), "keep2");
  EXPECT_EQ(std::get<std::string>(v[3]), "keep3");
  std::vector<Var> w{VarEmpty{}, std::string("old")};
  ASSERT_TRUE(f.ReadVar(w));
  EXPECT_EQ(std::get<std::string>(w[1]), "2");
  std::vector<Var> z(4);
  ASSERT_TRUE(f.ReadVar(z));
  EXPECT_EQ(std::get<double>(z[1]), 7.0);
  EXPECT_EQ(std::get<std::string>(z[2]), "a,b");
  EXPECT_EQ(std::get<double>(z[3]), 9.0);
  EXPECT_FALSE(f.ReadVar(z));
  EXPECT_EQ(f.LastErrorNumber(), 62);
  f.CloseFile();
}

TEST_F(DiskFileTest, WholeFileOperations) {
  EXPECT_FALSE(f.PurgeFile());
  EXPECT_EQ(f.LastErrorNumber(), 52);
  EXPECT_EQ(f.LastErrorText(), "File is not open");
  ASSERT_TRUE(f.OpenFile(P("g.log"), 2, DiskFile::kForWriting));
  EXPECT_TRUE(f.PurgeFile());
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(Exists(P("g.log")));
  EXPECT_TRUE(f.OpenFile(P("g.log"), 1, DiskFile::kForWriting));
  f.WriteLine("data");
  EXPECT_EQ(f.FileSize(), 5);
  f.CloseFile();
  EXPECT_EQ(f.FileSize(P("g.log")), 5);
  EXPECT_EQ(f.FileSize(P("nope")), 0);
  EXPECT_NE(f.LastErrorNumber(), 0);

  dir.Write("t.log", "target\n");
  EXPECT_TRUE(f.CopyFile(P("g.log"), P("t.log")));
  EXPECT_EQ(Slurp(P("t.log")), "data\n");
  dir.Write("t.log", "target\n");
  EXPECT_FALSE(f.CopyFile(P("g.log"), P("t.log"), false));
  EXPECT_EQ(Slurp(P("t.log")), "target\n");
  dir.Mkdir("sub");
  EXPECT_TRUE(f.RenameFile("\\g.log", "\\sub/h.log"));
  EXPECT_EQ(Slurp(P("sub/h.log")), "data\n");
  EXPECT_FALSE(Exists(P("g.log")));
  EXPECT_TRUE(f.PurgeFile("\\sub/h.log"));
  EXPECT_FALSE(Exists(P("sub/h.log")));
  EXPECT_TRUE(f.FileExists("\\t.log"));
  EXPECT_FALSE(f.FileExists("\\sub"));
}

TEST_F(DiskFileTest, FileSizeIsSixtyFourBit) {
  const std::string big = dir.Write("big", "");
  ASSERT_EQ(::truncate(big.c_str(), 3LL << 30), 0);
  EXPECT_EQ(f.FileSize(big), 3LL << 30);
  f.SetFileOverFlow(1);
  f.SetOverFlowSize(1000);
  ASSERT_TRUE(f.OpenFile(big, 0, DiskFile::kForAppending));
  f.WriteLine("z");  // past 2 GiB: restarts rather than reading a wrapped negative size
  EXPECT_EQ(f.FileSize(), 0);
  f.CloseFile();
}

TEST(NextToken, SplitsAndHonoursQuotes) {
  std::string found;
  long pos = 1;
  EXPECT_EQ(NextToken("a,,b", pos, ",", found), "a");
  EXPECT_EQ(found, ",");
  EXPECT_EQ(NextToken("a,,b", pos, ",", found), "");
  EXPECT_EQ(NextToken("a,,b", pos, ",", found), "b");
  EXPECT_EQ(found, "");
  EXPECT_EQ(NextToken("a,,b", pos, ",", found), "");
  EXPECT_EQ(pos, 0);
  pos = 1;
  EXPECT_EQ(NextToken("'x;y';z", pos, ";", found, true), "'x;y'");
  EXPECT_EQ(NextToken("'x;y';z", pos, ";", found, true), "z");
  pos = 1;
  EXPECT_EQ(NextToken("'x;y';z", pos, ";", found, false), "'x");
  pos = 3;
  EXPECT_EQ(NextToken("abcdef", pos, "", found), "cdef");
  EXPECT_EQ(pos, 0);
  pos = 1;
  EXPECT_EQ(NextToken("", pos, ",", found), "");
  EXPECT_EQ(pos, 0);
}

TEST(LeadingNumber, TakesTheNumberAtTheStart) {
  EXPECT_EQ(LeadingNumber("  12abc"), 12);
  EXPECT_EQ(LeadingNumber("-2.5e1x"), -25);
  EXPECT_EQ(LeadingNumber("1e"), 1);
  EXPECT_EQ(LeadingNumber("true"), 0);
  EXPECT_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_EQ(LeadingNumber("-"), 0);
}

}  // namespace
}  // namespace kestrum
