#include "core/presenter/search_results.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/rows/list_cells.h"
#include "core/presenter/saved_scans.h"
#include "core/saved/json_export.h"
#include "listing_fixture.h"

namespace kestrum {
namespace {

// A scanned drive of known files, and a saved scan of an older state of it opened beside.
struct FindWorld {
  test::ListingWorld w{[](const test::TempDir& d, const std::string& drive) {
    d.Write("drive/logs/big.log", std::string(9000, 'x'));
    d.Write("drive/logs/small.log", "12");
    d.Write("drive/photo.JPG", std::string(5000, 'p'));
    d.Write("drive/notes.txt", std::string(300, 'n'));
    ::link((drive + "/notes.txt").c_str(), (drive + "/logs/notes-link.txt").c_str());
    // A file of a megabyte holding no data: sparse.
    const int fd = ::open((drive + "/hole.img").c_str(), O_CREAT | O_WRONLY, 0644);
    EXPECT_EQ(::ftruncate(fd, 1 << 20), 0);
    ::close(fd);
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};  // 2001
    ::utimensat(AT_FDCWD, (drive + "/logs/small.log").c_str(), times, 0);
  }};
  DiskObject* saved = nullptr;

  FindWorld() {
    const std::string text = test::SavedScanText(w.drivePath);
    w.Run([&] { ImportScans(*w.p, {w.dir.Write("old.json", text)}); });
    for (const auto& d : *w.p->DiskList())
      if (d->Class == ObjectClass::Import) saved = d.get();
  }
  void Find(const SearchForm& form) {
    w.view.searchAnswer = form;
    w.Run([&] { w.p->MenuClick("mnuFileFind"); });
  }
  void Select(const std::string& text) {
    for (std::size_t i = 1; i <= w.List().Count(); ++i)
      w.p->List().SetSelected(i, w.List().Rows()[i - 1].Text == text);
  }
  NodeId LastRootChild() { return w.Ex().Node(w.Root())->Kids.back(); }
};

SearchForm Everywhere(std::string name, NameMatcher::Mode mode = NameMatcher::Mode::Plain) {
  SearchForm f;
  f.Name = std::move(name);
  f.Mode = mode;
  f.Everywhere = true;
  return f;
}

TEST(SearchResults, FindListsTheStoreOfEveryDriveAfterTheSavedScans) {
  FindWorld s;
  ASSERT_NE(s.saved, nullptr);
  s.Find(Everywhere("*.log", NameMatcher::Mode::Wildcard));
  DiskObject* results = s.w.p->Results().get();
  ASSERT_NE(results, nullptr);
  EXPECT_EQ(s.LastRootChild(), results->Node);
  EXPECT_EQ(s.w.p->SelectedNode(), results->Node);
  const std::string d = s.w.drivePath;
  // Both logs of the drive and both of the saved scan, largest first, full paths.
  EXPECT_EQ(s.w.Texts(), (std::vector<std::string>{d + "/logs/big.log", d + "/logs/big.log",
                                                   d + "/logs/small.log", d + "/logs/small.log"}));
  EXPECT_EQ(s.w.Row(d + "/logs/big.log").Cell(1), SizeText(9000));
  EXPECT_EQ(s.w.view.paths.back(), "Search Results: name is like \"*.log\", everywhere");
  EXPECT_EQ(s.w.view.status.back(), "4 files for " + SizeText(18004));
  // Opening another saved scan and finding the drives again keep the folder last, listing the
  // same files.
  s.w.Run([&] { ImportScans(*s.w.p, {s.w.dir.Path() + "/old.json"}); });
  s.w.p->LoadDisks();
  EXPECT_EQ(s.LastRootChild(), s.w.p->Results()->Node);
  s.w.TreeClick(s.w.p->Results()->Node);
  EXPECT_EQ(s.w.List().Count(), 4u);
  // "My Computer" lists it with the space of what it lists.
  s.w.TreeClick(s.w.Root());
  EXPECT_EQ(s.w.Row(kResultsFolderName).Cell(1), SizeText(18004));
}

TEST(SearchResults, RowsKeepTheGuardsAndDeletedOnesLeave) {
  FindWorld s;
  SearchForm form = Everywhere("big");
  s.Find(form);
  const std::string big = s.w.drivePath + "/logs/big.log";
  ASSERT_EQ(s.w.List().Count(), 2u);
  // Both rows selected: the saved scan's is left out, the drive's is deleted.
  for (std::size_t i = 1; i <= 2; ++i) s.w.p->List().SetSelected(i, true);
  s.w.view.confirmYes = true;
  s.w.Run([&] { s.w.p->MenuClick("mnuFileDelete"); });
  EXPECT_NE(::access(big.c_str(), F_OK), 0);
  ASSERT_EQ(s.w.List().Count(), 1u);
  EXPECT_EQ(s.w.view.status.back(), "1 file for " + SizeText(9000) + "; 1 deleted or trashed since");
  // What the scan kept forgot it: a new search finds only the saved scan's.
  s.Find(form);
  EXPECT_EQ(s.w.List().Count(), 1u);
  // The saved scan's row takes no command but Copy Path.
  s.Select(big);
  s.w.view.messages.clear();
  s.w.p->MenuClick("mnuFileDelete");
  ASSERT_EQ(s.w.view.messages.size(), 1u);
  EXPECT_NE(s.w.view.messages[0].find("saved scans"), std::string::npos);
  s.w.p->MenuClick("mnuFileCopyPath");
  EXPECT_EQ(s.w.view.clipboard.at(0), big);
}

TEST(SearchResults, QuickListsAndTheFolderSelected) {
  FindWorld s;
  const std::string d = s.w.drivePath;
  s.w.TreeClick(s.w.RootFolderNode());
  struct Case {
    const char* Entry;
    std::vector<std::string> Rows;
  } cases[] = {
      {"mnuQuickLinks", {d + "/logs/notes-link.txt", d + "/notes.txt"}},
      {"mnuQuickSparse", {d + "/hole.img"}},
      {"mnuQuickLarger", {d + "/hole.img", d + "/logs/big.log"}},
      {"mnuQuickOldest", {d + "/logs/small.log"}},  // the oldest first, in the order found
  };
  s.w.view.sizeAnswer = "5k";
  for (const Case& c : cases) {
    s.w.TreeClick(s.w.RootFolderNode());
    s.w.Run([&] { s.w.p->MenuClick(c.Entry); });
    ASSERT_FALSE(s.w.Texts().empty()) << c.Entry;
    const std::vector<std::string> rows = s.w.Texts();
    EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + static_cast<long>(std::min(
                                                                        rows.size(), c.Rows.size()))),
              c.Rows)
        << c.Entry;
  }
  // The folder selected bounds the search: only the drive's files, not the saved scan's.
  EXPECT_NE(s.w.view.paths.back().find(", in " + d + "/"), std::string::npos);
  EXPECT_EQ(s.w.List().Count(), 6u);
}

