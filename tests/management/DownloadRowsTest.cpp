#include "management/DownloadRows.h"
#include "management/ProgressBarGeometry.h"
#include "store/Categories.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velmora {
namespace {

using testing::TempDir;

constexpr TDateTime kNow = 46000.5; // noon of a fixed day

class FakeSource : public IRowSource {
public:
  TLDIList AllRecords() const override { return records; }
  std::vector<TDownloader *> ActiveDownloaders() const override { return {}; }
  TDownloader *AssociatedDownloader(const TLocalDownloadinfo *) const override { return nullptr; }
  TLDIList records;
};

// Counts what the list model would be told.
class CountingObserver : public IRowObserver {
public:
  void RowsAboutToReset() override {}
  void RowsReset() override { ++resets; }
  void RowAboutToInsert(std::size_t index) override { inserted.push_back(index); }
  void RowInserted() override {}
  void RowAboutToRemove(std::size_t index) override { removed.push_back(index); }
  void RowRemoved() override {}
  void RowsChanged(std::size_t first, std::size_t last) override { changed.emplace_back(first, last); }
  int resets = 0;
  std::vector<std::size_t> inserted, removed;
  std::vector<std::pair<std::size_t, std::size_t>> changed;
};

class DownloadRowsTest : public ::testing::Test {
protected:
  DownloadRowsTest() {
    records.Now = [] { return kNow; };
    AddCategory("Music", nullptr);
    AddCategory("Rock", categories.GetByName("Music"));
    AddCategory("Video", nullptr);
    tree.Rebuild();
    rows.Observer = &observer;
  }
  void AddCategory(const std::string &name, TCategory *parent) {
    auto category = std::make_unique<TCategory>();
    category->SetName(name);
    TTreeNode *node = parent != nullptr ? categories.GetCategoryNode(*parent) : nullptr;
    ASSERT_TRUE(categories.Add(std::move(category), false, node));
  }
  TLocalDownloadinfo &Record(const std::string &name, const std::string &status, TStatusCode code,
                             const std::string &category = "", int64_t size = 1000) {
    owned.push_back(std::make_unique<TLocalDownloadinfo>(TUrl("http://h/" + name), "", records));
    TLocalDownloadinfo &record = *owned.back();
    record.LocalFileName = "/save/" + name;
    record.SetStatus(status);
    record.StatusImage = code;
    record.FileSize = size;
    record.Category = category.empty() ? nullptr : categories.GetByName(category);
    record.LastActivity = kNow;
    record.Created = kNow;
    source.records.Add(&record);
    return record;
  }
  void Select(TTreeNode &node) { tree.Selected = &node; }
  TTreeNode &Child(TTreeNode &parent, const std::string &caption) {
    for (TTreeNode *node : parent.Descendants())
      if (node->Caption == caption)
        return *node;
    throw std::runtime_error("no node " + caption);
  }
  std::vector<std::string> Shown() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < rows.Count(); ++i)
      names.push_back(rows.Row(i).FileName);
    return names;
  }

  TempDir dir;
  TConstants words;
  TRecordContext records{words, [](std::string_view s) { return std::string(s); }, nullptr,
                         [this] { return dir.file("partial"); }};
  TCategoryList categories{dir.file("cat.dat"), {}};
  TViewTree tree{words, categories};
  FakeSource source;
  CountingObserver observer;
  TDownloadRows rows{{source, words, categories, tree, ".", [] { return kNow; }}};
  std::vector<std::unique_ptr<TLocalDownloadinfo>> owned;
};

