#include "store/Categories.h"
#include "store/LocalDownloadInfo.h"

#include "support/ChildProcess.h"
#include "support/ExpectReports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace velmora;
using velmora::testing::ExpectSavingSurvivesKill;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

const std::string kFixture = std::string(VELMORA_TESTDATA_DIR) + "/store/cat.dat";

std::vector<std::string> Captions(const TTreeNode &node) {
  std::vector<std::string> captions;
  for (size_t i = 0; i < node.Count(); ++i)
    captions.push_back(node.Child(i)->Caption);
  return captions;
}

std::vector<std::string> Names(const std::vector<TCategory *> &categories) {
  std::vector<std::string> names;
  names.reserve(categories.size());
  for (const TCategory *category : categories)
    names.push_back(category->Name);
  return names;
}

TEST(Category, SetExtensions) {
  struct Case {
    std::string text;
    std::vector<std::string> extensions;
  };
  const Case cases[] = {
      {"zip rar", {"zip", "rar"}},
      {"zip  rar", {"zip", "rar"}},
      {" zip", {"zip"}},
      {"zip ", {"zip"}},
      {"", {}},
      {"   ", {}},
      {"Zip .tar.GZ", {"Zip", ".tar.GZ"}},
      {"a\tb\r\nc", {"a", "b", "c"}},
  };
  for (const Case &c : cases) {
    TCategory category;
    category.SetExtensions(c.text);
    EXPECT_EQ(category.Extensions, c.extensions) << '"' << c.text << '"';
  }
}

TEST(Category, BelongsToCategory) {
  struct Case {
    std::string extensions, fileName;
    bool belongs;
  };
  const Case cases[] = {
      {"gz", "archive.TAR.GZ", true},  {"tar", "archive.tar.gz", false}, {"r0*", "file.r01", false},
      {"ZIP", "/home/me/a.zip", true}, {"zip", "/a.zip/readme", false},  {"zip", "readme", false},
      {"zip", "name.zip ", true},      {"zip rar", "x.rar", true},       {"", "README", false},
      {" zip", "README", false}, // no empty extension from a leading blank
  };
  for (const Case &c : cases) {
    TCategory category;
    category.SetExtensions(c.extensions);
    EXPECT_EQ(category.BelongsToCategory(c.fileName), c.belongs) << c.extensions << " / " << c.fileName;
  }
}

TEST(Category, SettersRefuseControlCharacters) {
  TCategory category;
  EXPECT_TRUE(category.SetName("Music"));
  EXPECT_FALSE(category.SetName("Mu\tsic"));
  EXPECT_FALSE(category.SetName("Mu\nsic"));
  EXPECT_EQ(category.Name, "Music");
  EXPECT_TRUE(category.SetSaveFolder("/home/me/Music"));
  EXPECT_EQ(category.SaveFolder, "/home/me/Music/");
  EXPECT_TRUE(category.SetSaveFolder("/srv/"));
  EXPECT_EQ(category.SaveFolder, "/srv/");
  EXPECT_FALSE(category.SetSaveFolder("/a\rb"));
  EXPECT_EQ(category.SaveFolder, "/srv/");
  EXPECT_TRUE(category.SetSaveFolder(""));
  EXPECT_EQ(category.SaveFolder, "");
}

TEST(Category, LineFormatRoundTrips) {
  struct Case {
    std::string name, extensions, folder;
    bool autoSave, showComplete;
    std::string line;
  };
  const Case cases[] = {
      {"Archives", "zip rar", "/data/archive/", false, true, "Archives\tzip rar\tNo\t/data/archive/\tYes"},
      {"Empty", "", "", true, false, "Empty\t\tYes\t\tNo"},
      {" Blank name ", "a", "/with blank/", false, false, " Blank name \ta\tNo\t/with blank/\tNo"},
  };
  for (const Case &c : cases) {
    TCategory category;
    category.Name = c.name;
    category.SetExtensions(c.extensions);
    category.SaveFolder = c.folder;
    category.AutoSave = c.autoSave;
    category.ShowCompleteDialog = c.showComplete;
    EXPECT_EQ(category.toString(), c.line);
    const auto back = TCategory::FromLine(c.line, {});
    EXPECT_EQ(back->Name, c.name);
    EXPECT_EQ(back->Extensions, category.Extensions);
    EXPECT_EQ(back->SaveFolder, c.folder);
    EXPECT_EQ(back->AutoSave, c.autoSave);
    EXPECT_EQ(back->ShowCompleteDialog, c.showComplete);
  }
}

