#include "velmora/script/script_gen.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace common::literals;

// A scratch drive D: of a private Wine prefix; texture folders are laid out under it.
class DriveD {
 public:
  DriveD() { prefix_.MapDrive('d', drive_.path()); }

  // A place on the drive, relative to its root, UTF-8 with "/" ("tex/a.NPK/x.img").
  fs::path Native(const std::string& relative) const { return drive_ / relative; }
  void MakeFolder(const std::string& relative) const { fs::create_directories(Native(relative)); }
  void MakeFile(const std::string& relative) const { support::WriteFile(Native(relative), "x"); }

  // The sub-folders of a folder of the drive in the order the directory listing gives them.
  std::vector<common::Text> ListingOrder(const std::string& relative) const {
    std::vector<common::Text> names;
    DIR* dir = ::opendir(Native(relative).c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || !fs::is_directory(Native(relative) / name)) continue;
      names.push_back(common::Utf8ToGbkText(name));
    }
    ::closedir(dir);
    return names;
  }

 private:
  support::WinePrefix prefix_;
  support::TempDir drive_{"velmora-drive-d"};
};

const common::Text& Header() {
  static const common::Text header =
      "//2013.3.15 星期五 修复无法运行\r\n\r\n//版本 1.1\r\n\r\nVER 220\r\n\r\nSETMODE OPTIMIZE\r\n\r\n"_gbk;
  return header;
}

// Script lines (CR LF line ends; no item after the last one).
std::vector<common::Text> Lines(const common::Text& script) {
  return common::Split(script, "\r\n");
}

TEST(ScriptGenerator, WorkedExampleByteForByte) {
  DriveD drive;
  drive.MakeFolder("tex/sprite_character_gunner_effect.NPK/shot0000.img");
  drive.MakeFolder("tex/sprite_character_gunner_effect.NPK/shot0001.img");

  common::Text expected = Header() + "OPEN   ImagePacks2\\sprite_character_gunner_effect.NPK\r\n";
  for (const common::Text& image : drive.ListingOrder("tex/sprite_character_gunner_effect.NPK")) {
    expected += "LAUNCH  sprite/character/gunner/effect/" + image + "\r\n";
    expected += "TEX     N|ALL|32|D:\\tex\\sprite_character_gunner_effect.NPK\\" + image + "\\\r\n";
  }
  expected += "CLOSE\r\n\r\n";

  EXPECT_EQ(GenerateScriptText("D:\\tex"), expected);
  // Both image folders are there, each once, in the listing's order.
  EXPECT_EQ(Lines(expected).size(), 15u);
  EXPECT_NE(expected.find("shot0000.img\\\r\n"), std::string::npos);
  EXPECT_NE(expected.find("shot0001.img\\\r\n"), std::string::npos);
}

TEST(ScriptGenerator, WorkedExampleShowsTheBufferOnceAtTheEnd) {
  DriveD drive;
  drive.MakeFolder("tex/sprite_character_gunner_effect.NPK/shot0000.img");
  drive.MakeFolder("tex/sprite_character_gunner_effect.NPK/shot0001.img");
  std::vector<common::Text> shown;
  ScriptGenerator generator(ScriptHooks{
      [] { return common::Text("D:\\tex"); }, [] { return true; },
      [&shown](const common::Text& script) { shown.push_back(script); }});
  ASSERT_TRUE(generator.Generate());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown.front(), generator.Buffer());
  EXPECT_EQ(generator.Buffer(), GenerateScriptText("D:\\tex"));
  // The working texts and the image-folder list keep the last package folder.
  EXPECT_EQ(generator.PackageName(), "sprite_character_gunner_effect.NPK");
  EXPECT_EQ(generator.PackagePath(), "D:\\tex\\sprite_character_gunner_effect.NPK");
  EXPECT_EQ(generator.CurrentLaunchPrefix(), "sprite/character/gunner/effect");
  EXPECT_EQ(generator.ImageFolders().size(), 2u);
}

// One package folder with at most one image folder, so that the whole script is known.
struct OnePackageCase {
  const char* what;
  std::vector<std::string> folders;  // under the drive root, UTF-8
  std::vector<std::string> files;
  const char* folderText;            // UTF-8
  const char* body;                  // the script after the header, UTF-8
};

