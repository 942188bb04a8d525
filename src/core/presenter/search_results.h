#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/query/file_search.h"
#include "core/tree/file_list.h"

namespace kestrum {

class MainPresenter;

// The results folder lists at most this many files: the first ones in the search's order
// (the largest, unless it asked for the newest or oldest). The status line still counts every
// match.
inline constexpr std::size_t kListedBound = 100000;

// What the Find dialog asks, as the user typed it.
struct SearchForm {
  std::string Name;  // "": any name
  NameMatcher::Mode Mode = NameMatcher::Mode::Plain;
  bool CaseSensitive = false;
  // "" for none: sizes as ParseByteCount reads them, dates as ParseTimeText does.
  std::string MinSize, MaxSize, ModifiedAfter, ModifiedBefore;
  // "" for any type; a category's name (CategoryName); or a type key, with or without its
  // leading dot ("jpg", ".tar.gz"; matched lowercased).
  std::string Type;
  // Everything under "My Computer", saved scans included; else the folder selected in the tree
  // with its subtree.
  bool Everywhere = false;
  bool operator==(const SearchForm&) const = default;
};

// The criteria the form asks for; nullopt with error naming the field and what is wrong with
// it when a field cannot be read (a bad pattern, size or date, or sizes or dates that
// exclude each other).
std::optional<SearchCriteria> CriteriaOf(const SearchForm& form, std::string& error);

// The search in words, for the results folder's path label, e.g.
// "name contains \"log\", at least 1.0 GB, in /var/".
std::string DescribeSearch(const SearchForm& form, const std::string& where);

// The one-click searches of the File menu.
enum class QuickList : std::uint8_t { Newest, Oldest, HardLinks, Sparse, Larger };
inline constexpr std::size_t kQuickListBound = 1000;  // files of the newest and oldest lists
// Its criteria (minSize only for Larger) and its words for the path label.
SearchCriteria QuickCriteria(QuickList list, std::uint64_t minSize = 0);
std::string DescribeQuickList(QuickList list, std::uint64_t minSize, const std::string& where);

// The listing of a search's result: each file with the drive it lies on (ListedDrive), the
// files in the result's order, the totals of every match. Reads the model: window thread, or
// a worker while the command slot is held.
FileListing MakeListing(const SearchResult& result, std::string criteria, ListedOrder order);

// The status line of the results folder: how many files it lists and the space they hold,
// with every match counted when the listing holds fewer, and whether the search was stopped.
std::string ListingStatus(const FileListing& listing, bool allocated);

// Where a search started from the tree looks: the folder (or scanned drive or saved scan)
// selected in the tree; null when the selection is none of those (the root, the results
// folder, a drive not scanned): then everything is searched.
const DiskObject* SearchStart(MainPresenter& p);

// Runs a search over the kept entries as a long command in the command slot: the status line
// counts the matches once a second, Stop (or Escape) ends it with what was found so far, and
// the result replaces what the results folder lists, which is then selected and listed. start
// null searches everything under "My Computer". Refused with a status line while a command
// runs. Window thread only.
void StartSearch(MainPresenter& p, SearchCriteria criteria, const DiskObject* start,
                 std::string description, ListedOrder order);

// File, "Find...": asks with the Find dialog (bad input is named in the dialog) and searches.
void FindFiles(MainPresenter& p);
// A quick list of the File menu, in the folder selected in the tree or everywhere; Larger
// asks for the size first.
void RunQuickList(MainPresenter& p, QuickList list);

// The results folder of the presenter, its node under "My Computer" after every drive and
// saved scan: made when first needed, put back last after the root gains a child.
DiskObject& ResultsFolder(MainPresenter& p);
void KeepResultsLast(MainPresenter& p);

}  // namespace kestrum