TEST(Category, OlderLineFormTakesTheDefaultDialogFlag) {
  for (bool defaultShow : {true, false}) {
    const auto category = TCategory::FromLine("Old\tmp3\tYes\t/music/", {false, defaultShow});
    EXPECT_EQ(category->SaveFolder, "/music/");
    EXPECT_TRUE(category->AutoSave);
    EXPECT_EQ(category->ShowCompleteDialog, defaultShow);
  }
  const auto nameOnly = TCategory::FromLine("Lonely", {true, true});
  EXPECT_EQ(nameOnly->Name, "Lonely");
  EXPECT_TRUE(nameOnly->Extensions.empty());
  EXPECT_FALSE(nameOnly->AutoSave);
}

class CategoryListTest : public ::testing::Test {
protected:
  std::string CopyFixture() {
    std::string file = dir.file("cat.dat");
    std::filesystem::copy_file(kFixture, file);
    return file;
  }
  TempDir dir;
};

TEST_F(CategoryListTest, LoadsFlatListInFileOrderAndSortedTree) {
  const TCategoryList list(CopyFixture(), {false, false});
  std::vector<std::string> names;
  for (size_t i = 0; i < list.Count(); ++i)
    names.push_back(list.Get(i)->Name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"zeta", "zeta-sub", "Alpha", "Beta", "Gamma", "Aardvark", "Old"}));
  EXPECT_EQ(list.Get(7), nullptr);

  const TTreeNode &root = list.CategoriesNode();
  EXPECT_EQ(Captions(root), (std::vector<std::string>{"Alpha", "Old", "zeta"}));
  EXPECT_EQ(Captions(*root.Child(0)), (std::vector<std::string>{"Aardvark", "Beta"}));
  EXPECT_EQ(Captions(*root.Child(0)->Child(1)), (std::vector<std::string>{"Gamma"}));
  EXPECT_EQ(Captions(*root.Child(2)), (std::vector<std::string>{"zeta-sub"}));
  EXPECT_TRUE(root.Expanded);

  const TCategory *beta = list.GetByName("BETA");
  ASSERT_NE(beta, nullptr);
  EXPECT_EQ(beta->Extensions, (std::vector<std::string>{"gz", "tgz"}));
  EXPECT_TRUE(beta->AutoSave);
  EXPECT_EQ(beta->SaveFolder, "/data/beta/");
  EXPECT_FALSE(beta->ShowCompleteDialog);
  EXPECT_TRUE(list.GetByName("Gamma")->Extensions.empty());
  EXPECT_FALSE(list.GetByName("Aardvark")->ShowCompleteDialog) << "older line: the default";
  EXPECT_TRUE(list.GetByName("Gamma")->ShowCompleteDialog);
  EXPECT_EQ(list.GetByName("nothing"), nullptr);

  // Both zeta and Aardvark claim "z": the one first in the file wins.
  EXPECT_EQ(list.GetByFileName("/x/file.Z"), list.GetByName("zeta"));
  EXPECT_EQ(list.GetByFileName("a.tgz"), beta);
  EXPECT_EQ(list.GetByFileName("a.doc"), nullptr);
}

TEST_F(CategoryListTest, MissingFileMeansNoCategories) {
  const TCategoryList list(dir.file("cat.dat"), {});
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.CategoriesNode().Count(), 0u);
}