TEST(ScriptGenerator, ScriptsOfSmallTextureFolders) {
  const OnePackageCase cases[] = {
      {"texture folder without sub-folders", {"tex"}, {}, "D:\\tex", ""},
      {"missing texture folder", {}, {}, "D:\\nothing", ""},
      {"texture folder that is a file", {}, {"tex"}, "D:\\tex", ""},
      {"files at the first two levels are ignored",
       {"tex/pkg.npk/a.img"},
       {"tex/readme.txt", "tex/pkg.npk/list.txt", "tex/pkg.npk/a.img/0.png"},
       "D:\\tex",
       "OPEN   ImagePacks2\\pkg.npk\r\nLAUNCH  pkg/a.img\r\n"
       "TEX     N|ALL|32|D:\\tex\\pkg.npk\\a.img\\\r\nCLOSE\r\n\r\n"},
      {"name without .npk and without a dot",
       {"tex/abc_def/img"},
       {},
       "D:\\tex",
       "OPEN   ImagePacks2\\abc_def\r\nLAUNCH  abc/def/img\r\n"
       "TEX     N|ALL|32|D:\\tex\\abc_def\\img\\\r\nCLOSE\r\n\r\n"},
      {".NPK in the middle goes before _ becomes /",
       {"tex/a.NPK_b/x.img"},
       {},
       "D:\\tex",
       "OPEN   ImagePacks2\\a.NPK_b\r\nLAUNCH  a/b/x.img\r\n"
       "TEX     N|ALL|32|D:\\tex\\a.NPK_b\\x.img\\\r\nCLOSE\r\n\r\n"},
      {"every .npk in any letter case",
       {"tex/x.Npk_y.nPK.npk/i.img"},
       {},
       "D:\\tex",
       "OPEN   ImagePacks2\\x.Npk_y.nPK.npk\r\nLAUNCH  x/y/i.img\r\n"
       "TEX     N|ALL|32|D:\\tex\\x.Npk_y.nPK.npk\\i.img\\\r\nCLOSE\r\n\r\n"},
      {"package folder without image folders",
       {"tex/empty.NPK"},
       {"tex/empty.NPK/file.img"},
       "D:\\tex",
       "OPEN   ImagePacks2\\empty.NPK\r\nCLOSE\r\n\r\n"},
      {"hidden folders count like any other",
       {"tex/.hidden_pkg/.img"},
       {},
       "D:\\tex",
       "OPEN   ImagePacks2\\.hidden_pkg\r\nLAUNCH  .hidden/pkg/.img\r\n"
       "TEX     N|ALL|32|D:\\tex\\.hidden_pkg\\.img\\\r\nCLOSE\r\n\r\n"},
      {"drive root keeps its backslash and gets another",
       {"pkg_a.npk/i.img"},
       {},
       "D:\\",
       "OPEN   ImagePacks2\\pkg_a.npk\r\nLAUNCH  pkg/a/i.img\r\n"
       "TEX     N|ALL|32|D:\\\\pkg_a.npk\\i.img\\\r\nCLOSE\r\n\r\n"},
      {"second bytes 0x5F and 0x5C inside double-byte characters stay",
       {"tex/乢乗_乢.NPK/乗乢_x.img"},
       {},
       "D:\\tex",
       "OPEN   ImagePacks2\\乢乗_乢.NPK\r\nLAUNCH  乢乗/乢/乗乢_x.img\r\n"
       "TEX     N|ALL|32|D:\\tex\\乢乗_乢.NPK\\乗乢_x.img\\\r\nCLOSE\r\n\r\n"},
      {"typed path with a trailing backslash is used as typed",
       {"tex/p/i"},
       {},
       "D:\\tex\\",
       "OPEN   ImagePacks2\\p\r\nLAUNCH  p/i\r\nTEX     N|ALL|32|D:\\tex\\\\p\\i\\\r\nCLOSE\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DriveD drive;
    for (const auto& folder : c.folders) drive.MakeFolder(folder);
    for (const auto& file : c.files) drive.MakeFile(file);
    EXPECT_EQ(GenerateScriptText(common::Utf8ToGbkText(c.folderText)),
              Header() + common::Utf8ToGbkText(c.body));
  }
}

TEST(ScriptGenerator, LaunchPrefixStepsOverDoubleByteCharacters) {
  struct Case {
    const char* name;  // UTF-8
    const char* prefix;
  } const cases[] = {
      {"sprite_character_gunner_effect.NPK", "sprite/character/gunner/effect"},
      {"a.NPK_b", "a/b"},
      {"abc_def", "abc/def"},
      {".npk.NPK.Npk", ""},
      {"x.npkx_.npk", "xx/"},
      {"乢", "乢"},            // 81 5F: no underscore in it
      {"乢_乢", "乢/乢"},
      {"乗.npk", "乗"},        // 81 5C
      {"__", "//"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LaunchPrefix(common::Utf8ToGbkText(c.name)), common::Utf8ToGbkText(c.prefix));
  }
}

TEST(ListSubfolders, AppendsFoldersOnlyInListingOrder) {
  DriveD drive;
  for (const char* name : {"b_dir", "A", "nodot", ".hidden", "with.dot", "乢乗"}) {
    drive.MakeFolder(std::string("tex/") + name);
  }
  drive.MakeFile("tex/file.txt");
  drive.MakeFile("tex/nodotfile");
  fs::create_directory_symlink(drive.Native("tex/A"), drive.Native("tex/link_to_folder"));

  const std::vector<common::Text> order = drive.ListingOrder("tex");
  ASSERT_EQ(order.size(), 7u);
  for (const char* folder : {"D:\\tex", "D:\\tex\\", "d:\\TEX"}) {
    SCOPED_TRACE(folder);
    std::vector<common::Text> list = {"kept"};
    ListSubfolders(folder, list);
    std::vector<common::Text> expected = {"kept"};
    expected.insert(expected.end(), order.begin(), order.end());
    EXPECT_EQ(list, expected);
  }
}

TEST(ListSubfolders, FoldersThatCannotBeListedAddNothing) {
  DriveD drive;
  drive.MakeFile("tex/file.txt");
  for (const char* folder : {"D:\\missing", "D:\\tex\\file.txt", "Q:\\no drive", "D:\\tex\\*"}) {
    SCOPED_TRACE(folder);
    std::vector<common::Text> list = {"kept"};
    ListSubfolders(folder, list);
    EXPECT_EQ(list, std::vector<common::Text>{"kept"});
  }
}

TEST(ScriptGenerator, EmptyFolderTextWalksTheRootFolder) {
  ScriptGenerator generator(ScriptHooks{[] { return common::Text(); }, {}, {}});
  ASSERT_TRUE(generator.Generate());
  const common::Text& script = generator.Buffer();
  ASSERT_TRUE(common::StartsWith(script, Header()));
  ASSERT_FALSE(generator.PackageFolders().empty());
  EXPECT_EQ(generator.PackagePath(), "\\" + generator.PackageFolders().back());
  bool sawTex = false;
  for (const common::Text& line : Lines(script)) {
    if (!common::StartsWith(line, "TEX     N|ALL|32|")) continue;
    sawTex = true;
    const common::Text path = common::Mid(line, 18);
    ASSERT_TRUE(common::StartsWith(path, "\\")) << line;
    ASSERT_FALSE(common::StartsWith(path, "\\\\")) << line;
  }
  EXPECT_TRUE(sawTex);  // the root's folders have sub-folders
}

TEST(ScriptGenerator, SecondGenerationReplacesTheFirst) {
  DriveD drive;
  drive.MakeFolder("tex/p.npk/i.img");
  ScriptGenerator generator(ScriptHooks{[] { return common::Text("D:\\tex"); }, {}, {}});
  generator.Generate();
  const common::Text first = generator.Buffer();
  generator.Generate();
  EXPECT_EQ(generator.Buffer(), first);
  EXPECT_EQ(generator.PackageFolders(), std::vector<common::Text>{"p.npk"});
}

TEST(ScriptGenerator, GenerateScriptAppendsToTheBufferAndTheList) {
  // Without the caller's clearing, the script is appended, as the window's steps imply.
  DriveD drive;
  drive.MakeFolder("tex/p.npk/i.img");
  ScriptGenerator generator(ScriptHooks{[] { return common::Text("D:\\tex"); }, {}, {}});
  generator.Buffer() = "before\r\n";
  ListSubfolders("D:\\tex", generator.PackageFolders());
  ListSubfolders("D:\\tex", generator.PackageFolders());
  generator.GenerateScript();
  const common::Text package =
      "OPEN   ImagePacks2\\p.npk\r\nLAUNCH  p/i.img\r\nTEX     N|ALL|32|D:\\tex\\p.npk\\i.img\\\r\n"
      "CLOSE\r\n\r\n";
  EXPECT_EQ(generator.Buffer(), "before\r\n" + Header() + package + package);
}

TEST(ScriptGenerator, EveryTexLineReadsTheFolderBoxAgain) {
  DriveD drive;
  drive.MakeFolder("tex/p.npk/one.img");
  drive.MakeFolder("tex/p.npk/two.img");
  const std::vector<common::Text> images = drive.ListingOrder("tex/p.npk");
  ASSERT_EQ(images.size(), 2u);
  // The user types another folder while the generator runs: from the first pump on, the folder
  // box says E:\typed.
  common::Text box = "D:\\tex";
  ScriptGenerator generator(ScriptHooks{[&box] { return box; },
                                        [&box] {
                                          box = "E:\\typed";
                                          return true;
                                        },
                                        {}});
  generator.Generate();
  const std::vector<common::Text> lines = Lines(generator.Buffer());
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[10], "TEX     N|ALL|32|D:\\tex\\p.npk\\" + images[0] + "\\");
  EXPECT_EQ(lines[12], "TEX     N|ALL|32|E:\\typed\\p.npk\\" + images[1] + "\\");
  EXPECT_EQ(generator.PackagePath(), "D:\\tex\\p.npk");
}

