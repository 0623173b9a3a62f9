#include "ui/MainWindow.h"
#include "app/AppEnvironment.h"
#include "app/GetEngine.h"
#include "management/DownloadRows.h"
#include "store/Categories.h"
#include "store/RecordSettings.h"
#include "support/TempDir.h"
#include "ui/DownloadListModel.h"
#include "ui/ThemeColors.h"

#include "ui/QtApp.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace velmora {
namespace {

// The real window over a download system on a fresh data folder.
class MainWindowTest : public ::testing::Test {
protected:
  MainWindowTest() {
    testing::QtApp();
    setenv("VELMORA_HOME", home.path().c_str(), 1);
    app = TAppEnvironment::Start();
    categories = std::make_unique<TCategoryList>(app->Paths.categoryFile, TCategoryDefaults{});
    engine = std::make_unique<TGetEngine>(*app, TGetOptions{});
    engine->RecordContext.Categories = categories.get();
  }
  ~MainWindowTest() override {
    window.reset();
    for (int i = 0; i < 5; ++i)
      engine->Loop.runOnce(0);
    EXPECT_EQ(engine->Loop.registeredCount(), 0u);
  }
  void Open() {
    TMainWindowContext context{
        engine->Loop,
        *app->Settings,
        app->Words,
        *app->Translator,
        *categories,
        PartialDownloadsDirectory(*app->Settings, app->Paths),
        [this](IDownloadSystemUi &ui) {
          return std::make_unique<TDownloadSystem>(
              TDownloadSystemContext{engine->Loop, *app->Settings, app->Words, engine->RecordContext,
                                     engine->DownloaderContext, ui, app->Paths.defaultSaveFolder});
        },
        [this](const std::string &url) {
          return std::make_unique<TLocalDownloadinfo>(TUrl(url), "", engine->RecordContext);
        }};
    window = std::make_unique<TForm_Main>(std::move(context));
    window->WMMYMSG();
  }
  void StoreRecord(const std::string &name, const std::string &status) {
    TLocalDownloadinfo record(TUrl("http://127.0.0.1/" + name), "", engine->RecordContext);
    record.LocalFileName = home.file(name);
    record.SetStatus(status);
    record.FileSize = 1000;
    testing::WriteWholeFile(record.LocalFileName, "x"); // a done record whose file is gone is dropped
    ASSERT_TRUE(record.SaveDatFile());
  }

  testing::TempDir home;
  std::unique_ptr<TAppEnvironment> app;
  std::unique_ptr<TCategoryList> categories;
  std::unique_ptr<TGetEngine> engine;
  std::unique_ptr<TForm_Main> window;
};

TEST_F(MainWindowTest, DefaultHeaderOrderAndVisibility) {
  Open();
  const QHeaderView *header = window->List()->header();
  std::vector<std::string> shown;
  for (int position = 0; position < header->count(); ++position) {
    const int column = header->logicalIndex(position);
    if (!header->isSectionHidden(column))
      shown.push_back(kColumnCaptions[column]);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"File Name", "Status", "Completed", "Total", "Time Left", "kB/s",
                                             "Save Path"}));
  EXPECT_EQ(header->visualIndex(lcSavePath), 6);
  EXPECT_EQ(header->visualIndex(lcTimeAdded), 7);
  EXPECT_TRUE(header->isSectionHidden(lcTimeAdded));
  EXPECT_TRUE(header->isSectionHidden(lcDescription));
  // The tree's width without a setting: one default, at start-up as when it is shown again.
  EXPECT_EQ(window->Tree()->width(), 150);
}

TEST_F(MainWindowTest, DamagedColumnSettingsGiveAUsableHeader) {
  for (const char *key : kColumnKeys) {
    app->Settings->WriteInteger("Options", std::string("VDT_Downloads_ColPos_") + key, 3); // all the same
    app->Settings->WriteInteger("Options", std::string("VDT_Downloads_ColWidth_") + key, -50);
    app->Settings->WriteBool("Options", std::string("VDT_Downloads_ColVisible_") + key, false);
  }
  app->Settings->WriteInteger("Options", "VDT_Downloads_SortByColumn", 77);
  Open();
  const QHeaderView *header = window->List()->header();
  EXPECT_FALSE(header->isSectionHidden(lcFileName));
  EXPECT_EQ(header->visualIndex(lcSavePath), 6);
  EXPECT_GE(header->sectionSize(lcFileName), 20);
  EXPECT_EQ(window->Rows()->SortColumn, -1);
}