TEST_F(CategoryListTest, ToleratesOtherLineEndsAndDropsSecondNamesOfAnyCase) {
  const std::string file = dir.file("cat.dat");
  WriteWholeFile(file, "Music\tmp3\tNo\t/m/\tYes\n\tLive\tflac\tNo\t/l/\tNo\rMUSIC\togg\tYes\t/x/\tYes\n\n");
  const velmora::testing::ExpectReports secondName;
  const TCategoryList list(file, {});
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Get(0)->Extensions, std::vector<std::string>{"mp3"});
  EXPECT_EQ(list.Get(1)->Name, "Live");
  EXPECT_EQ(Captions(list.CategoriesNode()), std::vector<std::string>{"Music"});
}

TEST_F(CategoryListTest, SaveToFileWalksTheTreeDepthFirst) {
  const std::string file = CopyFixture();
  const TCategoryList list(file, {false, true});
  ASSERT_TRUE(list.SaveToFile());
  const std::string expected = "Alpha\tzip rar\tNo\t/data/archive/\tYes\r\n"
                               "\tAardvark\tz\tNo\t/data/aa/\tYes\r\n"
                               "\tBeta\tgz tgz\tYes\t/data/beta/\tNo\r\n"
                               "\t\tGamma\t\tNo\t\tYes\r\n"
                               "Old\tmp3\tYes\t/data/music/\tYes\r\n"
                               "zeta\tz\tNo\t/data/zeta/\tYes\r\n"
                               "\tzeta-sub\tzz\tYes\t/data/zs/\tNo\r\n";
  EXPECT_EQ(ReadWholeFile(file), expected);

  // What was written reads back as the same tree and the same categories.
  const TCategoryList again(file, {false, false});
  ASSERT_TRUE(again.SaveToFile());
  EXPECT_EQ(ReadWholeFile(file), expected);
}

TEST_F(CategoryListTest, AddCategoriesToTreeViewRebuildsFromTheFile) {
  const TCategoryList list(CopyFixture(), {});
  TTreeNode view("Kategorien");
  view.Insert(0, std::make_unique<TTreeNode>("stale"));
  list.AddCategoriesToTreeView(view);
  EXPECT_EQ(Captions(view), (std::vector<std::string>{"Alpha", "Old", "zeta"}));
  EXPECT_EQ(view.Child(0)->Child(1)->Child(0)->Caption, "Gamma");
}

TEST_F(CategoryListTest, InsertAndMoveKeepSiblingsSortedWithoutCase) {
  TCategoryList list(dir.file("cat.dat"), {});
  TTreeNode &root = list.CategoriesNode();
  for (const char *name : {"delta", "Bravo", "alpha", "Charlie", "bravo2"})
    list.InsertSortedNode(root, name);
  EXPECT_EQ(Captions(root), (std::vector<std::string>{"alpha", "Bravo", "bravo2", "Charlie", "delta"}));

  TTreeNode &charlie = *root.Child(3);
  TTreeNode &alpha = *root.Child(0);
  list.InsertSortedNode(charlie, "inner");
  EXPECT_TRUE(list.MoveSortedNode(alpha, charlie));
  EXPECT_EQ(Captions(root), (std::vector<std::string>{"alpha", "Bravo", "bravo2", "delta"}));
  EXPECT_EQ(Captions(alpha), std::vector<std::string>{"Charlie"});
  EXPECT_EQ(Captions(charlie), std::vector<std::string>{"inner"}) << "the sub-tree moves along";

  // A node can never move below itself, nor the root anywhere.
  EXPECT_FALSE(list.MoveSortedNode(*charlie.Child(0), alpha));
  EXPECT_FALSE(list.MoveSortedNode(alpha, alpha));
  EXPECT_FALSE(list.MoveSortedNode(alpha, root));
  TTreeNode foreign("elsewhere");
  EXPECT_FALSE(list.MoveSortedNode(foreign, alpha));
  EXPECT_EQ(Captions(root), (std::vector<std::string>{"alpha", "Bravo", "bravo2", "delta"}));

  EXPECT_TRUE(list.MoveSortedNode(root, charlie));
  EXPECT_EQ(Captions(root), (std::vector<std::string>{"alpha", "Bravo", "bravo2", "Charlie", "delta"}));
}

