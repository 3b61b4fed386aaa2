// The actions of the cleanup window on real files: the file menu, the path menu, dropped files,
// the skin change and the About box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "tests/velmora/cleanup/cleanup_fixture.h"
#include "ui/dialogs.h"
#include "ui/skin.h"
#include "velmora/cleanup/cleanup_window.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using common::Text;
using namespace common::literals;
using testing::CleanupFixture;
using testing::RunQueued;
using ui::testing::DialogAnswer;
using ui::testing::DialogKind;
using ui::testing::ShownDialog;

class ActionsTest : public CleanupFixture {
 protected:
  void SetUp() override {
    CleanupFixture::SetUp();
    window_ = LoadWindow();
    ASSERT_NE(window_, nullptr);
  }

  ui::List* List() { return window_->PackageList(); }

  // Files p01.npk .. pNN.npk in the package folder and one row for each, in order.
  void MakeRows(int count) {
    List()->RemoveAll();
    std::vector<std::vector<Text>> rows;
    for (int i = 1; i <= count; ++i) {
      const std::string name = Name(i);
      PutPackage(name, "bytes of " + name);
      rows.push_back({name, " 未能分析文件"_gbk, "2024年1月1日"_gbk});
    }
    List()->AppendRows(rows);
  }
  static std::string Name(int i) { return (i < 10 ? "p0" : "p") + std::to_string(i) + ".npk"; }

  std::vector<Text> Rows() {
    std::vector<Text> names;
    for (int row = 1; row <= List()->Count(); ++row) names.push_back(List()->Cell(row, 1));
    return names;
  }

  void Select(const std::vector<int>& rows) {
    for (int row : rows) {
      List()->SetCurrentRow(row);
      List()->SetSelected(row, true);
    }
  }

  void Choose(ui::PopupMenu* menu, const Text& item) {
    menu->Choose(item);
    RunQueued();
  }

  bool InFolder(const std::string& name) const { return fs::exists(Packages() / name); }

  CleanupWindow* window_ = nullptr;
};

TEST_F(ActionsTest, DeleteSelectedAsksAndDeletesExactlyTheSelected) {
  struct Case {
    const char* what;
    int answer;
    bool deletes;
  };
  const std::vector<Case> cases = {
      {"是", ui::kAnswerYes, true},
      {"否", ui::kAnswerNo, false},
      {"closed", ui::kAnswerCancel, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeRows(10);
    Select({2, 5, 9});
    Answer([&](const ShownDialog&) { return DialogAnswer{c.answer, std::nullopt}; });
    Choose(window_->FileMenu(), "逐个文件清理"_gbk);

    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].text, "逐个文件清理,删除文件后无法恢复,确定删除吗？"_gbk);
    EXPECT_EQ(Shown()[0].title, "Nivra提示："_gbk);
    EXPECT_EQ(Shown()[0].buttonSet, 4);
    EXPECT_EQ(Shown()[0].owner, window_->Window());
    std::vector<Text> expected;
    for (int i = 1; i <= 10; ++i) {
      const bool selected = i == 2 || i == 5 || i == 9;
      EXPECT_EQ(InFolder(Name(i)), !(selected && c.deletes)) << Name(i);
      if (!(selected && c.deletes)) expected.push_back(Name(i));
    }
    EXPECT_EQ(Rows(), expected);
  }
}

TEST_F(ActionsTest, DeleteAllEmptiesTheListAndOnlyTheListedFiles) {
  struct Case {
    int answer;
    bool deletes;
  };
  for (const Case& c : std::vector<Case>{{ui::kAnswerNo, false}, {ui::kAnswerCancel, false}, {ui::kAnswerYes, true}}) {
    SCOPED_TRACE(c.answer);
    MakeRows(4);
    PutPackage("unlisted.npk");
    Answer([&](const ShownDialog&) { return DialogAnswer{c.answer, std::nullopt}; });
    Choose(window_->FileMenu(), "清理全部文件"_gbk);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].text, "全部文件清理,删除文件后无法恢复,确定删除吗？"_gbk);
    EXPECT_EQ(Shown()[0].buttonSet, 4);
    EXPECT_EQ(List()->Count(), c.deletes ? 0 : 4);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(InFolder(Name(i)), !c.deletes);
    EXPECT_TRUE(InFolder("unlisted.npk"));
  }
}

