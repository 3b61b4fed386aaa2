// Velmora's start-up against a release page on loopback: the normal start into the cleanup
// window, and the hand-over to UpDate with its message, the updater's start and the end of the
// program.
#include "tests/velmora/startup/startup_fixture.h"

#include <QPixmap>
#include <cctype>
#include <ostream>

namespace startup_test {
namespace {

const common::Text kUpdateText = "已发现新版本,请立即下载！"_gbk;
const common::Text kUpdateTitle = "软件更新提示："_gbk;

struct GateCase {
  const char* name;
  std::optional<std::string> localVersion;  // nullopt: no version file
  std::optional<std::string> response;      // nullopt: nothing listens at the page's address
  bool update;
};

void PrintTo(const GateCase& c, std::ostream* out) { *out << c.name; }

std::vector<GateCase> GateCases() {
  return {
      {"equal versions", std::string("2.0"), PageResponse("<p>版本前2.0版本后</p>"_gbk), false},
      {"equal versions on a UTF-8 page",
       std::string("2.0"),
       PageResponse("<html><head><meta charset=\"utf-8\"></head><body>版本前2.0版本后</body></html>",
                    "text/html; charset=utf-8"),
       false},
      {"local version with a trailing line break", std::string("2.0\r\n"),
       PageResponse("版本前2.0版本后"_gbk), true},
      {"newer page version", std::string("2.0"), PageResponse("版本前2.1版本后"_gbk), true},
      {"older page version", std::string("2.0"), PageResponse("版本前1.9版本后"_gbk), true},
      {"page with the start marker and no end marker", std::string("2.0"),
       PageResponse("<p>版本前2.1</p>"_gbk), false},
      {"end marker before the start marker, same version", std::string("2.0"),
       PageResponse("版本后1.0版本前2.0版本后"_gbk), false},
      {"end marker before the start marker, other version", std::string("1.0"),
       PageResponse("版本后1.0版本前2.0版本后"_gbk), true},
      {"page without a version", std::string("2.0"), PageResponse("<html>moved</html>"), false},
      {"no network, local version present", std::string("2.0"), std::nullopt, false},
      {"no network, no local version", std::nullopt, std::nullopt, false},
      {"no local version, page names one", std::nullopt, PageResponse("版本前2.0版本后"_gbk), true},
  };
}

class VersionGate : public StartUpFixture, public ::testing::WithParamInterface<GateCase> {};

TEST_P(VersionGate, StartsNormallyOrHandsOverToUpDate) {
  const GateCase& c = GetParam();
  if (c.localVersion) WriteLocalVersion(*c.localVersion);
  if (c.response) ServePage(*c.response); else NoNetwork();
  InstallUpdater("UpDate");

  RunStartUp();

  if (c.response) {
    // The gate reads the release page once, as a plain GET.
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].line, "GET /release HTTP/1.1");
  }
  ASSERT_NE(startUp_->Launcher(), nullptr) << "the launcher is loaded before the gate runs";

  if (c.update) {
    const auto messages = MessagesWithText(kUpdateText);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, kUpdateTitle);
    EXPECT_EQ(messages[0].buttonSet, 0);
    EXPECT_TRUE(startWindowShownAtMessage_);
    EXPECT_NE(messageOwner_, nullptr);
    EXPECT_EQ(messageOwner_, startWindowAtMessage_) << "the message belongs to the start window";
    EXPECT_TRUE(launcherShownAtMessage_) << "the launcher is loaded before the gate runs";
    EXPECT_TRUE(WaitFor([this] { return std::filesystem::exists(marker()); }))
        << "UpDate was not started";
    EXPECT_EQ(endCodes_, std::vector<int>{0});
    EXPECT_TRUE(startUp_->Ended());
    EXPECT_EQ(velmora::CleanupWindow::Instance(), nullptr) << "the cleanup window was created";
    EXPECT_TRUE(VisibleTopLevels().empty()) << "a window stayed open after the program ended";
  } else {
    EXPECT_TRUE(MessagesWithText(kUpdateText).empty());
    EXPECT_TRUE(endCodes_.empty());
    EXPECT_FALSE(startUp_->Ended());
    EXPECT_EQ(startUp_->StartWindow(), nullptr) << "the start window was not destroyed";
    velmora::CleanupWindow* cleanup = velmora::CleanupWindow::Instance();
    ASSERT_NE(cleanup, nullptr);
    EXPECT_TRUE(cleanup->Window()->isVisible());
    EXPECT_TRUE(cleanup->HidesOnClose());
    EXPECT_TRUE(startUp_->Launcher()->Window()->isVisible());
    // UpDate stays untouched on a normal start.
    Settle();
    EXPECT_FALSE(std::filesystem::exists(marker()));
  }
  EXPECT_EQ(startUp_->LocalVersion(), c.localVersion.value_or(std::string()));
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionGate, ::testing::ValuesIn(GateCases()),
                         [](const ::testing::TestParamInfo<GateCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p != '\0'; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST_F(StartUpFixture, RemoteVersionIsTheTextBetweenTheMarkers) {
  WriteLocalVersion("3.0");
  ServePage(PageResponse("<p>版本前3.0版本后</p><p>文本前a我b文本后</p>"_gbk));
  RunStartUp();
  EXPECT_EQ(startUp_->RemoteVersion(), "3.0");
  EXPECT_EQ(startUp_->LocalVersion(), "3.0");
}

TEST_F(StartUpFixture, UpDateUnderItsWindowsNameIsStartedToo) {
  WriteLocalVersion("1.0");
  ServePage(PageResponse("版本前1.1版本后"_gbk));
  InstallUpdater("UpDate.exe");
  RunStartUp();
  EXPECT_TRUE(WaitFor([this] { return std::filesystem::exists(marker()); }));
  EXPECT_EQ(endCodes_, std::vector<int>{0});
}

TEST_F(StartUpFixture, MissingUpDateStillShowsTheMessageAndEnds) {
  WriteLocalVersion("1.0");
  ServePage(PageResponse("版本前1.1版本后"_gbk));
  RunStartUp();
  const auto messages = MessagesWithText(kUpdateText);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, kUpdateTitle);
  EXPECT_EQ(endCodes_, std::vector<int>{0});
  EXPECT_EQ(velmora::CleanupWindow::Instance(), nullptr);
  EXPECT_TRUE(VisibleTopLevels().empty());
}

TEST_F(StartUpFixture, StartWindowIsBlackWithOnlyAClosebutton) {
  WriteLocalVersion("1.0");
  ServePage(PageResponse("版本前1.1版本后"_gbk));
  QRect geometry;
  int flags = -1;
  bool hasPicture = true;
  QPixmap shot;
  onFirstMessage_ = [&] {
    ui::SkinWindow* window = startUp_->StartWindow();
    ASSERT_NE(window, nullptr);
    geometry = window->geometry();
    flags = window->CaptionFlags();
    hasPicture = window->HasSkinPicture();
    shot = window->grab();
  };
  RunStartUp();
  EXPECT_EQ(geometry, QRect(50, 50, 291, 274));
  EXPECT_EQ(flags, ui::kCaptionClose);
  EXPECT_FALSE(hasPicture);
  ASSERT_FALSE(shot.isNull());
  // Away from the caption and the text, the ground is the black background colour.
  const QColor ground = shot.toImage().pixelColor(20, 240);
  EXPECT_LT(ground.red() + ground.green() + ground.blue(), 40);
  shot.save(QStringLiteral(VELMORA_BIN_DIR "/../start_window.png"));
}

}  // namespace
}  // namespace startup_test