TEST_F(DownloadRowsTest, ViewsShowTheirRecords) {
  Record("a.mp3", words.Paused, kStatusCodePaused, "Music");
  Record("b.mp3", words.Done, kStatusCodeDone, "Rock").LastActivity = kNow - 6;
  Record("c.avi", words.Done, kStatusCodeDone, "Video").LastActivity = kNow - 8;
  Record("d.zip", words.Queued, kStatusCodeQueued);
  Record("e.iso", "Timeout", kStatusCodeError);
  rows.SortColumn = -1; // list order
  struct Case {
    std::function<void()> show;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {[&] { rows.ShowAll(); }, {"a.mp3", "b.mp3", "c.avi", "d.zip", "e.iso"}},
      {[&] { rows.ShowCategory("music"); }, {"a.mp3", "b.mp3"}}, // sub-categories too, name without case
      {[&] { rows.ShowAllCategory(); }, {"a.mp3", "b.mp3", "c.avi"}},
      {[&] { rows.ShowAllStatus(); }, {"a.mp3", "d.zip", "e.iso"}},
      {[&] { rows.ShowStatus(words.Paused); }, {"a.mp3"}},
      {[&] { rows.ShowStatus(words.Done); }, {"b.mp3", "c.avi"}},
      {[&] { rows.ShowHistory(words.Days7); }, {"b.mp3"}}, // 6 days ago, not 8
      {[&] { rows.ShowHistory(words.Days30); }, {"b.mp3", "c.avi"}},
      {[&] { rows.ShowHistory("other"); }, {}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    cases[i].show();
    EXPECT_EQ(Shown(), cases[i].expected) << "case " << i;
  }
}

TEST_F(DownloadRowsTest, TreeNodesPickTheirViews) {
  Record("a.mp3", words.Paused, kStatusCodePaused, "Music");
  Record("b.mp3", words.Done, kStatusCodeDone, "Rock");
  rows.SortColumn = -1;
  struct Case {
    TTreeNode *node;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {&tree.All(), {"a.mp3", "b.mp3"}},
      {&tree.CategoriesRoot(), {"a.mp3", "b.mp3"}},
      {&Child(tree.CategoriesRoot(), "Rock"), {"b.mp3"}},
      {&tree.Status(), {"a.mp3"}},
      {&Child(tree.Status(), words.Paused), {"a.mp3"}},
      {&tree.History(), {"b.mp3"}}, // the History node itself: every done download
      {&Child(tree.History(), words.Hours24), {"b.mp3"}},
  };
  for (const Case &c : cases) {
    Select(*c.node);
    rows.ShowSelectedView();
    EXPECT_EQ(Shown(), c.expected) << c.node->Caption;
  }
  EXPECT_EQ(tree.AbsoluteIndex(&tree.All()), 0);
  EXPECT_EQ(tree.AbsoluteIndex(&tree.CategoriesRoot()), 1);
  EXPECT_EQ(tree.NodeAt(static_cast<std::size_t>(tree.AbsoluteIndex(&tree.History()))), &tree.History());
}

TEST_F(DownloadRowsTest, UpdatesFollowTheViewRule) {
  TLocalDownloadinfo &running = Record("run.bin", words.Downloading, kStatusCodeDownloading);
  TLocalDownloadinfo &music = Record("rock.mp3", words.Paused, kStatusCodePaused, "Rock");
  TLocalDownloadinfo &plain = Record("plain.bin", words.Paused, kStatusCodePaused);
  struct Case {
    std::string name;
    TTreeNode *view;
    TLocalDownloadinfo *record;
    std::function<void()> change;
    bool listedAfter;
  };
  const std::vector<Case> cases = {
      {"pausing adds to Paused", &Child(tree.Status(), words.Paused), &running,
       [&] {
         running.SetStatus(words.Paused);
         running.StatusImage = kStatusCodePaused;
       },
       true},
      {"resuming removes from Paused", &Child(tree.Status(), words.Paused), &running,
       [&] {
         running.SetStatus(words.Downloading);
         running.StatusImage = kStatusCodeDownloading;
       },
       false},
      {"joining leaves Status", &tree.Status(), &running,
       [&] {
         running.SetStatus(words.CombiningFiles);
         running.StatusImage = kStatusCodeDone;
       },
       false},
      {"an error stays in Downloading", &Child(tree.Status(), words.Downloading), &running,
       [&] {
         running.SetStatus("Timeout");
         running.StatusImage = kStatusCodeError;
       },
       true},
      {"a sub-category is in its parent", &Child(tree.CategoriesRoot(), "Music"), &music, [] {}, true},
      {"no category is not in Categories", &tree.CategoriesRoot(), &plain, [] {}, false},
      {"a record not listed any more goes", &tree.All(), &plain, [&] { source.records.Remove(&plain); },
       false},
  };
  for (const Case &c : cases) {
    Select(*c.view);
    rows.ShowSelectedView();
    c.change();
    rows.UpdateRow(*c.record);
    rows.Flush();
    EXPECT_EQ(rows.AssociatedRow(c.record) >= 0, c.listedAfter) << c.name;
  }
}

TEST_F(DownloadRowsTest, NewRowsTakeTheirSortedPlaceAndRefilledRowsKeepTheirs) {
  Record("b.bin", words.Paused, kStatusCodePaused);
  Record("d.bin", words.Paused, kStatusCodePaused);
  rows.SortColumn = lcFileName;
  rows.ShowAll();
  TLocalDownloadinfo &c = Record("c.bin", words.Paused, kStatusCodePaused);
  rows.UpdateRow(c);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"b.bin", "c.bin", "d.bin"}));
  EXPECT_EQ(observer.inserted, std::vector<std::size_t>{1});
  rows.SortAscending = false;
  rows.UpdateRow(Record("a.bin", words.Paused, kStatusCodePaused));
  EXPECT_EQ(Shown().back(), "a.bin");

  // Sorted by status, a changed status refills the row in place; a header click sorts all.
  rows.SortColumn = lcStatus;
  rows.SortAscending = true;
  rows.Sort();
  const std::vector<std::string> before = Shown();
  c.Status = "Aaa";
  for (int i = 0; i < 20; ++i)
    rows.UpdateRow(c);
  EXPECT_TRUE(observer.changed.empty()); // nothing repaints before the flush
  rows.Flush();
  EXPECT_EQ(Shown(), before);
  EXPECT_EQ(rows.Row(static_cast<std::size_t>(rows.AssociatedRow(&c))).Status, "Aaa");
  EXPECT_EQ(observer.changed.size(), 1u);
  rows.Sort();
  EXPECT_EQ(Shown().front(), "c.bin");
}

