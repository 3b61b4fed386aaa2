// The updater window against a release page, share pages, notes and a package served on
// loopback: the version decision, the status rows and notes, "取消" while the release check runs,
// and the update itself from the click to the end of UpDate, with its failures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/fetch.h"
#include "tests/support/http_server.h"
#include "tests/support/qt_environment.h"
#include "tests/support/support.h"
#include "tests/update/updater_fixture.h"
#include "ui/dialogs.h"
#include "ui/skin.h"
#include "update/download.h"
#include "update/install.h"
#include "update/updater.h"
#include "update/updater_window.h"

namespace updater_test {
namespace {

::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new test_support::QtEnvironment);

using test_support::Settle;
using test_support::WaitFor;

const common::Text kQuestion = "文件已存在,继续下载吗?"_gbk;
const common::Text kInstalled = "安装完成！请使用！"_gbk;
const common::Text kFailed = "更新失败,请稍后重试！"_gbk;

class UpdaterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = std::filesystem::current_path();
    // The skin of the build's data folder; the version file is the test's own.
    const std::filesystem::path built = std::filesystem::path(VELMORA_BIN_DIR) / "皮肤图片";
    std::error_code error;
    std::filesystem::create_directories(work_.path() / "皮肤图片", error);
    std::filesystem::copy_file(built / "0.png", work_.path() / "皮肤图片" / "0.png", error);
    std::filesystem::current_path(work_.path());
    ASSERT_TRUE(server_.Running());
    releaseUrl_.emplace("VELMORA_RELEASE_URL", server_.Url("/release"));
    support::WriteFile(run_.path() / "Velmora.txt", "old");
  }

  void TearDown() override {
    updater_.reset();
    // The background routines of this test end before the next one begins.
    EXPECT_TRUE(WaitFor([] { return update::UpdaterWindow::BackgroundRoutines() == 0; }, 60));
    Settle();
    std::filesystem::current_path(previousDir_);
  }

  void WriteLocalVersion(const std::string& bytes) {
    support::WriteFile(work_.path() / "皮肤图片" / "版本.txt", bytes);
  }
  int Port() const { return server_.Port(); }
  std::string Http(const std::string& target) const { return "http://" + Loopback(Port(), target); }

  // The release page names version 2.0, the notes and the package.
  void ServeRelease(const std::string& version = "2.0") {
    server_.Answer("/release", PageResponse(ReleasePage(Port(), version)));
  }
  void ServeNotes(const std::string& notes) {
    server_.Answer("/share-notes", PageResponse(SharePage(Http("/notes"), "notes.txt",
                                                          std::to_string(notes.size()), "")));
    server_.Answer("/notes*", PageResponse(notes, "text/plain"));
  }
  // The package's share page names this size and md5; the package route answers these bytes.
  void ServePackage(const std::string& bytes, const std::string& size, const std::string& md5,
                    const std::string& link = {}) {
    server_.Answer("/share-package",
                   PageResponse(SharePage(link.empty() ? Http("/package") : link, "update.zip", size, md5)));
    server_.Answer("/package*", test_support::HttpServer::Response(
                                    "HTTP/1.1 200 OK", {"Content-Type: application/zip"}, bytes));
  }
  // A package with a new Velmora.txt and a file in a new folder; its bytes, size and md5.
  struct Package {
    std::string bytes;
    std::string md5;
  };
  Package MakePackage(const std::string& velmora = "new") {
    const std::filesystem::path path = scratch_.path() / "package.zip";
    std::filesystem::remove(path);
    Package package;
    package.bytes = MakeZip(path, {{"Velmora.txt", velmora}, {"皮肤图片/版本.txt", "2.0"}});
    package.md5 = update::FileMd5(path.string());
    return package;
  }

  void Load() {
    update::UpdaterWindow::Options options;
    options.runDirectory = run_.Text();
    options.endProgram = [this](int code) { endCodes_.push_back(code); };
    options.startProgram = [this](const common::Text& commandLine) { started_.push_back(commandLine); };
    updater_ = std::make_unique<update::UpdaterWindow>(options);
    updater_->Load();
  }
  bool WaitForCheck() { return WaitFor([this] { return updater_->CheckFinished(); }); }

  std::vector<common::Text> Rows() const {
    std::vector<common::Text> rows;
    if (ui::List* list = updater_->StatusList()) {
      for (int row = 1; row <= list->Count(); ++row) rows.push_back(list->Cell(row, 1));
    }
    return rows;
  }
  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const auto& request : server_.Requests()) targets.push_back(request.Target());
    return targets;
  }
  int MessagesWithText(const common::Text& text) const {
    int count = 0;
    for (const auto& shown : ui::testing::Shown()) {
      if (shown.kind == ui::testing::DialogKind::MessageBox && shown.text == text) ++count;
    }
    return count;
  }
  std::filesystem::path NotesFile() const { return run_.path() / "1.txt"; }
  std::filesystem::path ArchiveFile() const { return run_.path() / "1.zip"; }

  // Clicks "立即更新" and waits until the task has ended and its archive has been dealt with.
  void ClickUpdateAndWait() {
    ASSERT_TRUE(updater_->UpdateButton()->IsEnabled());
    updater_->UpdateButton()->Click();
    ASSERT_TRUE(WaitFor([this] {
      return updater_->Ended() || MessagesWithText(kFailed) > 0;
    }, 60));
    Settle();
  }

  void ExpectNothingInstalled() {
    EXPECT_EQ(MessagesWithText(kFailed), 1);
    EXPECT_EQ(MessagesWithText(kInstalled), 0);
    EXPECT_EQ(support::ReadFile(run_.path() / "Velmora.txt").value_or(""), "old");
    EXPECT_FALSE(std::filesystem::exists(run_.path() / "皮肤图片"));
    EXPECT_FALSE(std::filesystem::exists(ArchiveFile()));
    EXPECT_TRUE(started_.empty()) << "Velmora was started";
    EXPECT_TRUE(endCodes_.empty());
    ASSERT_NE(updater_->Window(), nullptr) << "UpDate stays open";
    EXPECT_TRUE(updater_->UpdateButton()->IsEnabled());
  }

  support::TempDir work_{"velmora-updater"};
  support::TempDir run_{"velmora-updater-run"};
  support::TempDir scratch_{"velmora-updater-zip"};
  test_support::HttpServer server_;
  std::optional<support::ScopedEnv> releaseUrl_;
  std::filesystem::path previousDir_;
  std::vector<int> endCodes_;
  std::vector<common::Text> started_;
  std::unique_ptr<update::UpdaterWindow> updater_;
  int questionAnswer_ = ui::kAnswerNo;
  std::function<void()> onInstalledMessage_;  // runs while the final message is up
  ui::testing::ScopedAnswerer answerer_{[this](const ui::testing::ShownDialog& shown) {
    ui::testing::DialogAnswer answer;
    if (shown.text == kQuestion) answer.button = questionAnswer_;
    if (shown.text == kInstalled && onInstalledMessage_) onInstalledMessage_();
    return answer;
  }};
};