TEST(SearchResults, BadFormsAreNamed) {
  FindWorld s;
  struct Case {
    SearchForm Form;
    const char* Says;
  };
  auto with = [](auto change) {
    SearchForm f;
    change(f);
    return f;
  };
  const Case cases[] = {
      {Everywhere("(", NameMatcher::Mode::Regex), "The name pattern \"(\" cannot be used"},
      {Everywhere("[z-a]", NameMatcher::Mode::Wildcard), "cannot be used"},
      {with([](SearchForm& f) { f.MinSize = "12X"; }), "smallest size \"12X\" is not a size"},
      {with([](SearchForm& f) { f.MaxSize = "-1"; }), "largest size"},
      {with([](SearchForm& f) { f.ModifiedAfter = "2024-02-30"; }), "is not a date"},
      {with([](SearchForm& f) { f.MinSize = "2k", f.MaxSize = "1k"; }), "smallest size is larger"},
      {with([](SearchForm& f) {
         f.ModifiedAfter = "2024-02-02", f.ModifiedBefore = "2024-02-01";
       }),
       "is not before"},
      {with([](SearchForm& f) { f.Type = "."; }), "names no ending"},
  };
  for (const Case& c : cases) {
    s.w.view.checked.clear();
    s.Find(c.Form);
    EXPECT_NE(s.w.view.checked.find(c.Says), std::string::npos) << c.Says << ": " << s.w.view.checked;
  }
  EXPECT_EQ(s.w.p->Results(), nullptr);  // nothing was searched
  // A type, a category or an ending, selects by name.
  SearchForm images = Everywhere("");
  images.Type = "Images";
  s.Find(images);
  EXPECT_EQ(s.w.Texts(), (std::vector<std::string>{s.w.drivePath + "/photo.JPG",
                                                   s.w.drivePath + "/photo.JPG"}));
  images.Type = ".jpg";
  s.Find(images);
  EXPECT_EQ(s.w.List().Count(), 2u);
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

TEST(TypesPane, CountsInStepsAndStartsAgainOnEachListing) {
  FindWorld s;
  MainPresenter& p = *s.w.p;
  s.w.TreeClick(s.w.Root());
  p.MenuClick("mnuViewTypes");
  EXPECT_NE(p.TypesPaneState().Message.find("Nothing scanned"), std::string::npos);
  // Counted a folder at a time through the window's queue, a budget of nothing: one step each.
  p.TypesPaneState().StepFolders = 1;
  p.TypesPaneState().StepBudgetMs = 0;
  p.Queue()->Connect([&s](std::function<void()> t) { s.w.tasks.Post(std::move(t)); });
  s.w.TreeClick(s.w.DriveNode());
  EXPECT_EQ(p.TypesPaneState().Counts, nullptr);
  s.w.tasks.RunWhile([&p] { return !p.TypesPaneState().Counts; });
  FileTypes types;
  const TypeCounts whole = CountTypes(*s.w.drive, types);
  const std::vector<TypeRow> rows = TypeRows(*p.TypesPaneState().Counts, false);
  const std::vector<TypeRow> expected = TypeRows(whole, false);
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].Text, expected[i].Text);
    EXPECT_EQ(rows[i].Size, expected[i].Size);
  }
  EXPECT_EQ(rows.front().Text, "Disk images");  // the sparse megabyte
  // A command holding the slot stops the count; listing again starts it.
  s.w.TreeClick(s.w.RootFolderNode());
  ASSERT_TRUE(p.Slot().Acquire());
  s.w.tasks.RunWhile([&p] { return p.TypesPaneState().Counter != nullptr; });
  EXPECT_EQ(p.TypesPaneState().Counts, nullptr);
  p.Slot().Release();
  s.w.TreeClick(s.w.RootFolderNode());
  s.w.tasks.RunWhile([&p] { return !p.TypesPaneState().Counts; });
  EXPECT_EQ(p.TypesPaneState().Counts->Files, whole.Files);
  p.Queue()->Disconnect();
}

}  // namespace
}  // namespace kestrum