TEST_F(ActionsTest, PackageThatCannotBeDeletedKeepsItsRow) {
  Answer([](const ShownDialog&) { return DialogAnswer{ui::kAnswerYes, std::nullopt}; });
  struct Case {
    const char* what;
    Text folder;               // empty: the package folder
    std::vector<Text> rows;
    std::vector<Text> kept;
  };
  fs::create_directory(Packages() / "folder.npk");
  PutPackage("fine.npk");
  const std::vector<Case> cases = {
      // A folder of that name cannot go; a file that is already gone loses its row.
      {"folder and missing file", "", {"fine.npk", "folder.npk", "gone.npk"}, {"folder.npk"}},
      // /proc refuses every deletion, also for root.
      {"system folder", "\\proc\\self", {"comm", "none.npk"}, {"comm"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window_->PathBox()->SetText(c.folder.empty() ? PackageFolderText() : c.folder);
    List()->RemoveAll();
    std::vector<std::vector<Text>> rows;
    for (const Text& name : c.rows) rows.push_back({name, "x", "y"});
    List()->AppendRows(rows);
    Choose(window_->FileMenu(), "清理全部文件"_gbk);
    EXPECT_EQ(Rows(), c.kept);
  }
  EXPECT_FALSE(InFolder("fine.npk"));
  EXPECT_TRUE(fs::is_directory(Packages() / "folder.npk"));
}

TEST_F(ActionsTest, RowThatStaysKeepsItsSelection) {
  MakeRows(5);
  fs::create_directory(Packages() / "folder.npk");
  List()->SetCell(3, 1, "folder.npk");  // row 3 names a folder, which no deletion removes
  Select({2, 3, 5});
  Answer([](const ShownDialog&) { return DialogAnswer{ui::kAnswerYes, std::nullopt}; });
  Choose(window_->FileMenu(), "逐个文件清理"_gbk);
  EXPECT_EQ(Rows(), (std::vector<Text>{Name(1), "folder.npk", Name(4)}));
  EXPECT_EQ(List()->SelectedRows(), std::vector<int>{2});
  EXPECT_EQ(List()->Cell(2, 2), " 未能分析文件"_gbk);
  EXPECT_FALSE(InFolder(Name(2)));
  EXPECT_FALSE(InFolder(Name(5)));
  EXPECT_TRUE(InFolder(Name(3)));  // not selected by name: its file was never touched
}

TEST_F(ActionsTest, EmptiedPathBoxTouchesNoFile) {
  // A cancelled folder choice empties the path box; the rows of the last scan must not then
  // name files in the root folder.
  MakeRows(2);
  window_->PathBox()->SetText("");
  Answer([](const ShownDialog&) { return DialogAnswer{ui::kAnswerYes, std::nullopt}; });
  Select({1});
  for (const Text& item : {"移文件至桌面"_gbk, "复文件至桌面"_gbk, "逐个文件清理"_gbk, "清理全部文件"_gbk}) {
    Choose(window_->FileMenu(), item);
  }
  EXPECT_EQ(Rows(), (std::vector<Text>{Name(1), Name(2)}));
  EXPECT_TRUE(InFolder(Name(1)));
  EXPECT_FALSE(fs::exists(home_.desktop() / Name(1)));
}

TEST_F(ActionsTest, FileInReadOnlyFolderKeepsItsRow) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  MakeRows(3);
  Select({1, 3});
  fs::permissions(Packages(), fs::perms::owner_read | fs::perms::owner_exec);
  Answer([](const ShownDialog&) { return DialogAnswer{ui::kAnswerYes, std::nullopt}; });
  Choose(window_->FileMenu(), "逐个文件清理"_gbk);
  fs::permissions(Packages(), fs::perms::owner_all);
  EXPECT_EQ(Rows(), (std::vector<Text>{Name(1), Name(2), Name(3)}));
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(InFolder(Name(i)));
}

TEST_F(ActionsTest, DeletionUsesThePathBoxAsItStandsNow) {
  MakeRows(2);
  support::TempDir other{"velmora-other"};
  support::WriteFile(other / Name(1), "other");
  window_->PathBox()->SetText(other.Text());
  Answer([](const ShownDialog&) { return DialogAnswer{ui::kAnswerYes, std::nullopt}; });
  Choose(window_->FileMenu(), "清理全部文件"_gbk);
  EXPECT_FALSE(fs::exists(other / Name(1)));
  EXPECT_TRUE(InFolder(Name(1)));  // the scanned folder keeps its files
  EXPECT_TRUE(InFolder(Name(2)));
  EXPECT_EQ(List()->Count(), 0);
}

TEST_F(ActionsTest, CopyAndMoveToTheDesktop) {
  const fs::path desktop = home_.desktop();
  struct Case {
    const char* what;
    Text item;
    std::string name;
    std::optional<std::string> onDesktop;  // a file already there
    bool desktopFolderInTheWay;            // a folder of that name on the desktop
    bool rowKept;
    bool sourceKept;
    bool placed;
  };
  const std::vector<Case> cases = {
      {"copy", "复文件至桌面"_gbk, "c.npk", std::nullopt, false, true, true, true},
      {"copy again replaces", "复文件至桌面"_gbk, "c.npk", "older copy", false, true, true, true},
      {"move", "移文件至桌面"_gbk, "m.npk", std::nullopt, false, false, false, true},
      {"move onto a file of that name", "移文件至桌面"_gbk, "n.npk", "older", false, false, false, true},
      {"move that cannot place the file", "移文件至桌面"_gbk, "f.npk", std::nullopt, true, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PutPackage(c.name, "package " + c.name);
    if (c.onDesktop) support::WriteFile(desktop / c.name, *c.onDesktop);
    if (c.desktopFolderInTheWay) fs::create_directories(desktop / c.name);
    List()->RemoveAll();
    List()->AppendRows({{"first.npk", "x", "y"}, {c.name, "x", "y"}, {"last.npk", "x", "y"}});
    Select({2});
    Choose(window_->FileMenu(), c.item);
    const std::vector<Text> kept = {"first.npk", c.name, "last.npk"};
    const std::vector<Text> moved = {"first.npk", "last.npk"};
    EXPECT_EQ(Rows(), c.rowKept ? kept : moved);
    EXPECT_EQ(InFolder(c.name), c.sourceKept);
    if (c.placed) {
      EXPECT_EQ(support::ReadFile(desktop / c.name), "package " + c.name);
    } else {
      EXPECT_TRUE(fs::is_directory(desktop / c.name));
      EXPECT_EQ(support::ReadFile(Packages() / c.name), "package " + c.name);
    }
  }
  EXPECT_TRUE(Shown().empty()) << "copies and moves are silent";
}

TEST_F(ActionsTest, CopyNameAndClearTheList) {
  PutPackage("ABC.NPK");
  PutPackage("official.npk");
  window_->PackageScanButton()->Click();
  ASSERT_EQ(Rows(), std::vector<Text>{"abc.npk"});
  Select({1});
  Choose(window_->FileMenu(), "复制文件名称"_gbk);
  EXPECT_EQ(ui::ClipboardText(), "abc.npk");

  Choose(window_->FileMenu(), "清空文件列表"_gbk);
  EXPECT_EQ(List()->Count(), 0);
  EXPECT_TRUE(InFolder("ABC.NPK"));
  window_->PackageScanButton()->Click();
  EXPECT_EQ(Rows(), std::vector<Text>{"abc.npk"});
}

TEST_F(ActionsTest, PathMenuReadsTheServerFolders) {
  struct Case {
    const char* what;
    std::vector<support::RegEntry> registry;
    Text item;
    Text pathBox;
  };
  const std::vector<support::RegEntry> both = {
      {"Software\\Tencent\\DNF", "Path", support::RegSz("D:/Games/Game")},
      {"Software\\Tencent\\DNFTest", "Path", support::RegSz("E:\\体验服/Game")},
  };
  const std::vector<Case> cases = {
      {"live", both, "正式服路径"_gbk, "D:\\Games\\Game\\ImagePacks2"},
      {"test", both, "体验服路径"_gbk, "E:\\体验服\\Game\\ImagePacks2"_gbk},
      {"no test value", {both[0]}, "体验服路径"_gbk, "\\ImagePacks2"},
      {"no live value", {both[1]}, "正式服路径"_gbk, "\\ImagePacks2"},
  };
  List()->AppendRows({{"keep.npk", "x", "y"}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    prefix_.WriteRegistry(c.registry);
    window_->PathBox()->SetText("before");
    Choose(window_->PathMenu(), c.item);
    EXPECT_EQ(window_->PathBox()->GetText(), c.pathBox);
  }
  EXPECT_EQ(Rows(), std::vector<Text>{"keep.npk"});
  EXPECT_TRUE(Shown().empty());
}

TEST_F(ActionsTest, ChoiceStillQueuedWhenTheWindowGoesDoesNothing) {
  MakeRows(2);
  Select({1});
  Answer([](const ShownDialog&) { return DialogAnswer{ui::kAnswerYes, std::nullopt}; });
  window_->FileMenu()->Choose("清理全部文件"_gbk);
  CleanupWindow::Unload();
  window_ = nullptr;
  RunQueued();
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(InFolder(Name(1)));
  EXPECT_TRUE(InFolder(Name(2)));
}

class DropTest : public ActionsTest {
 protected:
  support::TempDir source_{"velmora-drop"};
  Text Source(const std::string& name) {
    return source_.Text() + "\\" + common::Utf8ToGbkText(name);
  }
  void Drop(const std::vector<Text>& paths) {
    window_->Window()->DropFiles(paths);
    RunQueued();
  }
  std::vector<ShownDialog> Of(DialogKind kind) {
    std::vector<ShownDialog> out;
    for (const ShownDialog& d : Shown()) {
      if (d.kind == kind) out.push_back(d);
    }
    return out;
  }
};

TEST_F(DropTest, DroppedFilesAreCopiedAndListed) {
  struct Case {
    const char* what;
    std::vector<std::string> files;     // dropped, in order (made in the source folder)
    std::vector<std::string> inFolder;  // already in the package folder, with other bytes
    int replaceAnswer;
    bool folderMissing;                 // the path box names no folder
    std::vector<Text> rows;
    int refusals;
    Text report;
  };
  const std::vector<Case> cases = {
      {"one package with capitals", {"A.NPK"}, {}, 0, false, {"A.NPK"}, 0, "恭喜你！成功增加：1个,失败：0个"_gbk},
      {"two packages and a text", {"x.npk", "notes.txt", "角色.npk"}, {}, 0, false, {"x.npk", "角色.npk"_gbk}, 1,
       "恭喜你！成功增加：2个,失败：1个"_gbk},
      {"only a text", {"notes.txt"}, {}, 0, false, {}, 1, "恭喜你！成功增加：0个,失败：1个"_gbk},
      {"replace accepted", {"dup.npk"}, {"dup.npk"}, ui::kAnswerYes, false, {"dup.npk"}, 0,
       "恭喜你！成功增加：1个,失败：0个"_gbk},
      {"replace declined", {"dup.npk"}, {"dup.npk"}, ui::kAnswerNo, false, {}, 0,
       "恭喜你！成功增加：0个,失败：1个"_gbk},
      {"copy fails", {"y.npk"}, {}, 0, true, {}, 0, "恭喜你！成功增加：0个,失败：1个"_gbk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window_->PathBox()->SetText(c.folderMissing ? PackageFolderText() + "\\missing" : PackageFolderText());
    List()->RemoveAll();
    List()->AppendRows({{"old.npk", "x", "y"}});
    std::vector<Text> paths;
    for (const std::string& file : c.files) {
      support::WriteFile(source_ / file, "dropped " + file);
      paths.push_back(Source(file));
    }
    for (const std::string& file : c.inFolder) PutPackage(file, "present");
    Answer([&](const ShownDialog& d) {
      return DialogAnswer{d.kind == DialogKind::ReplaceQuestion ? c.replaceAnswer : 0, std::nullopt};
    });
    Drop(paths);

    EXPECT_EQ(Rows(), c.rows);
    for (int row = 1; row <= List()->Count(); ++row) {
      EXPECT_EQ(List()->Cell(row, 2), "        未能分析文件"_gbk);
      EXPECT_EQ(List()->Cell(row, 3),
                platform::ModifiedDateText(PackageFolderText() + "\\" + List()->Cell(row, 1)));
      EXPECT_NE(List()->Cell(row, 3), "100年1月1日"_gbk);
    }
    for (const Text& name : c.rows) {
      EXPECT_EQ(support::ReadFile(platform::NativePath(PackageFolderText() + "\\" + name)),
                "dropped " + common::GbkToUtf8(name));
    }
    for (const std::string& file : c.inFolder) {
      if (c.replaceAnswer != ui::kAnswerYes) {
        EXPECT_EQ(support::ReadFile(Packages() / file), "present");
      }
      EXPECT_EQ(Of(DialogKind::ReplaceQuestion).size(), 1u);
    }
    const std::vector<ShownDialog> refusals = Of(DialogKind::SystemBox);
    ASSERT_EQ(static_cast<int>(refusals.size()), c.refusals);
    for (const ShownDialog& refusal : refusals) {
      EXPECT_EQ(refusal.title, "信息："_gbk);
      EXPECT_EQ(refusal.text, "非NPK文件无法加入,请再选择正确的文件！"_gbk);
    }
    const std::vector<ShownDialog> boxes = Of(DialogKind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.report);
    EXPECT_EQ(boxes[0].title, "提示："_gbk);
    EXPECT_EQ(Shown().back().kind, DialogKind::MessageBox) << "the report comes last";
    for (const std::string& file : c.files) fs::remove(Packages() / file);
  }
}

TEST_F(DropTest, RealDragAndDropOfFiles) {
  support::WriteFile(source_ / "Real.NPK", "dropped Real.NPK");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString((source_ / "Real.NPK").string()))});
  const QPointF at(300, 200);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window_->Window(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window_->Window(), &drop);
  RunQueued();
  EXPECT_EQ(Rows(), std::vector<Text>{"Real.NPK"});
  EXPECT_EQ(support::ReadFile(Packages() / "Real.NPK"), "dropped Real.NPK");
}

// The run folder's skin picture is the build's own: each skin test puts it back.
class SkinTest : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    stored_ = platform::NativePath(platform::RunDirectory() + "\\皮肤图片\\0.png"_gbk);
    folderExisted_ = fs::exists(stored_.parent_path());
    before_ = support::ReadFile(stored_);
  }
  void TearDown() override {
    if (before_) {
      // Put back in one step: other tests copy the build's data folder meanwhile.
      EXPECT_TRUE(platform::WriteFileBytes(platform::ProgramPath(stored_), *before_));
    } else {
      fs::remove(stored_);
      if (!folderExisted_) fs::remove(stored_.parent_path());
    }
    ActionsTest::TearDown();
  }

  // A solid picture in JPEG form.
  static std::string Jpeg(QColor colour) {
    QImage image(718, 420, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes.toStdString();
  }

  // A place of the window that no element covers (between the path box and the list).
  QColor WindowPixel() {
    RunQueued();
    return window_->Window()->grab().toImage().pixelColor(450, 64);
  }

  support::TempDir source_{"velmora-skin"};
  fs::path stored_;
  bool folderExisted_ = false;
  std::optional<std::string> before_;
};

