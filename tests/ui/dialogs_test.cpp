// The skinned message box contract, the test seams of every dialog and the shell copy.
#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/paths.h"
#include "tests/support/support.h"
#include "tests/ui/ui_app.h"
#include "ui/skin.h"

using namespace common::literals;

namespace {

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { uitest::App(); }
};

struct Seen {
  std::vector<QString> buttons;
  QString title;
  QString text;
  bool modal = false;
  QWidget* parent = nullptr;
  QPoint centreOffset;
};

// Opens the real message box and, once it shows, looks at it and acts on it.
int RunBox(QWidget* owner, const common::Text& text, int set, const common::Text& title,
           const std::function<void(QDialog*)>& act, Seen* seen = nullptr) {
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      ADD_FAILURE() << "no modal dialog open";
      return;
    }
    if (seen != nullptr) {
      for (QPushButton* b : dialog->findChildren<QPushButton*>()) seen->buttons.push_back(b->text());
      if (auto* t = dialog->findChild<QLabel*>(QStringLiteral("messageTitle"))) seen->title = t->text();
      if (auto* t = dialog->findChild<QLabel*>(QStringLiteral("messageText"))) seen->text = t->text();
      seen->modal = dialog->isModal();
      seen->parent = dialog->parentWidget();
      QScreen* screen = dialog->screen();
      seen->centreOffset = dialog->frameGeometry().center() - screen->availableGeometry().center();
    }
    act(dialog);
  });
  return ui::MessageBox(owner, text, set, title);
}

void Key(QDialog* dialog, int key) {
  QWidget* target = dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}

TEST_F(DialogsTest, ButtonSetsAndTheirNumbers) {
  struct Case {
    int set;
    std::vector<std::pair<common::Text, int>> buttons;
  };
  const Case cases[] = {
      {0, {{"确认"_gbk, 0}}},
      {1, {{"确认"_gbk, 0}, {"取消"_gbk, 1}}},
      {2, {{"放弃"_gbk, 2}, {"重试"_gbk, 3}, {"忽略"_gbk, 4}}},
      {3, {{"是"_gbk, 5}, {"否"_gbk, 6}, {"取消"_gbk, 1}}},
      {4, {{"是"_gbk, 5}, {"否"_gbk, 6}}},
      {5, {{"重试"_gbk, 3}, {"取消"_gbk, 1}}},
  };
  for (const Case& c : cases) {
    std::vector<ui::MessageButton> declared = ui::MessageButtons(c.set);
    ASSERT_EQ(declared.size(), c.buttons.size()) << "set " << c.set;
    for (std::size_t i = 0; i < declared.size(); ++i) {
      EXPECT_EQ(declared[i].text, c.buttons[i].first) << "set " << c.set;
      EXPECT_EQ(declared[i].result, c.buttons[i].second) << "set " << c.set;
    }
    // The real box: its buttons left to right, and what each one returns.
    for (std::size_t pressed = 0; pressed < c.buttons.size(); ++pressed) {
      Seen seen;
      int answer = RunBox(nullptr, "text", c.set, {}, [&](QDialog* dialog) {
        dialog->findChildren<QPushButton*>().at(static_cast<qsizetype>(pressed))->click();
      }, &seen);
      EXPECT_EQ(answer, c.buttons[pressed].second) << "set " << c.set << " button " << pressed;
      ASSERT_EQ(seen.buttons.size(), c.buttons.size());
      for (std::size_t i = 0; i < c.buttons.size(); ++i) {
        EXPECT_EQ(ui::FromQ(seen.buttons[i]), c.buttons[i].first) << "set " << c.set;
      }
    }
  }
}

TEST_F(DialogsTest, ClosingWithoutAButtonAnswersOneAndEnterPressesTheFirst) {
  struct Case {
    const char* name;
    int set;
    std::function<void(QDialog*)> act;
    int answer;
  };
  const Case cases[] = {
      {"Esc", 0, [](QDialog* d) { Key(d, Qt::Key_Escape); }, 1},
      {"Esc on yes/no", 4, [](QDialog* d) { Key(d, Qt::Key_Escape); }, 1},
      {"window closed", 2, [](QDialog* d) { d->close(); }, 1},
      {"caption close", 3,
       [](QDialog* d) { d->findChild<QAbstractButton*>(QStringLiteral("messageClose"))->click(); }, 1},
      {"Enter", 2, [](QDialog* d) { Key(d, Qt::Key_Return); }, 2},
      {"Enter on yes/no", 4, [](QDialog* d) { Key(d, Qt::Key_Enter); }, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunBox(nullptr, "text", c.set, {}, c.act), c.answer) << c.name;
  }
}