// ---- The window and the release check

TEST_F(UpdaterWindowTest, LayoutOfTheWindow) {
  WriteLocalVersion("2.0");
  ServeRelease("2.0");
  Load();
  ui::SkinWindow* window = updater_->Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->geometry(), QRect(50, 50, 314, 305));
  EXPECT_EQ(window->CaptionFlags(), ui::kCaptionTitle);
  EXPECT_TRUE(window->HasSkinPicture());
  EXPECT_EQ(window->Title(), "Kestrune更新"_gbk);

  ui::List* list = updater_->StatusList();
  EXPECT_EQ(list->Geometry(), QRect(9, 85, 297, 176));
  ASSERT_EQ(list->ColumnCount(), 1);
  EXPECT_EQ(list->ColumnTitle(1), "更新状态信息："_gbk);
  EXPECT_EQ(list->ColumnWidth(1), 291);

  EXPECT_EQ(updater_->VersionLabel()->GetText(), "当前版本：2.0"_gbk);
  EXPECT_EQ(updater_->VersionLabel()->Geometry(), QRect(100, 40, 110, 24));
  EXPECT_EQ(updater_->VersionLabel()->FontFamily(), "微软雅黑"_gbk);
  EXPECT_EQ(updater_->SizeLabel()->Geometry(), QRect(16, 334, 136, 20));
  EXPECT_EQ(updater_->SizeLabel()->TextColour(), ui::Rgba(0, 0, 255, 254));
  EXPECT_EQ(updater_->SizeLabel()->GetText(), "");
  EXPECT_EQ(updater_->ProgressLabel()->Geometry(), QRect(161, 334, 136, 20));
  EXPECT_EQ(updater_->ProgressLabel()->TextColour(), ui::Rgba(255, 0, 0, 254));
  EXPECT_EQ(updater_->ProgressLabel()->GetText(), "");
  EXPECT_EQ(updater_->ProgressBar()->Geometry(), QRect(16, 305, 281, 20));
  EXPECT_EQ(updater_->ProgressBar()->Position(), 0.0);
  EXPECT_EQ(updater_->UpdateButton()->GetText(), "立即更新"_gbk);
  EXPECT_EQ(updater_->UpdateButton()->Geometry(), QRect(230, 270, 70, 24));
  EXPECT_EQ(updater_->CancelButton()->GetText(), "取消"_gbk);
  EXPECT_EQ(updater_->CancelButton()->Geometry(), QRect(12, 270, 70, 24));
  ASSERT_NE(updater_->ProgressTimer(), nullptr);
  EXPECT_EQ(updater_->ProgressTimer()->objectName(), QString::fromUtf8("时钟1"));
  EXPECT_FALSE(updater_->ProgressTimer()->isActive()) << "the timer idles until a download starts";
  ASSERT_TRUE(WaitForCheck());
}