TEST_F(SkinTest, ChoiceThatGivesNoPictureChangesNothing) {
  support::WriteFile(source_.path() / "broken.png", "this is no picture");
  struct Case {
    const char* what;
    std::optional<Text> chosen;
  };
  const std::vector<Case> cases = {
      {"cancelled", std::nullopt},
      // Storing it would leave every later start without a skin.
      {"not a picture", source_.Text() + "\\broken.png"},
      {"unreadable", source_.Text() + "\\missing.png"},
  };
  const QColor pixel = WindowPixel();
  const ui::Colour theme = window_->Window()->ThemeColour();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Answer([&](const ShownDialog&) { return DialogAnswer{0, c.chosen}; });
    Choose(window_->SkinMenu(), "自定义皮肤"_gbk);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].kind, DialogKind::FileDialog);
    EXPECT_EQ(Shown()[0].title, "图像文件JPG,PNG|*.jpg;*.png"_gbk);
    EXPECT_EQ(support::ReadFile(stored_), before_);
    EXPECT_TRUE(window_->Window()->HasSkinPicture());
    EXPECT_EQ(window_->Window()->ThemeColour(), theme);
    EXPECT_EQ(WindowPixel(), pixel);
  }
}

int Luminance(ui::Colour colour) {
  return (299 * static_cast<int>(colour & 0xFF) + 587 * static_cast<int>((colour >> 8) & 0xFF) +
          114 * static_cast<int>((colour >> 16) & 0xFF)) /
         1000;
}