TEST_F(DialogsTest, TheBoxShowsTitleAndTextModalOverItsOwnerInTheScreenCentre) {
  ui::SkinWindow owner(300, 200, 0, 0);
  owner.show();
  struct Case {
    common::Text title;
    QString shownTitle;
  };
  const Case cases[] = {{{}, QStringLiteral("提示：")}, {"Nivra提示："_gbk, QStringLiteral("Nivra提示：")}};
  for (const Case& c : cases) {
    Seen seen;
    RunBox(&owner, "游戏正在进行,清理功能无法使用！\r\n第二行"_gbk, 0, c.title,
           [](QDialog* d) { d->findChildren<QPushButton*>().front()->click(); }, &seen);
    EXPECT_EQ(seen.title, c.shownTitle);
    EXPECT_EQ(seen.text, QStringLiteral("游戏正在进行,清理功能无法使用！\n第二行"));
    EXPECT_TRUE(seen.modal);
    EXPECT_EQ(seen.parent, &owner);
    EXPECT_LE(std::abs(seen.centreOffset.x()), 1);
    EXPECT_LE(std::abs(seen.centreOffset.y()), 1);
  }
  EXPECT_EQ(ui::DefaultMessageTitle(), "提示："_gbk);
}

TEST_F(DialogsTest, AnAnswererRecordsEveryDialogAndAnswersIt) {
  ui::SkinWindow owner(300, 200);
  std::vector<bool> windowOpen;
  ui::testing::ScopedAnswerer answerer([&](const ui::testing::ShownDialog& dialog) {
    windowOpen.push_back(QApplication::activeModalWidget() != nullptr);
    ui::testing::DialogAnswer answer;
    switch (dialog.kind) {
      case ui::testing::DialogKind::MessageBox: answer.button = dialog.buttonSet == 4 ? 6 : 3; break;
      case ui::testing::DialogKind::FolderChooser: answer.path = "D:\\Games\\ImagePacks2"; break;
      case ui::testing::DialogKind::FileDialog:
        if (dialog.title == "empty") answer.path = "";
        else if (dialog.title != "cancel") answer.path = "C:\\skin.png";
        break;
      default: break;
    }
    return answer;
  });
  EXPECT_EQ(ui::MessageBox(&owner, "删除吗？"_gbk, 4), 6);
  EXPECT_EQ(ui::MessageBox(nullptr, "重试？"_gbk, 5, "Nivra提示："_gbk), 3);
  ui::SystemMessageBox("标题"_gbk, "请先选择目录"_gbk);
  EXPECT_EQ(ui::ChooseFolder(&owner, "选择目录\r\n第二行"_gbk), "D:\\Games\\ImagePacks2");
  EXPECT_EQ(ui::ChooseOpenFile(&owner, "图片|*.jpg;*.png"_gbk), std::optional<common::Text>("C:\\skin.png"));
  EXPECT_EQ(ui::ChooseOpenFile(&owner, "cancel"), std::nullopt);
  EXPECT_EQ(ui::ChooseOpenFile(&owner, "empty"), std::nullopt);

  using Kind = ui::testing::DialogKind;
  struct Expected {
    Kind kind;
    QWidget* owner;
    common::Text title, text;
    int buttonSet;
  };
  const Expected expected[] = {
      {Kind::MessageBox, &owner, "提示："_gbk, "删除吗？"_gbk, 4},
      {Kind::MessageBox, nullptr, "Nivra提示："_gbk, "重试？"_gbk, 5},
      {Kind::SystemBox, nullptr, "标题"_gbk, "请先选择目录"_gbk, 0},
      {Kind::FolderChooser, &owner, "选择目录\r\n第二行"_gbk, "", 0},
      {Kind::FileDialog, &owner, "图片|*.jpg;*.png"_gbk, "", 0},
      {Kind::FileDialog, &owner, "cancel", "", 0},
      {Kind::FileDialog, &owner, "empty", "", 0},
  };
  const auto& shown = ui::testing::Shown();
  ASSERT_EQ(shown.size(), std::size(expected));
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].kind, expected[i].kind) << i;
    EXPECT_EQ(shown[i].owner, expected[i].owner) << i;
    EXPECT_EQ(shown[i].title, expected[i].title) << i;
    EXPECT_EQ(shown[i].text, expected[i].text) << i;
    EXPECT_EQ(shown[i].buttonSet, expected[i].buttonSet) << i;
  }
  EXPECT_EQ(windowOpen, std::vector<bool>(std::size(expected), false));
  ui::testing::ClearShown();
  EXPECT_TRUE(ui::testing::Shown().empty());
}