TEST_F(CategoryListTest, CategoryNodesAndSubCategories) {
  const TCategoryList list(CopyFixture(), {});
  EXPECT_EQ(list.GetCategoryNode(*list.GetByName("Beta"))->Caption, "Beta");
  EXPECT_EQ(Names(list.GetSubCategories(*list.GetByName("Alpha"))),
            (std::vector<std::string>{"Aardvark", "Beta", "Gamma"}));
  EXPECT_TRUE(list.GetSubCategories(*list.GetByName("Gamma")).empty());
  TCategory stranger;
  stranger.Name = "alpha"; // nodes match names exactly
  EXPECT_EQ(list.GetCategoryNode(stranger), nullptr);
  EXPECT_TRUE(list.GetSubCategories(stranger).empty());
}

TEST_F(CategoryListTest, AddRefusesNamesThatAreTakenOrUnwritable) {
  const std::string file = dir.file("cat.dat");
  TCategoryList list(file, {});
  const auto make = [](const std::string &name) {
    auto category = std::make_unique<TCategory>();
    category->Name = name;
    category->SetExtensions("iso");
    return category;
  };
  ASSERT_TRUE(list.Add(make("Images"), true));
  TTreeNode *images = list.GetCategoryNode(*list.GetByName("Images"));
  ASSERT_TRUE(list.Add(make("Disc"), true, images));
  EXPECT_EQ(ReadWholeFile(file), "Images\tiso\tNo\t\tYes\r\n\tDisc\tiso\tNo\t\tYes\r\n");

  struct Case {
    std::string name, problem;
  };
  const Case cases[] = {
      {"IMAGES", "A category named IMAGES already exists."},
      {"", "Please type a category name."},
      {"Tab\tName", "A category name cannot hold tabs, line breaks or other control characters."},
  };
  for (const Case &c : cases) {
    const platform::FileResult added = list.Add(make(c.name), true);
    EXPECT_FALSE(added) << c.name;
    EXPECT_EQ(added.error, c.problem);
  }
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.NameProblem("images", list.GetByName("Images")), "");
  const auto german = [](std::string_view english) {
    return english == "A category named" ? std::string("Eine Kategorie namens")
                                         : "<" + std::string(english) + ">";
  };
  EXPECT_EQ(list.NameProblem("disc", nullptr, german), "Eine Kategorie namens disc <already exists.>");
}