TEST_F(DownloadRowsTest, RowTexts) {
  TLocalDownloadinfo &unknown = Record("u.bin", words.Paused, kStatusCodePaused, "", 0);
  TLocalDownloadinfo &done = Record("d.bin", words.Done, kStatusCodeDone, "", 2048);
  TLocalDownloadinfo &retry = Record("r.bin", "Timeout", kStatusCodeError);
  retry.RetryCountdown = 12;
  retry.RetryTimer = reinterpret_cast<platform::LoopTimer *>(&retry); // only its presence counts
  rNode row;
  rows.SetNodeData(row, unknown);
  EXPECT_EQ(row.Size, words.Unknown);
  EXPECT_EQ(row.Folder, "/save/");
  rows.SetNodeData(row, done);
  EXPECT_EQ(row.Size, "2 kB");
  EXPECT_EQ(row.Downloaded, row.Size);
  rows.SetNodeData(row, retry);
  EXPECT_EQ(row.Status, "Timeout (12)");
  EXPECT_TRUE(row.TimeLeft.empty());
  EXPECT_TRUE(row.Rate.empty());
  retry.RetryTimer = nullptr;
}

TEST_F(DownloadRowsTest, BytesOnDiskComeFromOneListingAndMatchTheSingleCount) {
  TLocalDownloadinfo &record = Record("p.bin", words.Paused, kStatusCodePaused);
  testing::WriteWholeFile(record.TempFileName + ".0", std::string(300, 'x'));
  testing::WriteWholeFile(record.TempFileName + ".500", std::string(200, 'x'));
  rows.ShowAll();
  EXPECT_EQ(rows.Row(0).DownloadedBytes, 500);
  rNode single;
  rows.SetNodeData(single, record);
  EXPECT_EQ(single.DownloadedBytes, 500);
}