TEST_F(DialogsTest, WithoutAnAnswererTheRealBoxOpens) {
  { ui::testing::ScopedAnswerer answerer([](const ui::testing::ShownDialog&) { return ui::testing::DialogAnswer{}; }); }
  ui::testing::ClearShown();
  bool opened = false;
  RunBox(nullptr, "x", 0, {}, [&](QDialog* d) {
    opened = true;
    d->reject();
  });
  EXPECT_TRUE(opened);
  EXPECT_TRUE(ui::testing::Shown().empty());
}

TEST_F(DialogsTest, ABoxAskedFromAWorkerThreadOpensOnTheInterfaceThread) {
  QThread* asked = nullptr;
  ui::testing::ScopedAnswerer answerer([&](const ui::testing::ShownDialog&) {
    asked = QThread::currentThread();
    return ui::testing::DialogAnswer{ui::kAnswerYes, std::nullopt};
  });
  std::atomic<int> answer{-1};
  std::thread worker([&] { answer = ui::MessageBox(nullptr, "文件已存在，要覆盖吗？"_gbk, 4); });
  while (answer.load() == -1) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(answer.load(), ui::kAnswerYes);
  EXPECT_EQ(asked, QCoreApplication::instance()->thread());
  EXPECT_EQ(ui::testing::Shown().size(), 1u);
}

TEST_F(DialogsTest, TheRealChoosersTakeTheSystemsFilterAndGiveProgramPaths) {
  support::TempDir dir("velmora-choose");
  std::ofstream(dir / "皮肤.png") << "x";
  struct Seen {
    QStringList filters;
    QString title;
    bool editable = false;
  } seen;
  auto answer = [&](bool accept, const QString& file) {
    QTimer::singleShot(0, [&, accept, file] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) {
        ADD_FAILURE() << "no file dialog open";
        return;
      }
      seen.filters = dialog->nameFilters();
      seen.title = dialog->windowTitle();
      seen.editable = dialog->findChild<QLineEdit*>() != nullptr;
      if (!accept) {
        dialog->reject();
        return;
      }
      dialog->selectFile(file);
      static_cast<QDialog*>(dialog)->accept();
    });
  };
  QString picture = QString::fromStdString((dir / "皮肤.png").string());
  answer(true, picture);
  EXPECT_EQ(ui::ChooseOpenFile(nullptr, "图片文件|*.jpg;*.png|全部|*.*"_gbk),
            std::optional<common::Text>(platform::ProgramPath(dir / "皮肤.png")));
  EXPECT_EQ(seen.filters, (QStringList{QStringLiteral("图片文件 (*.jpg *.png)"), QStringLiteral("全部 (*.*)")}));
  answer(false, {});
  EXPECT_EQ(ui::ChooseOpenFile(nullptr, "图片|*.png"_gbk), std::nullopt);

  answer(true, QString::fromStdString(dir.path().string()));
  EXPECT_EQ(ui::ChooseFolder(nullptr, "               【浏览游戏目录】\r\n      选择目录"_gbk), dir.Text());
  EXPECT_TRUE(seen.editable);  // a path can be typed
  EXPECT_EQ(seen.title, QStringLiteral("【浏览游戏目录】 选择目录"));
  answer(false, {});
  EXPECT_EQ(ui::ChooseFolder(nullptr, "x"), "");
}

// ---- the shell copy

class CopyTest : public DialogsTest {
 protected:
  void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  support::TempDir from{"velmora-copy-from"};
  support::TempDir to{"velmora-copy-to"};
};