TEST_F(CategoryListTest, SaveRefusesACategoryThatCannotBeReadBack) {
  const std::string file = CopyFixture();
  TCategoryList list(file, {});
  const std::string before = ReadWholeFile(file);
  list.GetByName("Old")->SaveFolder = "/new\nline/";
  const platform::FileResult saved = list.SaveToFile();
  EXPECT_FALSE(saved);
  EXPECT_NE(saved.error.find("Old"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(file), before);
}

TEST_F(CategoryListTest, CategoriesWithoutANodeAreStillSaved) {
  const std::string file = dir.file("cat.dat");
  WriteWholeFile(file, "\tOrphan\ta\tNo\t/o/\tYes\r\nTop\tb\tNo\t/t/\tYes\r\n");
  const TCategoryList list(file, {});
  EXPECT_EQ(Captions(list.CategoriesNode()), std::vector<std::string>{"Top"});
  ASSERT_TRUE(list.SaveToFile());
  EXPECT_EQ(ReadWholeFile(file), "Top\tb\tNo\t/t/\tYes\r\nOrphan\ta\tNo\t/o/\tYes\r\n");
}

class CategoryRecordsTest : public CategoryListTest {
protected:
  TLocalDownloadinfo &Record(const std::string &name, TCategory *category) {
    records_.push_back(
        std::make_unique<TLocalDownloadinfo>(TUrl("http://host/" + name), dir.file(name), context));
    records_.back()->Category = category;
    EXPECT_TRUE(records_.back()->SaveDatFile());
    all.Add(records_.back().get());
    return *records_.back();
  }
  std::string StoredCategory(const std::string &name) {
    const std::string text = ReadWholeFile(dir.file(name + ".dat"));
    const size_t start = text.find("Category=") + 9;
    return text.substr(start, text.find('\n', start) - start);
  }

  TConstants words;
  TRecordContext context{words, nullptr, nullptr, nullptr, [] { return 45000.0; }};
  std::vector<std::unique_ptr<TLocalDownloadinfo>> records_;
  TLDIList all;
};

TEST_F(CategoryRecordsTest, RemoveTakesSubCategoriesAndDetachesTheirRecords) {
  const std::string file = CopyFixture();
  TCategoryList list(file, {});
  TLocalDownloadinfo &inBeta = Record("INBETA", list.GetByName("Beta"));
  TLocalDownloadinfo &inGamma = Record("INGAMMA", list.GetByName("Gamma"));
  TLocalDownloadinfo &inAlpha = Record("INALPHA", list.GetByName("Alpha"));
  TLocalDownloadinfo &inZeta = Record("INZETA", list.GetByName("zeta"));
  EXPECT_EQ(StoredCategory("INGAMMA"), "Gamma");

  ASSERT_TRUE(list.Remove(list.GetByName("Beta"), all));
  EXPECT_EQ(list.GetByName("Beta"), nullptr);
  EXPECT_EQ(list.GetByName("Gamma"), nullptr) << "sub-categories go with their parent";
  EXPECT_EQ(inBeta.Category, nullptr);
  EXPECT_EQ(inGamma.Category, nullptr);
  EXPECT_EQ(inAlpha.Category, list.GetByName("Alpha"));
  EXPECT_EQ(inZeta.Category, list.GetByName("zeta"));
  EXPECT_EQ(StoredCategory("INBETA"), "");
  EXPECT_EQ(StoredCategory("INGAMMA"), "");
  EXPECT_EQ(StoredCategory("INALPHA"), "Alpha");
  EXPECT_EQ(Captions(*list.GetCategoryNode(*list.GetByName("Alpha"))), std::vector<std::string>{"Aardvark"});

  const TCategoryList reloaded(file, {});
  EXPECT_EQ(reloaded.Count(), 5u);
  EXPECT_EQ(reloaded.GetByName("Gamma"), nullptr);
}

TEST_F(CategoryRecordsTest, RenameKeepsOrderAndResavesItsRecords) {
  const std::string file = CopyFixture();
  TCategoryList list(file, {});
  TCategory &old = *list.GetByName("Old");
  Record("INOLD", &old);

  EXPECT_FALSE(list.Rename(old, "ALPHA", all));
  EXPECT_EQ(old.Name, "Old");
  ASSERT_TRUE(list.Rename(old, "Ancient", all));
  EXPECT_EQ(Captions(list.CategoriesNode()), (std::vector<std::string>{"Alpha", "Ancient", "zeta"}));
  EXPECT_EQ(StoredCategory("INOLD"), "Ancient");
  ASSERT_TRUE(list.Rename(old, "ancient", all)) << "a change of case is no clash with itself";
  EXPECT_NE(ReadWholeFile(file).find("ancient\tmp3"), std::string::npos);
}

// A child process saves the list over and over, switching between two versions, and is killed at
// some moment; the file must then hold one version whole.
TEST_F(CategoryListTest, KilledInTheMiddleOfSavingLeavesOldOrNewFile) {
  const std::string file = CopyFixture();
  TCategoryList list(file, {});
  ExpectSavingSurvivesKill(
      file,
      [&](int version) {
        list.GetByName("Old")->SetExtensions(version == 0 ? "mp3" : "mp3 ogg flac opus wav");
        return list.SaveToFile().ok;
      },
      [&] {
        for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
          if (entry.path().filename() != "cat.dat")
            std::filesystem::remove(entry.path()); // a temporary file the kill left behind
      });
}

} // namespace