struct VersionCase {
  const char* name;
  std::optional<std::string> local;  // nullopt: no version file
  bool pageReachable;
  std::string pageVersion;
  bool enabled;
  std::vector<common::Text> rows;  // the rows once the check has finished
};

void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.name; }

const std::vector<common::Text> kNotes = {"line 1", "line 2"};

class VersionCheck : public UpdaterWindowTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionCheck, ButtonAndRows) {
  const VersionCase& c = GetParam();
  if (c.local) WriteLocalVersion(*c.local);
  if (c.pageReachable) {
    ServeRelease(c.pageVersion);
    ServeNotes("line 1\r\nline 2\r\n");
  } else {
    releaseUrl_.emplace("VELMORA_RELEASE_URL",
                        "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/release");
  }
  Load();
  EXPECT_EQ(updater_->UpdateButton()->IsEnabled(), c.enabled) << "after the created event";
  EXPECT_EQ(updater_->LocalVersion(), c.local.value_or(""));
  EXPECT_EQ(updater_->RemoteVersion(), c.pageReachable ? c.pageVersion : "");
  EXPECT_EQ(Rows(), std::vector<common::Text>{}) << "the check waits a second before its first row";
  ASSERT_TRUE(WaitForCheck());
  EXPECT_EQ(Rows(), c.rows);
  EXPECT_EQ(updater_->UpdateButton()->IsEnabled(), c.enabled);
  EXPECT_EQ(std::filesystem::exists(NotesFile()), c.rows == kNotes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionCheck,
    ::testing::Values(
        VersionCase{"EqualVersions", "2.0", true, "2.0", false,
                    {update::FetchingRow(), update::UpToDateRow()}},
        VersionCase{"LocalVersionWithALineBreak", "2.0\r\n", true, "2.0", true, kNotes},
        VersionCase{"OtherCase", "v2.0", true, "V2.0", true, kNotes},
        VersionCase{"NoLocalVersion", std::nullopt, true, "2.0", true, kNotes},
        VersionCase{"PageUnreachable", "2.0", false, "", true,
                    {update::FetchingRow(), update::UnknownRow()}},
        VersionCase{"PageUnreachableNoLocalVersion", std::nullopt, false, "", true,
                    {update::FetchingRow(), update::UnknownRow()}},
        VersionCase{"PageWithoutVersion", "2.0", true, "", true,
                    {update::FetchingRow(), update::UnknownRow()}}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST_F(UpdaterWindowTest, NotesReplaceTheStatusRows) {
  struct NotesCase {
    std::string notes;
    std::vector<common::Text> rows;
  };
  const NotesCase cases[] = {
      {"a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"the whole text without a break", {"the whole text without a break"}},
      {"更新内容：\r\n1. 修复\r\n"_gbk, {"更新内容："_gbk, "1. 修复"_gbk}},
      {"", {}},
  };
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  for (const NotesCase& c : cases) {
    SCOPED_TRACE(c.notes);
    ServeNotes(c.notes);
    Load();
    std::vector<std::vector<common::Text>> seen;
    ASSERT_TRUE(WaitFor([&] {
      if (seen.empty() || seen.back() != Rows()) seen.push_back(Rows());
      return updater_->CheckFinished();
    }));
    EXPECT_EQ(Rows(), c.rows);
    // The status rows came first.
    ASSERT_GE(seen.size(), 2u);
    ASSERT_FALSE(seen[1].empty());
    EXPECT_EQ(seen[1].front(), update::FetchingRow());
    EXPECT_EQ(support::ReadFile(NotesFile()).value_or("missing"), c.notes);
    updater_.reset();
    EXPECT_FALSE(std::filesystem::exists(NotesFile())) << "the notes file goes with the window";
  }
}

TEST_F(UpdaterWindowTest, NotesAddressWithTheCharacterForAmpersand) {
  WriteLocalVersion("1.0");
  server_.Answer("/release",
                 PageResponse(ReleasePage(Port(), "2.0", "/s/init?surl=x我pwd=ab12"_gbk)));
  server_.Answer("/s/init?surl=x&pwd=ab12",
                 PageResponse(SharePage(Http("/notes"), "notes.txt", "4", "")));
  server_.Answer("/notes*", PageResponse("news"));
  Load();
  ASSERT_TRUE(WaitForCheck());
  EXPECT_EQ(Rows(), std::vector<common::Text>{"news"});
  const std::vector<std::string> targets = Targets();
  ASSERT_EQ(targets.size(), 4u);
  EXPECT_EQ(targets[2], "/s/init?surl=x&pwd=ab12");
  // The notes are fetched with the whole link record as the address.
  std::string notesTarget = targets[3];
  for (std::size_t at; (at = notesTarget.find("%7C")) != std::string::npos;) {
    notesTarget.replace(at, 3, "|");
  }
  EXPECT_EQ(notesTarget, "/notes|notes.txt*notes.txt|4|");
}

TEST_F(UpdaterWindowTest, CancelEndsUpDate) {
  WriteLocalVersion("2.0");
  ServeRelease("2.0");
  Load();
  ASSERT_TRUE(WaitForCheck());
  updater_->CancelButton()->Click();
  Settle();
  EXPECT_EQ(endCodes_, std::vector<int>{0});
  EXPECT_TRUE(updater_->Ended());
  EXPECT_EQ(updater_->Window(), nullptr);
  EXPECT_EQ(updater_->StatusList(), nullptr);
}

TEST_F(UpdaterWindowTest, CancelDuringTheFirstSecond) {
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  Load();
  updater_->CancelButton()->Click();
  Settle();
  EXPECT_EQ(endCodes_, std::vector<int>{0});
  EXPECT_EQ(updater_->Window(), nullptr);
  ASSERT_TRUE(WaitFor([] { return update::UpdaterWindow::BackgroundRoutines() == 0; }));
  Settle();
  EXPECT_EQ(Targets(), std::vector<std::string>{"/release"}) << "the check went on";
  EXPECT_FALSE(std::filesystem::exists(NotesFile()));
  EXPECT_FALSE(updater_->CheckFinished());
}

TEST_F(UpdaterWindowTest, CancelWhileTheCheckFetches) {
  // Each hanging fetch gives up after two seconds without data.
  common::detail::FetchSettings settings = common::detail::CurrentFetchSettings();
  const common::detail::FetchSettings previous = settings;
  settings.noDataSeconds = 2;
  common::detail::SetFetchSettings(settings);
  struct HangCase {
    const char* name;
    const char* target;  // the request that never gets an answer
  };
  const HangCase cases[] = {{"release page", "/release"}, {"share page", "/share-notes"},
                            {"notes", "/notes*"}};
  for (const HangCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteLocalVersion("1.0");
    ServeRelease("2.0");
    ServeNotes("n\r\n");
    // The created event's read of the page is answered; the check's own read hangs.
    Load();
    server_.Hang(c.target);
    const std::string hung = std::string(c.target).substr(0, std::string(c.target).find('*'));
    const int readsBefore = static_cast<int>(server_.Requests().size());
    ASSERT_TRUE(WaitFor([&] {
      const auto requests = server_.Requests();
      for (std::size_t i = static_cast<std::size_t>(readsBefore); i < requests.size(); ++i) {
        if (requests[i].Target().rfind(hung, 0) == 0) return true;
      }
      return false;
    }));
    updater_->CancelButton()->Click();
    Settle();
    EXPECT_EQ(updater_->Window(), nullptr);
    ASSERT_EQ(endCodes_, std::vector<int>{0});
    // The fetch gives up; nothing is shown or written afterwards.
    ASSERT_TRUE(WaitFor([] { return update::UpdaterWindow::BackgroundRoutines() == 0; }));
    Settle();
    EXPECT_FALSE(std::filesystem::exists(NotesFile()));
    EXPECT_FALSE(updater_->CheckFinished());
    updater_.reset();
    endCodes_.clear();
    server_.Answer("/release", PageResponse(ReleasePage(Port(), "2.0")));
  }
  common::detail::SetFetchSettings(previous);
}

TEST_F(UpdaterWindowTest, ClosingTheWindowEndsUpDateToo) {
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  Load();
  ASSERT_TRUE(WaitForCheck());
  ASSERT_TRUE(std::filesystem::exists(NotesFile()));
  updater_->Window()->close();
  ASSERT_TRUE(WaitFor([this] { return updater_->Ended(); }));
  EXPECT_EQ(endCodes_, std::vector<int>{0});
  EXPECT_EQ(updater_->Window(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(NotesFile()));
}

// ---- The update

TEST_F(UpdaterWindowTest, FullUpdateInstallsStartsVelmoraAndEnds) {
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("new things\r\n");
  const Package package = MakePackage();
  ServePackage(package.bytes, std::to_string(package.bytes.size()), package.md5);
  Load();
  ASSERT_TRUE(WaitForCheck());
  updater_->Window()->grab().save(QStringLiteral(VELMORA_BIN_DIR "/../updater_window.png"));

  QRect geometryAtMessage;
  common::Text sizeText, progressText;
  double barAtMessage = -1;
  bool timerRunning = false;
  bool archiveGone = false;
  std::vector<common::Text> startedAtMessage;
  onInstalledMessage_ = [&] {
    ASSERT_NE(updater_->Window(), nullptr);
    updater_->ShowProgress();
    geometryAtMessage = updater_->Window()->geometry();
    sizeText = updater_->SizeLabel()->GetText();
    progressText = updater_->ProgressLabel()->GetText();
    barAtMessage = updater_->ProgressBar()->Position();
    timerRunning = updater_->ProgressTimer()->isActive() &&
                   updater_->ProgressTimer()->interval() == 1000;
    archiveGone = !std::filesystem::exists(ArchiveFile());
    startedAtMessage = started_;
    updater_->Window()->grab().save(QStringLiteral(VELMORA_BIN_DIR "/../updater_window_download.png"));
  };
  ClickUpdateAndWait();

  EXPECT_EQ(MessagesWithText(kInstalled), 1);
  EXPECT_EQ(MessagesWithText(kFailed), 0);
  EXPECT_EQ(MessagesWithText(kQuestion), 0) << "no archive was there, so no question";
  EXPECT_EQ(geometryAtMessage, QRect(50, 50, 314, 370));
  EXPECT_EQ(sizeText, update::SizeLabelText(static_cast<double>(package.bytes.size())))
      << common::GbkToUtf8(sizeText) << " for " << package.bytes.size() << " bytes";
  EXPECT_EQ(progressText, "下载进度：100%"_gbk);
  EXPECT_EQ(barAtMessage, 100.0);
  EXPECT_TRUE(timerRunning);
  EXPECT_TRUE(archiveGone) << "the archive is deleted before the message";
  EXPECT_EQ(startedAtMessage, std::vector<common::Text>{run_.Text() + "\\Velmora.exe"});

  EXPECT_EQ(support::ReadFile(run_.path() / "Velmora.txt").value_or(""), "new");
  EXPECT_EQ(support::ReadFile(run_.path() / "皮肤图片" / "版本.txt").value_or(""), "2.0");
  EXPECT_FALSE(std::filesystem::exists(ArchiveFile()));
  EXPECT_EQ(endCodes_, std::vector<int>{0});
  EXPECT_EQ(updater_->Window(), nullptr) << "the window goes before UpDate ends";
  EXPECT_FALSE(std::filesystem::exists(NotesFile()));

  // The package's share page was read as a plain GET, and only the link was downloaded.
  bool sharePageRead = false, packageRead = false;
  for (const auto& request : server_.Requests()) {
    if (request.Target() == "/share-package") {
      sharePageRead = true;
      EXPECT_EQ(request.line, "GET /share-package HTTP/1.0");
    }
    if (request.Target().rfind("/package", 0) == 0) {
      packageRead = true;
      EXPECT_EQ(request.Target(), "/package");
    }
  }
  EXPECT_TRUE(sharePageRead);
  EXPECT_TRUE(packageRead);
}

TEST_F(UpdaterWindowTest, LeftoverArchive) {
  struct LeftoverCase {
    const char* name;
    int answer;             // to "文件已存在,继续下载吗?"
    bool leftoverIsPackage; // the leftover is the package the record names
    bool installed;
    const char* velmora;    // Velmora.txt afterwards
  };
  const LeftoverCase cases[] = {
      {"no, the leftover is the package", ui::kAnswerNo, true, true, "new"},
      {"no, the leftover is damaged", ui::kAnswerNo, false, false, "old"},
      {"closed without an answer, damaged leftover", ui::kAnswerCancel, false, false, "old"},
      {"yes, downloaded afresh over a damaged leftover", ui::kAnswerYes, false, true, "new"},
  };
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  const Package package = MakePackage();
  for (const LeftoverCase& c : cases) {
    SCOPED_TRACE(c.name);
    support::WriteFile(run_.path() / "Velmora.txt", "old");
    std::filesystem::remove_all(run_.path() / "皮肤图片");
    ui::testing::ClearShown();
    endCodes_.clear();
    started_.clear();
    questionAnswer_ = c.answer;
    // A leftover the size of the package but with other bytes fails the md5 check.
    support::WriteFile(ArchiveFile(),
                       c.leftoverIsPackage ? package.bytes : std::string(package.bytes.size(), 'x'));
    ServePackage(package.bytes, std::to_string(package.bytes.size()), package.md5);
    const std::size_t requestsBefore = server_.Requests().size();
    Load();
    QWidget* const window = updater_->Window();
    ASSERT_TRUE(WaitForCheck());
    ClickUpdateAndWait();

    EXPECT_EQ(MessagesWithText(kQuestion), 1);
    for (const auto& shown : ui::testing::Shown()) {
      if (shown.text != kQuestion) continue;
      EXPECT_EQ(shown.buttonSet, 4);
      EXPECT_EQ(shown.title, "提示："_gbk);
      EXPECT_EQ(shown.owner, window) << "the question belongs to the updater window";
    }
    bool downloaded = false;
    const auto requests = server_.Requests();
    for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
      if (requests[i].Target() == "/package") downloaded = true;
    }
    EXPECT_EQ(downloaded, c.answer == ui::kAnswerYes) << "only 是 downloads afresh";
    EXPECT_EQ(support::ReadFile(run_.path() / "Velmora.txt").value_or(""), c.velmora);
    EXPECT_FALSE(std::filesystem::exists(ArchiveFile()));
    if (c.installed) {
      EXPECT_EQ(MessagesWithText(kInstalled), 1);
      EXPECT_EQ(endCodes_, std::vector<int>{0});
      EXPECT_EQ(started_.size(), 1u);
    } else {
      ExpectNothingInstalled();
    }
    updater_.reset();
  }
}

TEST_F(UpdaterWindowTest, FailuresInstallNothingAndLeaveTheButtonEnabled) {
  struct FailureCase {
    const char* name;
    std::function<void(const Package&)> serve;
  };
  const FailureCase cases[] = {
      {"wrong md5",
       [this](const Package& p) {
         ServePackage(p.bytes, std::to_string(p.bytes.size()), "0123456789abcdef0123456789abcdef");
       }},
      {"an HTML page instead of the archive",
       [this](const Package&) {
         ServePackage("<html><body>File not found</body></html>", "", "");
       }},
      {"the archive unreachable",
       [this](const Package& p) {
         ServePackage(p.bytes, std::to_string(p.bytes.size()), p.md5,
                        "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/package");
       }},
      {"the package's share page unreachable",
       [this](const Package&) {
         server_.Drop("/share-package");
       }},
  };
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  const Package package = MakePackage();
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    ui::testing::ClearShown();
    c.serve(package);
    Load();
    ASSERT_TRUE(WaitForCheck());
    ClickUpdateAndWait();
    ExpectNothingInstalled();
    EXPECT_EQ(MessagesWithText(kQuestion), 0);
    for (const auto& shown : ui::testing::Shown()) {
      if (shown.text == kFailed) {
        EXPECT_EQ(shown.title, "提示："_gbk);
      }
    }
    EXPECT_EQ(updater_->Window()->height(), 370);
    updater_.reset();
  }
}

TEST_F(UpdaterWindowTest, TryingAgainAfterAFailure) {
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  const Package package = MakePackage();
  ServePackage(package.bytes, std::to_string(package.bytes.size()), "0123456789abcdef0123456789abcdef");
  Load();
  ASSERT_TRUE(WaitForCheck());
  ClickUpdateAndWait();
  ExpectNothingInstalled();
  ASSERT_TRUE(WaitFor([this] { return !updater_->Downloads().Running(); }));

  ServePackage(package.bytes, std::to_string(package.bytes.size()), package.md5);
  ui::testing::ClearShown();
  ClickUpdateAndWait();
  EXPECT_EQ(MessagesWithText(kInstalled), 1);
  EXPECT_EQ(support::ReadFile(run_.path() / "Velmora.txt").value_or(""), "new");
  EXPECT_EQ(endCodes_, std::vector<int>{0});
}

TEST_F(UpdaterWindowTest, ProgressWhileDownloadingAndASecondClick) {
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  // Bytes that do not compress, sent slowly in one stream, so the download takes a few seconds.
  std::string noise(240 * 1024, '\0');
  unsigned state = 12345;
  for (char& c : noise) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  const std::filesystem::path zip = scratch_.path() / "slow.zip";
  const std::string bytes = MakeZip(zip, {{"Velmora.txt", "new"}, {"noise.bin", noise}});
  ServePackage(bytes, std::to_string(bytes.size()), update::FileMd5(zip.string()));
  test_support::FileAnswer slow;
  slow.ranges = false;
  slow.bytesPerSecond = 80 * 1024;
  server_.ServeFile("/package", zip.string(), slow);
  Load();
  ASSERT_TRUE(WaitForCheck());
  updater_->UpdateButton()->Click();

  // The size arrives with the answer's length; the timer shows what has been written so far.
  ASSERT_TRUE(WaitFor([this] { return !updater_->SizeLabel()->GetText().empty(); }));
  EXPECT_EQ(updater_->SizeLabel()->GetText(), update::SizeLabelText(static_cast<double>(bytes.size())));
  ASSERT_TRUE(WaitFor([this] {
    const double position = updater_->ProgressBar()->Position();
    return position > 0.0 && position < 100.0;
  }));
  const double position = updater_->ProgressBar()->Position();
  const common::Text label = updater_->ProgressLabel()->GetText();
  EXPECT_TRUE(common::StartsWith(label, "下载进度："_gbk) && common::EndsWith(label, "%"))
      << common::GbkToUtf8(label);
  EXPECT_EQ(common::ToInteger(common::Mid(label, 11)), static_cast<long long>(position))
      << common::GbkToUtf8(label) << " at " << position;
  updater_->Window()->grab().save(QStringLiteral(VELMORA_BIN_DIR "/../updater_window_progress.png"));

  // A second click reads the pages again but starts no second download.
  updater_->UpdateButton()->Click();
  ASSERT_TRUE(WaitFor([this] { return updater_->Ended() || MessagesWithText(kFailed) > 0; }, 60));
  Settle();
  int sharePageReads = 0, packageReads = 0;
  for (const std::string& target : Targets()) {
    if (target == "/share-package") ++sharePageReads;
    if (target == "/package") ++packageReads;
  }
  EXPECT_EQ(sharePageReads, 2);
  EXPECT_EQ(packageReads, 1);
  EXPECT_EQ(MessagesWithText(kInstalled), 1);
  EXPECT_EQ(support::ReadFile(run_.path() / "noise.bin").value_or(""), noise);
}

// The install's renames are held up here until the test lets them go.
std::atomic<bool> g_renameSeen{false};
std::atomic<bool> g_renameOnUiThread{false};
std::atomic<bool> g_renameRelease{false};
bool HoldRename(const std::string&) {
  if (!g_renameSeen.exchange(true)) {
    g_renameOnUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!g_renameRelease.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return true;
}

TEST_F(UpdaterWindowTest, TheWindowKeepsWorkingWhileTheArchiveIsInstalled) {
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  const Package package = MakePackage();
  ServePackage(package.bytes, std::to_string(package.bytes.size()), package.md5);
  Load();
  ASSERT_TRUE(WaitForCheck());
  g_renameSeen = false;
  g_renameRelease = false;
  update::detail::SetRenameHook(&HoldRename);
  updater_->UpdateButton()->Click();
  ASSERT_TRUE(WaitFor([] { return g_renameSeen.load(); }));
  EXPECT_FALSE(g_renameOnUiThread.load()) << "the install runs on the UI thread";
  EXPECT_TRUE(updater_->Installing());
  // Meanwhile the UI thread goes on handling its events.
  bool ticked = false;
  QTimer::singleShot(0, [&ticked] { ticked = true; });
  EXPECT_TRUE(WaitFor([&ticked] { return ticked; }, 5));
  EXPECT_TRUE(g_renameSeen.load() && !g_renameRelease.load());
  g_renameRelease = true;
  ASSERT_TRUE(WaitFor([this] { return updater_->Ended(); }, 60));
  update::detail::SetRenameHook(nullptr);
  EXPECT_FALSE(updater_->Installing());
  EXPECT_EQ(support::ReadFile(run_.path() / "Velmora.txt").value_or(""), "new");
  EXPECT_EQ(endCodes_, std::vector<int>{0});
}

TEST_F(UpdaterWindowTest, ProgressBeforeTheSizeIsKnown) {
  WriteLocalVersion("1.0");
  ServeRelease("2.0");
  ServeNotes("n\r\n");
  Load();
  ASSERT_TRUE(WaitForCheck());
  updater_->ShowProgress();
  EXPECT_EQ(updater_->ProgressLabel()->GetText(), "下载进度：0%"_gbk);
  EXPECT_EQ(updater_->ProgressBar()->Position(), 0.0);
  EXPECT_EQ(updater_->TotalSize(), 0.0);
}

}  // namespace
}  // namespace updater_test
