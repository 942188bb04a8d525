#include "core/platform/pending_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "support/test_support.h"

namespace kestrum {
namespace {

using test::Names;
using test::Slurp;
using test::TempDir;

void Put(const PendingFile& f, const std::string& text) {
  ASSERT_EQ(::write(f.Fd(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Both ways of keeping the file nameless until it is complete: an unnamed file where the file
// system has them, a named temporary one where it has not.
class PendingFileTest : public ::testing::TestWithParam<bool> {
 protected:
  TempDir dir;
  std::string target = dir.Path() + "/out.zip";
};

TEST_P(PendingFileTest, TakesItsNameOnlyWhenCompleteAndNeverReplaces) {
  {
    PendingFile f;
    ASSERT_EQ(f.Create(dir.Path(), target, GetParam()), 0);
    Put(f, "first");
    // Dropped before it is complete: nothing stays, whichever way it was made.
  }
  EXPECT_TRUE(Names(dir.Path()).empty());

  PendingFile f;
  ASSERT_EQ(f.Create(dir.Path(), target, GetParam()), 0);
  Put(f, "whole");
  EXPECT_EQ(Names(dir.Path()).count("out.zip"), 0u);
  ASSERT_EQ(f.Publish(), 0);
  EXPECT_EQ(Slurp(target), "whole");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"out.zip"});
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  // A file that took the name meanwhile stays as it is.
  PendingFile late;
  ASSERT_EQ(late.Create(dir.Path(), target, GetParam()), 0);
  Put(late, "late");
  EXPECT_EQ(late.Publish(), EEXIST);
  late.Discard();
  EXPECT_EQ(Slurp(target), "whole");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"out.zip"});

  EXPECT_EQ(PendingFile().Create(dir.Path() + "/missing", dir.Path() + "/missing/x", GetParam()),
            ENOENT);
}

INSTANTIATE_TEST_SUITE_P(UnnamedOrNamed, PendingFileTest, ::testing::Bool());

}  // namespace
}  // namespace kestrum