TEST_F(MainWindowTest, EveryStatusPaintsInItsColour) {
  const TConstants &words = app->Words;
  const std::vector<std::pair<std::string, TStatusCode>> statuses = {
      {words.Downloading, kStatusCodeDownloading},
      {words.Paused, kStatusCodePaused},
      {words.Done, kStatusCodeDone},
      {words.Timeout, kStatusCodeError},
      {words.Idle, 3}};
  for (std::size_t i = 0; i < statuses.size(); ++i)
    StoreRecord(std::string(1, static_cast<char>('a' + i)) + ".bin", words.Paused);
  Open();
  window->resize(800, 400);
  window->show();
  const TLDIList records = window->DownloadSystem()->AllRecords();
  ASSERT_EQ(records.Count(), statuses.size());
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    records.Get(i)->Status = statuses[i].first;
    records.Get(i)->StatusImage = statuses[i].second;
    window->UpdateRow(*records.Get(i));
  }
  window->Rows()->Flush();
  window->List()->clearSelection();
  window->List()->selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
  QApplication::processEvents();
  const QImage image = window->List()->viewport()->grab().toImage();
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      colours.insert(image.pixel(x, y) & 0xFFFFFF);
  const QPalette palette = QApplication::palette();
  for (TColor expected : {kStandardTheme.Downloading, kStandardTheme.Paused, kStandardTheme.Done,
                          kStandardTheme.Error, kStandardTheme.Other}) {
    // Glyph edges are blended with the background: a stroke's core comes close to the colour.
    const QColor want = ToQColor(expected, palette);
    const bool found = std::any_of(colours.begin(), colours.end(), [&](QRgb c) {
      return std::abs(qRed(c) - want.red()) + std::abs(qGreen(c) - want.green()) +
                 std::abs(qBlue(c) - want.blue()) <
             48;
    });
    std::string rows;
    for (std::size_t i = 0; i < window->Rows()->Count(); ++i)
      rows += window->Rows()->Row(i).FileName + " " + window->Rows()->Row(i).Status + " " +
              std::to_string(window->Rows()->Row(i).LDI->StatusImage) + "; ";
    EXPECT_TRUE(found) << std::hex << expected << " " << rows;
  }
}

TEST_F(MainWindowTest, ColoursMapToThePaletteAndStoredValues) {
  const QPalette palette = QApplication::palette();
  EXPECT_EQ(ToQColor(0x0000FF, palette), QColor(255, 0, 0));
  EXPECT_EQ(ToQColor(0xF0FBFF, palette), QColor(0xFF, 0xFB, 0xF0));
  EXPECT_EQ(ToQColor(kSystemColor + 5, palette), palette.color(QPalette::Base));
  app->Settings->WriteInteger("Options", "ColorTheme", 1);
  EXPECT_EQ(LoadThemeColors(*app->Settings), kVelmTheme);
  app->Settings->WriteInteger("Options", "ColorTheme", 7);
  app->Settings->WriteInteger("Options", "Custom_Color_Done", 0x123456);
  EXPECT_EQ(LoadThemeColors(*app->Settings).Done, 0x123456u);
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

TEST_F(MainWindowTest, HangUpPanelClickSwitchesTheSettingWithoutDialUp) {
  Open();
  auto *panel = window->findChild<QLabel *>("StatusBar_Panel1");
  ASSERT_NE(panel, nullptr);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(panel, &press);
  EXPECT_TRUE(app->Settings->ReadBool("Options", "DisconnectAfterDownload", false));
  EXPECT_EQ(panel->text().toStdString(), "Hang Up Disabled"); // dial-up is not in use
  app->Settings->WriteBool("Options", "ConnectUsingDialUp", true);
  QApplication::sendEvent(panel, &press);
  QApplication::sendEvent(panel, &press);
  EXPECT_EQ(panel->text().toStdString(), "Hang Up Enabled");
}

} // namespace
} // namespace velmora
