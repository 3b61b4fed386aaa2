// Benchmark of the skill code editor on a large texture folder.
//
// Generates, in a temporary folder mapped as drive D: of a private Wine prefix, a texture folder
// of 500 package folders with 40 image folders each (some names Chinese, a few files at both
// levels), then measures in the same run:
//   1. the patch script, GUI-free, against `find FOLDER -mindepth 2 -maxdepth 2 -type d`;
//   2. "生成代码" in the script window (offscreen: folder box read for every TEX line, events
//      pumped, the script shown and painted), against the GUI-free generation of (1);
//   3. handing the finished script to the script view alone, against the same generation; for
//      scale, what converting the whole script for the toolkit would cost (the view converts only
//      the lines it shows).
// Each figure is the best of several runs; the ratio is figure / baseline.
//   bench_script [RUNS]
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "common/text.h"
#include "ui/skin.h"
#include "velmora/script/script_gen.h"
#include "velmora/script/script_window.h"

namespace {

namespace fs = std::filesystem;
using common::Text;

constexpr int kPackages = 500;
constexpr int kImages = 40;

std::string PackageName(int i) {
  switch (i % 5) {
    case 0: return "sprite_character_gunner_effect_" + std::to_string(i) + ".NPK";
    case 1: return "sprite_map_天空之城_" + std::to_string(i) + ".npk";
    case 2: return "sprite_interface_newstyle_windows_" + std::to_string(i) + ".NPK";
    case 3: return "时装_鬼剑士_" + std::to_string(i) + ".npk";
    default: return "sprite_character_mage_equipment_avatar_coat" + std::to_string(i) + ".NPK";
  }
}

void Touch(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) ::close(fd);
}

double Seconds(const std::function<void()>& job) {
  const auto start = std::chrono::steady_clock::now();
  job();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Best(int runs, const std::function<void()>& job) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) best = std::min(best, Seconds(job));
  return best;
}

void Report(const char* what, double figure, const char* baselineName, double baseline,
            double goal) {
  std::printf("%-44s %9.1f ms   %-34s %9.1f ms   ratio %5.2fx (goal <= %.1fx)\n", what,
              figure * 1000, baselineName, baseline * 1000, figure / baseline, goal);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

  char scratchName[] = "/tmp/velmora-bench-script-XXXXXX";
  if (::mkdtemp(scratchName) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path scratch = scratchName;
  const fs::path drive = scratch / "d";
  const fs::path textures = drive / "贴图";
  fs::create_directories(scratch / "prefix" / "dosdevices");
  fs::create_directories(textures);
  fs::create_symlink(drive, scratch / "prefix" / "dosdevices" / "d:");
  ::setenv("WINEPREFIX", (scratch / "prefix").c_str(), 1);

  for (int p = 0; p < kPackages; ++p) {
    const fs::path package = textures / PackageName(p);
    for (int i = 0; i < kImages; ++i) {
      fs::create_directories(package / ("shot" + std::to_string(1000 + i) + ".img"));
    }
    if (p % 10 == 0) Touch(package / "说明.txt");
  }
  Touch(textures / "readme.txt");

  const Text folder = common::Utf8ToGbkText("D:\\贴图");
  const std::string findCommand =
      "find '" + textures.string() + "' -mindepth 2 -maxdepth 2 -type d >/dev/null";

  // Warm the caches once.
  if (std::system(findCommand.c_str()) != 0) std::fprintf(stderr, "find failed\n");
  Text script = velmora::GenerateScriptText(folder);

  std::printf("texture folder: %d package folders x %d image folders, script %.1f MiB, best of %d\n",
              kPackages, kImages, script.size() / 1048576.0, runs);

  const double find = Best(runs, [&] {
    if (std::system(findCommand.c_str()) != 0) std::fprintf(stderr, "find failed\n");
  });
  const double generation = Best(runs, [&] { script = velmora::GenerateScriptText(folder); });
  Report("1. patch script, GUI-free", generation, "find -mindepth 2 -maxdepth 2", find, 1.0);

  int appArgc = 1;
  char appName[] = "bench_script";
  char* appArgv[] = {appName, nullptr};
  QApplication app(appArgc, appArgv);
  QApplication::setQuitOnLastWindowClosed(false);
  fs::current_path(scratch);  // no skin picture here: the window draws its background colour
  velmora::ScriptWindow::Open();
  velmora::ScriptWindow* window = velmora::ScriptWindow::Current();
  if (window == nullptr) {
    std::fprintf(stderr, "the script window did not open\n");
    return 1;
  }
  window->FolderBox()->SetText(folder);
  QCoreApplication::processEvents();

  const double inWindow = Best(runs, [&] {
    window->Buttons()[1]->Click();
    window->Window()->repaint();
  });
  if (window->Buffer() != script || window->ScriptView()->GetText() != script) {
    std::fprintf(stderr, "the window's script differs from the GUI-free one\n");
    return 1;
  }
  Report("2. 生成代码 in the window, shown", inWindow, "1. GUI-free generation", generation, 2.0);

  const double show = Best(runs, [&] {
    window->ScriptView()->SetText(Text());
    window->ScriptView()->SetText(script);
    window->Window()->repaint();
  });
  Report("3. script view shows the script", show, "1. GUI-free generation", generation, 2.0);
  // Where the view's time goes: the text conversion for the toolkit is part of it.
  qsizetype shownLength = 0;
  const double convert = Best(runs, [&] {
    QString text = ui::ToQ(script);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shownLength = text.size();
  });
  std::printf("   for scale, converting the whole text for the toolkit: %.1f ms (%lld characters)\n",
              convert * 1000, static_cast<long long>(shownLength));

  window->Window()->close();
  QCoreApplication::processEvents();
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return 0;
}
