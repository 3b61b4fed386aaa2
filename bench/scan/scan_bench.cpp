// Benchmark of the cleanup window's main job on a large installation.
//
// Generates, in a temporary folder, an ImagePacks2 folder of 20,000 packages (mixed case, one
// in five unofficial, some with "(" or Chinese names) and tables of 50,000 official names and
// 50,000 check rows (about 4 MiB enciphered), then measures in the same run:
//   1. the package scan, GUI-free, against `find` listing the same folder with dates;
//   2. the cross-server scan, GUI-free, against the same `find`;
//   3. loading both tables against `openssl enc -d -rc4` deciphering the same bytes;
//   4. the package scan of the cleanup window (offscreen) showing 20,000 rows, against the
//      GUI-free scan giving the same rows.
// Each figure is the best of several runs; the ratio is figure / baseline.
//   bench_scan [RUNS]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/paths.h"
#include "ui/dialogs.h"
#include "ui/skin.h"
#include "velmora/cleanup/cleanup_window.h"
#include "velmora/cleanup/scan.h"
#include "velmora/cleanup/tables.h"

namespace {

namespace fs = std::filesystem;
using common::Text;

constexpr int kPackages = 20000;
constexpr int kUnofficialEvery = 5;  // one package in five is unofficial
constexpr int kOfficialNames = 50000;
constexpr int kCheckRows = 50000;

const char* const kJobs[] = {"swordman", "fighter", "gunner",        "mage",     "priest",
                             "thief",    "knight",  "demoniclancer", "gunblader"};
const char* const kParts[] = {"cap", "hair", "face", "neck", "coat", "pants", "belt", "shoes"};

std::string OfficialName(int i) {
  return "sprite_character_" + std::string(kJobs[i % 9]) + "_equipment_avatar_" +
         kParts[(i / 9) % 8] + std::to_string(i) + ".NPK";
}

// Unofficial names (UTF-8): copies with "(", Chinese names, both, and plain ASCII mods.
std::string UnofficialName(int i) {
  switch (i % 4) {
    case 0:
      return "sprite_character_" + std::string(kJobs[i % 9]) + "_mod" + std::to_string(i) +
             "(1).NPK";
    case 1:
      return "时装_鬼剑士_" + std::to_string(i) + ".npk";
    case 2:
      return "天空套(" + std::to_string(i) + ")_魔法师.NPK";
    default:
      return "mod_weather_" + std::to_string(i) + "_off.npk";
  }
}

// The name as the file system holds it: the extension's case varies.
std::string OnDisk(const std::string& name, int i) {
  if (i % 2 == 0) return name;
  std::string lower = name.substr(0, name.size() - 4);
  return lower + ".npk";
}

void Touch(const fs::path& path, int i) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) ::close(fd);
  const time_t when = 1356998400 + static_cast<time_t>(i) * 7919;  // spread over the years
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of `runs`, after one warm-up run.
double Best(int runs, const std::function<void()>& work) {
  work();
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, Seconds(work));
  return best;
}

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

