// Benchmark of the update archive's install.
//
// Generates, in a temporary folder, an old and a new version of an installation of 50 files of
// about 4 MiB each (text lines of words and numbers: compressible, but not trivially), zips both
// with `zip`, and measures in the same run, on the same warm archive:
//   1. InstallArchive into a fresh folder, against `unzip -o -q` and `bsdtar -xf`;
//   2. InstallArchive over the old version, against `unzip -o -q` over the old version;
//   3. CheckArchive alone, against `unzip -t -q`.
// InstallArchive includes all its checks, the staging, the swap with its journal and the removal
// of the backups. The folders are prepared before each run and removed after it, outside the
// measured time. Each figure is the best of several runs; the ratio is figure / baseline.
//   bench_extract [RUNS]
//
// Bench note: needs the tools zip, unzip and bsdtar (Debian packages zip, unzip and
// libarchive-tools) on the PATH.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "update/install.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 50;
constexpr std::size_t kFileSize = 4 * 1024 * 1024;

const char* const kWords[] = {"package", "texture", "sprite",  "avatar", "weapon", "effect",
                              "skill",   "frame",   "palette", "layer",  "offset", "width",
                              "height",  "alpha",   "index",   "motion", "shadow", "light"};

// Lines of words and numbers from a fixed pseudo-random sequence.
std::string MakeContent(std::uint64_t seed) {
  std::string text;
  text.reserve(kFileSize + 128);
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  while (text.size() < kFileSize) {
    const std::uint64_t r = next();
    text += kWords[r % 18];
    text += ' ';
    text += std::to_string((r >> 8) % 100000);
    text += (r >> 40) % 8 == 0 ? '\n' : ' ';
  }
  text.resize(kFileSize);
  return text;
}

void MakeVersion(const fs::path& root, std::uint64_t seed) {
  for (int i = 0; i < kFiles; ++i) {
    const fs::path path =
        root / ("data" + std::to_string(i % 5)) / ("part" + std::to_string(i) + ".npk");
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    const std::string content = MakeContent(seed * 1000 + static_cast<std::uint64_t>(i));
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
}

bool Shell(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "failed: %s\n", command.c_str());
  return false;
}

// Best of `runs` after one warm-up run; prepare runs before and clean after each, untimed.
double Best(int runs, const std::function<void()>& prepare, const std::function<void()>& work,
            const std::function<void()>& clean) {
  double best = 1e30;
  for (int i = 0; i <= runs; ++i) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    work();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    clean();
    if (i > 0) best = std::min(best, seconds);
  }
  return best;
}

void Report(const char* what, double time, const char* baseline, double baseTime, double goal) {
  std::printf("%-40s %9.1f ms   %-28s %9.1f ms   ratio %5.2f  (goal <= %.1f)\n", what, time * 1000,
              baseline, baseTime * 1000, time / baseTime, goal);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const fs::path base = fs::temp_directory_path() / ("bench-extract-" + std::to_string(::getpid()));
  const fs::path archive = base / "new.zip";
  const fs::path oldArchive = base / "old.zip";
  const fs::path target = base / "target";
  fs::create_directories(base);

  MakeVersion(base / "new", 1);
  MakeVersion(base / "old", 2);
  if (!Shell("cd '" + (base / "new").string() + "' && zip -q -r '" + archive.string() + "' .") ||
      !Shell("cd '" + (base / "old").string() + "' && zip -q -r '" + oldArchive.string() + "' .")) {
    return 1;
  }
  fs::remove_all(base / "new");
  fs::remove_all(base / "old");
  std::printf("archive: %d files, %.1f MB unpacked, %.1f MB packed\n", kFiles,
              kFiles * kFileSize / 1e6, static_cast<double>(fs::file_size(archive)) / 1e6);

  auto fresh = [&] { fs::create_directories(target); };
  auto old = [&] {
    fs::create_directories(target);
    Shell("unzip -o -q '" + oldArchive.string() + "' -d '" + target.string() + "'");
  };
  auto clean = [&] { fs::remove_all(target); };
  bool installed = true;
  auto install = [&] {
    const update::InstallOutcome outcome =
        update::InstallArchive(archive.string(), target.string());
    if (outcome.result != update::InstallResult::Installed) {
      std::fprintf(stderr, "install failed: %s\n", outcome.reason.c_str());
      installed = false;
    }
  };
  const std::string unzip = "unzip -o -q '" + archive.string() + "' -d '" + target.string() + "'";
  const std::string bsdtar = "bsdtar -xf '" + archive.string() + "' -C '" + target.string() + "'";
  const std::string unzipTest = "unzip -t -q '" + archive.string() + "' > /dev/null";

  const double unzipFresh = Best(
      runs, fresh, [&] { Shell(unzip); }, clean);
  const double bsdtarFresh = Best(
      runs, fresh, [&] { Shell(bsdtar); }, clean);
  const double installFresh = Best(runs, fresh, install, clean);
  const double unzipOld = Best(
      runs, old, [&] { Shell(unzip); }, clean);
  const double installOld = Best(runs, old, install, clean);
  const double unzipCheck = Best(
      runs, [] {}, [&] { Shell(unzipTest); }, [] {});
  const double check = Best(
      runs, [] {},
      [&] {
        if (!update::CheckArchive(archive.string()).empty()) installed = false;
      },
      [] {});

  Report("InstallArchive, fresh folder", installFresh, "unzip -o -q", unzipFresh, 1.0);
  Report("InstallArchive, fresh folder", installFresh, "bsdtar -xf", bsdtarFresh, 1.2);
  Report("InstallArchive, over the old version", installOld, "unzip -o -q over the old", unzipOld,
         1.0);
  Report("CheckArchive", check, "unzip -t -q", unzipCheck, 1.0);

  fs::remove_all(base);
  if (!installed) {
    std::fprintf(stderr, "the archive was not installed or did not pass its check\n");
    return 1;
  }
  return 0;
}