TEST_F(SkinTest, ChosenJpegIsStoredUnchangedAndShownAtOnce) {
  fs::create_directories(stored_.parent_path());
  const std::optional<std::string> workingSkin = support::ReadFile(Data() / "0.png");
  for (const QColor& colour : {QColor(200, 20, 30), QColor(250, 250, 250)}) {
    SCOPED_TRACE(colour.name().toStdString());
    const std::string jpeg = Jpeg(colour);
    support::WriteFile(source_.path() / "皮肤.jpg", jpeg);
    Answer([&](const ShownDialog&) { return DialogAnswer{0, source_.Text() + "\\" + "皮肤.jpg"_gbk}; });
    Choose(window_->SkinMenu(), "自定义皮肤"_gbk);

    // Stored byte for byte beside the program, not in the current folder.
    EXPECT_EQ(support::ReadFile(stored_), jpeg);
    EXPECT_EQ(support::ReadFile(Data() / "0.png"), workingSkin);
    const QColor pixel = WindowPixel();
    EXPECT_NEAR(pixel.red(), colour.red(), 40);
    EXPECT_NEAR(pixel.green(), colour.green(), 40);
    EXPECT_NEAR(pixel.blue(), colour.blue(), 40);
    // The theme colour comes from the new picture, and the elements drawn in it follow.
    const ui::Colour theme = window_->Window()->ThemeColour();
    EXPECT_NEAR(static_cast<int>(theme & 0xFF), colour.red(), 12);
    EXPECT_NEAR(static_cast<int>((theme >> 8) & 0xFF), colour.green(), 12);
    EXPECT_EQ(window_->BrowseButton()->TextColour(), theme);
    // The path stays readable on its white box, also on a pale skin.
    EXPECT_LE(Luminance(window_->PathBox()->TextColour()), 150);
  }
}

