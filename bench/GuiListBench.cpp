// The main window over many records, offscreen: the fill from loading the record files to the
// painted list, a view switch, a re-sort and the paint of one screenful. Prints milliseconds.
#include "app/AppEnvironment.h"
#include "app/GetEngine.h"
#include "store/Categories.h"
#include "store/RecordSettings.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QHeaderView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

} // namespace

int main(int argc, char **argv) {
  using namespace velmora;
  const int records = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int unfinished = records * 3 / 10;
  const std::filesystem::path home = std::filesystem::temp_directory_path() / "velmora-gui-bench";
  std::filesystem::remove_all(home);
  setenv("VELMORA_HOME", home.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  auto app = TAppEnvironment::Start();
  TCategoryList categories(app->Paths.categoryFile, {});
  TGetEngine engine(*app, TGetOptions{});
  engine.RecordContext.Categories = &categories;
  for (int i = 0; i < records; ++i) {
    TLocalDownloadinfo record(TUrl("http://127.0.0.1/file" + std::to_string(i) + ".bin"), "",
                              engine.RecordContext);
    record.LocalFileName = (home / ("file" + std::to_string((i * 7919) % records) + ".bin")).string();
    record.FileSize = 1000000;
    record.SetStatus(i < unfinished ? app->Words.Paused : app->Words.Done);
    record.StatusImage = i < unfinished ? kStatusCodePaused : kStatusCodeDone;
    if (!record.SaveDatFile())
      return 1;
    if (i < unfinished)
      std::ofstream(record.TempFileName + ".0") << std::string(4096, 'x');
    else
      std::ofstream(record.LocalFileName) << "x";
  }
  QApplication application(argc, argv);
  TMainWindowContext context{
      engine.Loop,
      *app->Settings,
      app->Words,
      *app->Translator,
      categories,
      PartialDownloadsDirectory(*app->Settings, app->Paths),
      [&](IDownloadSystemUi &ui) {
        return std::make_unique<TDownloadSystem>(
            TDownloadSystemContext{engine.Loop, *app->Settings, app->Words, engine.RecordContext,
                                   engine.DownloaderContext, ui, app->Paths.defaultSaveFolder});
      },
      [&](const std::string &url) {
        return std::make_unique<TLocalDownloadinfo>(TUrl(url), "", engine.RecordContext);
      }};
  TForm_Main window(std::move(context));
  window.resize(1000, 700);
  auto start = Clock::now();
  window.WMMYMSG();
  (void)window.List()->viewport()->grab();
  std::printf("records %d (%d unfinished with part files)\n", records, unfinished);
  std::printf("load and fill to the painted list: %.1f ms (%zu rows)\n", Ms(start), window.Rows()->Count());
  start = Clock::now();
  window.SelectView(window.Tree()->topLevelItemCount() > 2 ? 2 + static_cast<int>(categories.Count()) : 0);
  (void)window.List()->viewport()->grab();
  std::printf("view switch to Status: %.1f ms (%zu rows)\n", Ms(start), window.Rows()->Count());
  window.SelectView(0);
  start = Clock::now();
  emit window.List()->header()->sectionClicked(lcStatus);
  (void)window.List()->viewport()->grab();
  std::printf("re-sort of All by Status: %.1f ms\n", Ms(start));
  std::vector<double> paints;
  for (int i = 0; i < 41; ++i) {
    start = Clock::now();
    (void)window.List()->viewport()->grab();
    paints.push_back(Ms(start));
  }
  std::nth_element(paints.begin(), paints.begin() + 20, paints.end());
  std::printf("paint of one screenful: median %.2f ms\n", paints[20]);
  std::filesystem::remove_all(home);
  return 0;
}