TEST(ScriptGenerator, PumpsAfterEveryPairAndEveryPackageAndCanBeStopped) {
  DriveD drive;
  drive.MakeFolder("tex/p.npk/one.img");
  drive.MakeFolder("tex/p.npk/two.img");
  drive.MakeFolder("tex/q.npk/three.img");
  drive.MakeFolder("tex/r.npk");

  std::vector<common::Text> atPump;
  ScriptGenerator* self = nullptr;
  ScriptGenerator generator(ScriptHooks{[] { return common::Text("D:\\tex"); },
                                        [&] {
                                          atPump.push_back(self->Buffer());
                                          return true;
                                        },
                                        {}});
  self = &generator;
  ASSERT_TRUE(generator.Generate());
  // Each pump comes right after a TEX line or right after a package folder's closing lines,
  // and the script grows between two pumps.
  std::vector<char> kinds;
  for (std::size_t i = 0; i < atPump.size(); ++i) {
    if (i > 0) {
      EXPECT_GT(atPump[i].size(), atPump[i - 1].size());
    }
    if (common::EndsWith(atPump[i], "\\\r\n") && Lines(atPump[i]).back().starts_with("TEX ")) {
      kinds.push_back('T');
    } else if (common::EndsWith(atPump[i], "CLOSE\r\n\r\n")) {
      kinds.push_back('C');
    } else {
      kinds.push_back('?');
    }
  }
  // Folder order is the listing's, so compare the pattern per package: p has 2 pairs, q 1, r 0.
  std::string expectedKinds;
  for (const common::Text& package : drive.ListingOrder("tex")) {
    expectedKinds += package == "p.npk" ? "TTC" : package == "q.npk" ? "TC" : "C";
  }
  EXPECT_EQ(std::string(kinds.begin(), kinds.end()), expectedKinds);
  EXPECT_EQ(atPump.back(), generator.Buffer());

  // A pump that says stop ends the generation right there, and nothing is shown.
  bool shown = false;
  int pumps = 0;
  ScriptGenerator stopped(ScriptHooks{[] { return common::Text("D:\\tex"); },
                                      [&pumps] { return ++pumps < 2; },
                                      [&shown](const common::Text&) { shown = true; }});
  EXPECT_FALSE(stopped.Generate());
  EXPECT_FALSE(shown);
  EXPECT_EQ(stopped.Buffer(), atPump[1]);
}

}  // namespace
}  // namespace velmora