TEST_F(CopyTest, CopiesAsksBeforeReplacingAndLeavesNoTemporaryFile) {
  struct Case {
    const char* name;
    bool targetExists;
    int answer;
    ui::CopyOutcome outcome;
    std::string targetAfter;
    bool asked;
  };
  const Case cases[] = {
      {"new file", false, 0, ui::CopyOutcome::Copied, "new content", false},
      {"replace: yes", true, ui::kAnswerYes, ui::CopyOutcome::Copied, "new content", true},
      {"replace: no", true, ui::kAnswerNo, ui::CopyOutcome::Declined, "old", true},
      {"replace: closed", true, ui::kAnswerCancel, ui::CopyOutcome::Declined, "old", true},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(to.path());
    std::filesystem::create_directories(to.path());
    Write(from / "角色.npk", "new content");
    auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 30);
    std::filesystem::last_write_time(from / "角色.npk", old);
    if (c.targetExists) Write(to / "角色.npk", "old");
    ui::testing::ScopedAnswerer answerer([&](const ui::testing::ShownDialog&) {
      return ui::testing::DialogAnswer{c.answer, std::nullopt};
    });
    ui::CopyOutcome outcome = ui::CopyFileIntoFolder(nullptr, from.Text() + "\\角色.npk"_gbk, to.Text());
    EXPECT_EQ(outcome, c.outcome) << c.name;
    EXPECT_EQ(Read(to / "角色.npk"), c.targetAfter) << c.name;
    EXPECT_EQ(Names(to.path()), std::vector<std::string>{"角色.npk"}) << c.name;
    const auto& shown = ui::testing::Shown();
    ASSERT_EQ(shown.size(), c.asked ? 1u : 0u) << c.name;
    if (c.asked) {
      EXPECT_EQ(shown[0].kind, ui::testing::DialogKind::ReplaceQuestion);
      EXPECT_EQ(shown[0].buttonSet, 4);
      EXPECT_EQ(shown[0].title, "提示："_gbk);
      EXPECT_NE(common::Find(shown[0].text, "角色.npk"_gbk), -1) << "the question names the file";
    }
    if (c.outcome == ui::CopyOutcome::Copied) {
      // The copy keeps the time of the last change.
      auto difference = std::filesystem::last_write_time(to / "角色.npk") - old;
      EXPECT_LT(std::abs(std::chrono::duration_cast<std::chrono::seconds>(difference).count()), 2) << c.name;
    }
  }
}

TEST_F(CopyTest, FailuresAreReported) {
  Write(from / "a.npk", "a");
  std::filesystem::create_directories(to / "folder.npk");
  Write(from / "folder.npk", "f");
  ui::testing::ScopedAnswerer answerer([](const ui::testing::ShownDialog&) {
    return ui::testing::DialogAnswer{ui::kAnswerYes, std::nullopt};
  });
  struct Case {
    const char* name;
    common::Text source, folder;
  };
  const Case cases[] = {
      {"missing source", from.Text() + "\\missing.npk", to.Text()},
      {"missing folder", from.Text() + "\\a.npk", to.Text() + "\\nowhere"},
      {"source is a folder", to.Text() + "\\folder.npk", from.Text()},
      {"a folder of the same name in the way", from.Text() + "\\folder.npk", to.Text()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ui::CopyFileIntoFolder(nullptr, c.source, c.folder), ui::CopyOutcome::Failed) << c.name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(to / "folder.npk"));
  EXPECT_EQ(Names(to.path()), std::vector<std::string>{"folder.npk"});
}

TEST_F(CopyTest, ALargeCopyCanBeCancelledFromItsProgressDialog) {
  {
    std::ofstream out(from / "big.npk", std::ios::binary);
    std::string block(1 << 20, 'x');
    for (int i = 0; i < 12; ++i) out << block;
  }
  bool sawProgress = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* progress = qobject_cast<QProgressDialog*>(top)) {
        sawProgress = true;
        progress->cancel();
      }
    }
  });
  EXPECT_EQ(ui::CopyFileIntoFolder(nullptr, from.Text() + "\\big.npk", to.Text()), ui::CopyOutcome::Cancelled);
  EXPECT_TRUE(sawProgress);
  EXPECT_TRUE(Names(to.path()).empty());
  // Without cancelling the copy completes.
  EXPECT_EQ(ui::CopyFileIntoFolder(nullptr, from.Text() + "\\big.npk", to.Text()), ui::CopyOutcome::Copied);
  EXPECT_EQ(std::filesystem::file_size(to / "big.npk"), 12u << 20);
}

}  // namespace