void Figure(const char* what, double seconds, const char* baselineName, double baseline,
            double goal) {
  const double ratio = seconds / baseline;
  std::printf("%-44s %9.2f ms   %-26s %9.2f ms   ratio %5.2f  (goal <= %.1f%s)\n", what,
              seconds * 1000, baselineName, baseline * 1000, ratio, goal,
              ratio <= goal ? "" : ", MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

  char pattern[] = "/tmp/velmora-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path root = pattern;
  const fs::path packs = root / "ImagePacks2";
  const fs::path data = root / "run" / "皮肤图片";
  fs::create_directories(packs);
  fs::create_directories(data);
  // A prefix of its own: the window's path box must not come from the user's registry.
  qputenv("WINEPREFIX", (root / "prefix").c_str());

  // The folder and the tables.
  std::vector<Text> official;
  std::vector<Text> check;
  int unofficial = 0;
  for (int i = 0; i < kPackages; ++i) {
    if (i % kUnofficialEvery == 0) {
      const std::string name = UnofficialName(i);
      Touch(packs / OnDisk(name, i), i);
      ++unofficial;
      if (i % 2 == 0) {  // labels for half of them, under their base names
        check.push_back(velmora::BaseName(common::ToLower(common::Utf8ToGbkText(name))) + "@@@" +
                        common::Utf8ToGbkText("非官方 装扮补丁 " + std::to_string(i)));
      }
    } else {
      Touch(packs / OnDisk(OfficialName(i), i), i);
      official.push_back(OfficialName(i));
    }
  }
  for (int i = 0; i < 20; ++i) Touch(packs / ("disabled" + std::to_string(i) + ".npknpk"), i);
  Touch(packs / "_a_", 1);
  for (int i = kPackages; static_cast<int>(official.size()) < kOfficialNames; ++i) {
    official.push_back(OfficialName(i));
  }
  for (int i = 0; static_cast<int>(check.size()) < kCheckRows; ++i) {
    check.push_back("sprite_interface_" + std::to_string(i) + "_ui.npk@@@" +
                    common::Utf8ToGbkText("界面 " + std::to_string(i)));
  }
  const std::string officialBytes = velmora::EncipherTable(velmora::TablePlainText(official));
  const std::string checkBytes = velmora::EncipherTable(velmora::TablePlainText(check));
  WriteBytes(data / "数据列表.sjk", officialBytes);
  WriteBytes(data / "数据核对.sjk", checkBytes);
  WriteBytes(root / "both.sjk", checkBytes + officialBytes);
  const Text officialPath = platform::ProgramPath(data / "数据列表.sjk");
  const Text checkPath = platform::ProgramPath(data / "数据核对.sjk");
  const Text folder = platform::ProgramPath(packs);

  std::printf(
      "Folder: %d packages (%d unofficial), tables %d + %d rows, %.2f MiB enciphered; "
      "best of %d runs\n\n",
      kPackages, unofficial, kOfficialNames, kCheckRows,
      static_cast<double>(officialBytes.size() + checkBytes.size()) / (1 << 20), runs);

  // 1 and 2: the scans against find.
  velmora::NameTables tables;
  tables.LoadNameCheckTable(checkPath);
  tables.LoadOfficialNameList(officialPath);
  const std::string find = "env TZ=:/etc/localtime find " + ShellQuote(packs.string()) +
                           " -maxdepth 1 -iname '*.npk' -printf '%TY-%Tm-%Td %f\\n' >/dev/null";
  const double findTime = Best(runs, [&] { Shell(find); });
  std::size_t packageRows = 0;
  std::size_t crossRows = 0;
  const double packageTime =
      Best(runs, [&] { packageRows = velmora::RunPackageScan(folder, tables).rows.size(); });
  const double crossTime =
      Best(runs, [&] { crossRows = velmora::RunCrossServerScan(folder, tables).rows.size(); });
  std::printf("package scan: %zu rows, cross-server scan: %zu rows\n", packageRows, crossRows);
  Figure("package scan (listing, lookups, dates)", packageTime, "find -printf dates", findTime,
         0.8);
  Figure("cross-server scan (listing, lookups, dates)", crossTime, "find -printf dates", findTime,
         0.8);

  // 3: loading the tables against openssl deciphering the same bytes. openssl's rc4 takes a
  // 16-byte key and ignores the rest of the hex text, which costs it nothing.
  std::string hexKey;
  for (unsigned char c : std::string("k7m2q9w3x8z1c6v4b5n0")) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", c);
    hexKey += digits;
  }
  const std::string openssl = "openssl enc -d -rc4 -provider legacy -provider default -K " +
                              hexKey + " -nosalt -in " + ShellQuote((root / "both.sjk").string()) +
                              " -out /dev/null 2>/dev/null";
  const double opensslTime = Best(runs, [&] { Shell(openssl); });
  const double loadTime = Best(runs, [&] {
    velmora::NameTables loaded;
    loaded.LoadNameCheckTable(checkPath);
    loaded.LoadOfficialNameList(officialPath);
  });
  Figure("loading both tables", loadTime, "openssl enc -d -rc4", opensslTime, 2.0);

  // 4: the window shows every package of the folder: its official list names none of them.
  WriteBytes(data / "数据列表.sjk", velmora::EncipherTable(velmora::TablePlainText({"none.npk"})));
  QApplication app(argc, argv);
  fs::current_path(root / "run");
  ui::testing::SetAnswerer([](const ui::testing::ShownDialog&) {
    return ui::testing::DialogAnswer{ui::kAnswerOk, std::nullopt};
  });
  velmora::CleanupWindow* window = velmora::CleanupWindow::Load();
  if (window == nullptr) {
    std::printf("the cleanup window did not load\n");
    return 1;
  }
  window->PathBox()->SetText(folder);
  std::size_t allRows = 0;
  const double bareTime =
      Best(runs, [&] { allRows = velmora::RunPackageScan(folder, window->Tables()).rows.size(); });
  const double windowTime = Best(runs, [&] {
    window->PackageScan();
    QApplication::processEvents();  // the list is painted
  });
  std::printf("window list: %d rows (GUI-free scan: %zu rows)\n", window->PackageList()->Count(),
              allRows);
  Figure("cleanup window: scan and show all rows", windowTime, "GUI-free scan", bareTime, 1.5);

  velmora::CleanupWindow::Unload();
  ui::testing::SetAnswerer(nullptr);
  fs::current_path("/");
  std::error_code error;
  fs::remove_all(root, error);
  return 0;
}