TEST(RowCompare, ColumnsCompareTheirValues) {
  TConstants words;
  TempDir dir;
  TRecordContext context{words, [](std::string_view s) { return std::string(s); }, nullptr,
                         [&] { return dir.file("p"); }};
  TLocalDownloadinfo recordA(TUrl("http://h/a"), "", context), recordB(TUrl("http://h/b"), "", context);
  struct Case {
    int column;
    std::function<void(rNode &, rNode &)> fill;
    int expected;
  };
  const std::vector<Case> cases = {
      {lcFileName, [](rNode &a, rNode &b) { a.FileName = "abc", b.FileName = "ABD"; }, -1},
      {lcTimeLeft, [](rNode &a, rNode &b) { a.TimeLeft = "01:00:00", b.TimeLeft = "00:59:59"; }, 1},
      {lcTimeLeft, [](rNode &a, rNode &b) { a.TimeLeft = "", b.TimeLeft = "00:00:00"; }, 0},
      {lcRate, [](rNode &a, rNode &b) { a.Rate = "N/A", b.Rate = ""; }, 0},
      {lcRate, [](rNode &a, rNode &b) { a.Rate = "12,5", b.Rate = "9.75"; }, 1},
      {lcCompleted, [](rNode &a, rNode &b) { a.DownloadedBytes = 5, b.DownloadedBytes = 6; }, -1},
      {lcTimeAdded, [](rNode &a, rNode &b) { a.LDI->Created = 40000.25, b.LDI->Created = 40000.5; }, -1},
      {lcTotal, [](rNode &a, rNode &b) { a.LDI->FileSize = 3000000000, b.LDI->FileSize = 2; }, 1},
      {99, [](rNode &a, rNode &b) { a.FileName = "b", b.FileName = "a"; }, 1},
  };
  for (const Case &c : cases) {
    rNode a, b;
    a.LDI = &recordA;
    b.LDI = &recordB;
    c.fill(a, b);
    EXPECT_EQ(CompareRows(a, b, c.column), c.expected) << "column " << c.column;
  }
}

TEST(ProgressBars, Geometry) {
  const TBarRect cell{0, 0, 1004, 20};
  // The lower frame's segments start at x 3; a last slot alone has 1004 - 3 - 3 = 998 pixels.
  struct Case {
    std::string name;
    int64_t count, size;
    std::vector<TBarSlot> slots;
    int upperRight;
    std::vector<int> segmentRights;
  };
  const std::vector<Case> cases = {
      {"half", 500, 1000, {{0, 500, 250}, {500, 1000, 250}}, 3 + 499, {3 + 250, 503 + 249}},
      {"last more than 99 % is full", 0, 100000, {{0, 100000, 99500}}, 3, {3 + 998}},
      {"last at 99 % is not", 0, 100000, {{0, 100000, 99000}}, 3, {3 + 988}},
      {"size 0: empty upper bar, middle skipped", 10, 0, {{0, 10, 5}, {10, 20, 10}}, 3, {3 + 998}},
      {"zero-length middle range skips to the last", 0, 1000, {{0, 0, 0}, {0, 1000, 1000}}, 3, {3 + 998}},
      {"last without length is omitted", 0, 1000, {{0, 0, 0}}, 3, {}},
  };
  for (const Case &c : cases) {
    const TProgressBars bars = ComputeProgressBars(cell, c.count, c.size, c.slots);
    EXPECT_EQ(bars.UpperFrame, (TBarRect{1, 1, 1003, 9})) << c.name;
    EXPECT_EQ(bars.LowerFrame, (TBarRect{1, 11, 1003, 19})) << c.name;
    EXPECT_EQ(bars.UpperBar.Right, c.upperRight) << c.name;
    std::vector<int> rights;
    for (const TBarRect &segment : bars.Segments) {
      rights.push_back(segment.Right);
      EXPECT_EQ(segment.Top, 13);
      EXPECT_EQ(segment.Bottom, 17);
    }
    EXPECT_EQ(rights, c.segmentRights) << c.name;
  }
}

} // namespace
} // namespace velmora