TEST_F(ActionsTest, CaptionButtonsOpenOnlyTheirOwnMenu) {
  struct Case {
    int flag;
    ui::PopupMenu* opened;
  };
  const std::vector<Case> cases = {
      {ui::kCaptionMenu, window_->MainMenu()},
      {ui::kCaptionSkin, window_->SkinMenu()},
      {ui::kCaptionClose, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag);
    for (ui::PopupMenu* menu : {window_->MainMenu(), window_->SkinMenu(), window_->FileMenu(), window_->PathMenu()}) {
      menu->Menu()->hide();
    }
    ui::PopupMenu::ClearLastOpened();
    window_->Window()->PressCaptionButton(c.flag);
    RunQueued();
    EXPECT_EQ(ui::PopupMenu::LastOpened(), c.opened);
    for (ui::PopupMenu* menu : {window_->MainMenu(), window_->SkinMenu(), window_->FileMenu(), window_->PathMenu()}) {
      EXPECT_EQ(menu->IsOpen(), menu == c.opened);
    }
  }
  EXPECT_FALSE(window_->Window()->isVisible()) << "the close button closes the window";
}

TEST_F(ActionsTest, AboutBox) {
  Choose(window_->MainMenu(), "关于"_gbk);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].kind, DialogKind::MessageBox);
  EXPECT_EQ(Shown()[0].owner, window_->Window());
  EXPECT_EQ(Shown()[0].title, "Nivra提示："_gbk);
  EXPECT_EQ(Shown()[0].buttonSet, 0);
  const std::vector<Text> lines = common::Split(Shown()[0].text, "\r\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_FALSE(lines[0].empty());
  EXPECT_FALSE(lines[1].empty());
  EXPECT_EQ(lines[2], "本软件采用Ex_DUI模块制作界面。"_gbk);
}

}  // namespace
}  // namespace velmora
