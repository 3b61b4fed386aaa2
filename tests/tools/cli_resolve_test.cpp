// velmora-cli resolve: the built binary against share pages of the loopback server.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/http_server.h"
#include "tests/support/support.h"

namespace {

using namespace common::literals;
using test_support::HttpServer;

support::ProgramRun RunCli(const std::vector<std::string>& args) {
  return support::RunProgram(VELMORA_CLI, args);
}

// A share page with every field (UTF-8, the name unescaped).
const std::string kPage =
    R"(<script>yunData.FILEINFO = "[{\"md5\":\"0cc175b9c0f1b6a831c399e269772661\",)"
    R"(\"size\":\"2048\",\"server_mtime\":\"1363305600\",)"
    R"(\"dlink\":\"http:\\/\\/d.example.com\\/file\\/1?fid=2&sign=a%2Bb\"}]";)"
    "\ndocument.write(FileSmallIcon(0,null,\"更新包.zip\".match(/(.[^\\.]+$)/)[0]));</script>\n";

const std::string kRecordUtf8 =
    "http://d.example.com/file/1?fid=2&sign=a%2Bb|%E6%9B%B4%E6%96%B0%E5%8C%85.zip*更新包.zip|2048|"
    "0cc175b9c0f1b6a831c399e269772661";

class CliResolve : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Running()) << "python3 could not start the server";
    server.Answer("/s/link?uk=1&id=2", HttpServer::Response("HTTP/1.1 200 OK", {}, kPage));
  }
  HttpServer server;
};

TEST_F(CliResolve, PrintsTheRecordInUtf8OrAsRawGbk) {
  const std::string address = server.Url("/s/link?uk=1&id=2");
  const std::string value = "127.0.0.1:" + std::to_string(server.Port()) + "/s/link?uk=1我id=2";
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"resolve", address}, kRecordUtf8 + "\n"},
      {{"resolve", "--gbk", address}, common::Utf8ToGbkText(kRecordUtf8) + "\n"},
      {{"--gbk", "resolve", address}, common::Utf8ToGbkText(kRecordUtf8) + "\n"},
      // A release-page value: no scheme, "我" for "&" (given in UTF-8 on the command line).
      {{"resolve", "--value", value}, kRecordUtf8 + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const support::ProgramRun run = RunCli(c.args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(CliResolve, AnUnreadablePagePrintsTheSeparatorsAndFails) {
  const std::string address =
      "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/s";
  const support::ProgramRun run = RunCli({"resolve", address});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "|*||\n");
  EXPECT_NE(run.err.find(address), std::string::npos) << run.err;
}

TEST(CliResolveUsage, HelpAndWrongUsage) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    bool onStdout;
  } cases[] = {
      {{"resolve", "--help"}, 0, true},
      {{"resolve"}, 2, false},
      {{"resolve", "http://a", "http://b"}, 2, false},
      {{"resolve", "--bogus", "http://a"}, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : c.args[0]);
    const support::ProgramRun run = RunCli(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    const std::string& text = c.onStdout ? run.out : run.err;
    EXPECT_NE(text.find("usage: velmora-cli resolve"), std::string::npos) << text;
  }
  const support::ProgramRun help = RunCli({"--help"});
  EXPECT_NE(help.out.find("resolve [--value] ADDRESS"), std::string::npos) << help.out;
}

}  // namespace
