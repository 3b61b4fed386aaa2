#include "update/share_link.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/fetch.h"
#include "tests/support/http_server.h"

namespace {

using namespace common::literals;
using common::Text;
using test_support::HttpServer;
using update::CutBetweenExact;
using update::PercentDecode;
using update::PercentEncode;
using update::ResolveShareLink;
using update::ShareAddress;
using update::SplitLinkRecord;

constexpr char kShareAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
const Text kEmptyRecord = "|*||";

// Changes the fetch settings for one test and restores them afterwards.
class ScopedSettings {
 public:
  explicit ScopedSettings(const common::detail::FetchSettings& settings)
      : previous_(common::detail::SetFetchSettings(settings)) {}
  ~ScopedSettings() { common::detail::SetFetchSettings(previous_); }

 private:
  common::detail::FetchSettings previous_;
};

common::detail::FetchSettings QuickLimits() {
  common::detail::FetchSettings limits;
  limits.connectTimeoutSeconds = 2;
  limits.noDataSeconds = 1;
  return limits;
}

std::string Ok(std::string_view body) {
  return HttpServer::Response("HTTP/1.1 200 OK", {"Content-Type: text/html; charset=utf-8"}, body);
}

// A share page as the cloud drive writes it (UTF-8): the file list as a JSON text inside a
// script, every quote of it escaped and every "/" of it as two backslashes and a "/", and the icon
// call that names the file. The arguments stand in the page exactly as given; a field left out
// is missing from the page.
struct PageFields {
  std::string link = R"(http:\\/\\/d.pcs.example.com\\/file\\/9f2c?fid=7&sign=a%2Bb)";
  std::optional<std::string> name = "update.zip";
  std::optional<std::string> size = "1048576";
  std::optional<std::string> md5 = "0cc175b9c0f1b6a831c399e269772661";
};

std::string SharePage(const PageFields& f) {
  std::string json = R"([{\"fs_id\":\"812\",\"isdir\":\"0\",)";
  if (f.md5) json += R"(\"md5\":\")" + *f.md5 + R"(\",)";
  json += R"(\"path\":\"\\/apps\\/velmora\\/file\")";
  if (f.size) json += R"(,\"size\":\")" + *f.size + R"(\",\"server_mtime\":\"1363305600\")";
  json += R"(,\"dlink\":\")" + f.link + R"(\"}])";
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>分享 - 云盘</title></head>\n"
      "<body><script type=\"text/javascript\">\n"
      "var yunData = {};\nyunData.FILEINFO = \"" +
      json + "\";\n";
  if (f.name)
    page += "document.write(FileSmallIcon(0,null,\"" + *f.name +
            "\".match(/(.[^\\.]+$)/)[0]) + ' 100%');\n";
  page += "</script></body></html>\n";
  return page;
}

Text Record(const Text& link, const Text& encoded, const Text& name, const Text& size,
            const Text& md5) {
  return link + "|" + encoded + "*" + name + "|" + size + "|" + md5;
}

class ShareLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Running()) << "python3 could not start the server"; }

  // Serves the bytes as a share page of its own and resolves it.
  Text Resolve(const std::string& page) {
    const std::string target = "/s/" + std::to_string(++pages_);
    server.Answer(target, Ok(page));
    return ResolveShareLink(server.Url(target));
  }

  HttpServer server;

 private:
  int pages_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The fields of a served share page

TEST_F(ShareLinkTest, AWholeRecordFromAPage) {
  PageFields fields;
  fields.name = "更新包.zip";
  EXPECT_EQ(Resolve(SharePage(fields)),
            Record("http://d.pcs.example.com/file/9f2c?fid=7&sign=a%2Bb",
                   "%E6%9B%B4%E6%96%B0%E5%8C%85.zip", "更新包.zip"_gbk, "1048576",
                   "0cc175b9c0f1b6a831c399e269772661"));
}

TEST_F(ShareLinkTest, TheLinkLosesItsEscapedSlashesAndNothingElse) {
  struct Case {
    std::string inPage;
    Text link;
  } cases[] = {
      {R"(http:\\/\\/d.example.com\\/file\\/abc.zip)", "http://d.example.com/file/abc.zip"},
      {"http://plain.example.com/x.zip?a=1&b=2", "http://plain.example.com/x.zip?a=1&b=2"},
      // Percent escapes of the link stay: only the name is decoded.
      {R"(http:\\/\\/h\\/a%20b%E6.zip?s=x%2By)", "http://h/a%20b%E6.zip?s=x%2By"},
      // A second double slash, inside the query.
      {R"(http:\\/\\/h\\/p?u=http:\\/\\/x\\/y)", "http://h/p?u=http://x/y"},
      // Every replacement looks again from the start: four backslashes and a "/" end as "/".
      {R"(http:\\/\\/h\\/a\\\\/b)", "http://h/a/b"},
      // One backslash before a slash is no escape of this page.
      {R"(http:\/\/h\/c)", R"(http:\/\/h\/c)"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inPage);
    PageFields fields;
    fields.link = c.inPage;
    EXPECT_EQ(Resolve(SharePage(fields)),
              Record(c.link, "update.zip", "update.zip", "1048576",
                     "0cc175b9c0f1b6a831c399e269772661"));
  }
}

TEST_F(ShareLinkTest, TheNameIsDecodedAndItsBaseNameEncoded) {
  struct Case {
    std::string inPage;  // UTF-8 or escaped, as the page writes it
    Text encoded;
    Text name;
  } cases[] = {
      {"更新包.zip", "%E6%9B%B4%E6%96%B0%E5%8C%85.zip", "更新包.zip"_gbk},
      {"%E6%9B%B4%E6%96%B0%E5%8C%85.zip", "%E6%9B%B4%E6%96%B0%E5%8C%85.zip", "更新包.zip"_gbk},
      {"%e6%9b%b4%e6%96%b0%e5%8c%85.zip", "%E6%9B%B4%E6%96%B0%E5%8C%85.zip", "更新包.zip"_gbk},
      // The base name runs up to the last dot.
      {"update1.2.zip", "update1%2E2.zip", "update1.2.zip"},
      // Without a dot the whole name is the extension and stays as it is, Chinese included.
      {"update", "update", "update"},
      {"更新包", "更新包"_gbk, "更新包"_gbk},
      {".zip", ".zip", ".zip"},
      // The extension is never encoded.
      {"包.压缩", "%E5%8C%85.压缩"_gbk, "包.压缩"_gbk},
      {"my update.zip", "my%20update.zip", "my update.zip"},
      {"my%20update.zip", "my%20update.zip", "my update.zip"},
      {"line%0Afeed.zip", "line%0Afeed.zip", "line\nfeed.zip"},
      // Only letters and digits stand for themselves; "+" is no space.
      {"v1-2_3~(b).zip", "v1%2D2%5F3%7E%28b%29.zip", "v1-2_3~(b).zip"},
      {"a+b.zip", "a%2Bb.zip", "a+b.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inPage);
    PageFields fields;
    fields.name = c.inPage;
    EXPECT_EQ(Resolve(SharePage(fields)),
              Record("http://d.pcs.example.com/file/9f2c?fid=7&sign=a%2Bb", c.encoded, c.name,
                     "1048576", "0cc175b9c0f1b6a831c399e269772661"));
  }
}

TEST_F(ShareLinkTest, AMissingFieldIsEmptyAndTheOthersAreStillCut) {
  const Text link = "http://d.pcs.example.com/file/9f2c?fid=7&sign=a%2Bb";
  const Text md5 = "0cc175b9c0f1b6a831c399e269772661";
  PageFields noMd5;
  noMd5.md5.reset();
  PageFields noSize;
  noSize.size.reset();
  PageFields noName;
  noName.name.reset();
  struct Case {
    const char* what;
    std::string page;
    Text record;
  } cases[] = {
      {"no md5", SharePage(noMd5), Record(link, "update.zip", "update.zip", "1048576", "")},
      {"no size", SharePage(noSize), Record(link, "update.zip", "update.zip", "", md5)},
      {"no name", SharePage(noName), Record(link, "", "", "1048576", md5)},
      {"no link end", R"(\"md5\":\"m\",\"dlink\":\"http:\\/\\/h\\/open)",
       Record("", "", "", "", "m")},
      // The page ends at its first zero byte: what follows it is not read.
      {"zero byte", std::string(R"(\",\"size\":\"5\",\"server_mtime\":\"1\",\"dlink\":\"l\")") +
                        std::string(1, '\0') + R"(\"md5\":\"m\",\")",
       Record("l", "", "", "5", "")},
      {"empty page", "", kEmptyRecord},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Resolve(c.page), c.record);
  }
}

// ---------------------------------------------------------------------------------------------
// The request and its answer

TEST_F(ShareLinkTest, TheRequestIsAPlainHttp10GetNeverFromACache) {
  server.Answer("/share/link?uk=42&shareid=7", Ok(SharePage({})));
  const Text address = ShareAddress("127.0.0.1:" + std::to_string(server.Port()) +
                                    "/share/link?uk=42我shareid=7"_gbk);
  EXPECT_EQ(SplitLinkRecord(ResolveShareLink(address)).size, "1048576");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.line, "GET /share/link?uk=42&shareid=7 HTTP/1.0");
  EXPECT_EQ(request.HeaderValues("Accept"), std::vector<std::string>{"*/*"});
  EXPECT_EQ(request.HeaderValues("User-Agent"), std::vector<std::string>{kShareAgent});
  EXPECT_EQ(request.HeaderValues("Pragma"), std::vector<std::string>{"no-cache"});
  EXPECT_EQ(request.HeaderValues("Cache-Control"), std::vector<std::string>{"no-cache"});
  EXPECT_TRUE(request.HeaderValues("Accept-Encoding").empty());
  EXPECT_EQ(request.HeaderValues("Host"),
            std::vector<std::string>{"127.0.0.1:" + std::to_string(server.Port())});
  EXPECT_EQ(request.body, "");
}

TEST_F(ShareLinkTest, RedirectsAreFollowedAndAnErrorAnswerIsStillAPage) {
  const std::string page = SharePage({});
  server.Answer("/page", Ok(page));
  server.Answer("/found", HttpServer::Response("HTTP/1.1 302 Found", {"Location: /page"}, ""));
  server.Answer("/moved", HttpServer::Response("HTTP/1.1 301 Moved Permanently",
                                               {"Location: http://127.0.0.1:{PORT}/found"}, ""));
  server.Answer("/gone", HttpServer::Response("HTTP/1.1 404 Not Found", {}, page));
  // The page's bytes pass unconverted, whatever charset the answer names.
  server.Answer("/gbk", HttpServer::Response("HTTP/1.1 200 OK",
                                             {"Content-Type: text/html; charset=gbk"},
                                             R"(\"md5\":\")" + "校验"_gbk + R"(\",\")"));
  const Text expected = Record("http://d.pcs.example.com/file/9f2c?fid=7&sign=a%2Bb",
                               "update.zip", "update.zip", "1048576",
                               "0cc175b9c0f1b6a831c399e269772661");
  for (const char* target : {"/found", "/moved", "/gone"}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(ResolveShareLink(server.Url(target)), expected);
  }
  EXPECT_EQ(ResolveShareLink(server.Url("/gbk")), Record("", "", "", "", "校验"_gbk));
}

TEST_F(ShareLinkTest, AnUnreadablePageGivesTheSeparatorsAlone) {
  ScopedSettings quick(QuickLimits());
  server.Hang("/hang");
  server.Drop("/drop");
  // Fewer body bytes than the answer announced: the page is cut short.
  server.Answer("/cut",
                "HTTP/1.1 200 OK\r\nContent-Length: 99999\r\nConnection: close\r\n\r\n" +
                    SharePage({}));
  server.Answer("/ftp", HttpServer::Response("HTTP/1.1 302 Found",
                                             {"Location: ftp://127.0.0.1:{PORT}/page"}, ""));
  server.Answer("/loop", HttpServer::Response("HTTP/1.1 302 Found", {"Location: /loop"}, ""));
  const Text unreachable =
      "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/s/1";
  for (const Text& address :
       {unreachable, Text(server.Url("/hang")), Text(server.Url("/drop")),
        Text(server.Url("/cut")), Text(server.Url("/ftp")), Text(server.Url("/loop")),
        Text("http://"), Text("file:///etc/hostname")}) {
    SCOPED_TRACE(address);
    EXPECT_EQ(update::ReadSharePage(address), "");
    EXPECT_EQ(ResolveShareLink(address), kEmptyRecord);
  }
}

TEST_F(ShareLinkTest, TheBodyLimitOfThePageFetchHolds) {
  const std::string page = SharePage({});
  server.Answer("/page", Ok(page));
  common::detail::FetchSettings limits = QuickLimits();
  limits.maxBodyBytes = page.size();
  {
    ScopedSettings exact(limits);
    EXPECT_EQ(update::ReadSharePage(server.Url("/page")), page);
  }
  limits.maxBodyBytes = page.size() - 1;
  ScopedSettings under(limits);
  EXPECT_EQ(ResolveShareLink(server.Url("/page")), kEmptyRecord);
}

TEST_F(ShareLinkTest, HttpsPagesAreReadWithTheTrustedCertificates) {
  HttpServer secure(/*https=*/true);
  ASSERT_TRUE(secure.Running()) << "openssl or python3 could not start the https server";
  secure.Answer("/s", Ok(SharePage({})));
  {
    ScopedSettings quick(QuickLimits());
    EXPECT_EQ(ResolveShareLink(secure.Url("/s")), kEmptyRecord);
  }
  common::detail::FetchSettings settings = QuickLimits();
  settings.trustedCertificates = secure.CertificatePath();
  ScopedSettings trusted(settings);
  EXPECT_EQ(SplitLinkRecord(ResolveShareLink(secure.Url("/s"))).md5,
            "0cc175b9c0f1b6a831c399e269772661");
}

// The button's click and the release check may resolve at the same time.
TEST_F(ShareLinkTest, TwoThreadsResolveAtTheSameTime) {
  std::vector<Text> expected;
  for (int i = 0; i < 2; ++i) {
    PageFields fields;
    fields.link = "http:\\\\/\\\\/h\\\\/" + std::to_string(i);
    fields.name = "包" + std::to_string(i) + ".zip";
    fields.size = std::to_string(100 + i);
    server.Answer("/t" + std::to_string(i), Ok(SharePage(fields)));
    expected.push_back(Record("http://h/" + std::to_string(i),
                              "%E5%8C%85" + std::to_string(i) + ".zip",
                              "包"_gbk + std::to_string(i) + ".zip", std::to_string(100 + i),
                              "0cc175b9c0f1b6a831c399e269772661"));
  }
  std::vector<Text> results[2];
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 10; ++round)
        results[i].push_back(ResolveShareLink(server.Url("/t" + std::to_string(i))));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(results[i].size(), 10u);
    for (const Text& record : results[i]) EXPECT_EQ(record, expected[i]);
  }
}

// ---------------------------------------------------------------------------------------------
// The text operations

TEST(ShareAddress, PutsTheSchemeInFrontAndTurnsEveryWoIntoAnAmpersand) {
  struct Case {
    Text value, address;
  } cases[] = {
      {"pan.example.com/share/link?uk=1我shareid=2"_gbk,
       "http://pan.example.com/share/link?uk=1&shareid=2"},
      {"h/s?a=1我b=2我c=我"_gbk, "http://h/s?a=1&b=2&c=&"},
      {"", "http://"},
      {"h/我的文件"_gbk, "http://h/&的文件"_gbk},
      // The bytes of 我 (CE D2) across two characters (81 CE, D2 A1) are no 我.
      {"h/\x81\xCE\xD2\xA1", "http://h/\x81\xCE\xD2\xA1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ShareAddress(c.value), c.address);
  }
}

TEST(CutBetweenExact, TakesTheTextBetweenTheFirstStartAndTheNextEnd) {
  struct Case {
    Text text, start, end, result;
  } cases[] = {
      {"a[1]b[2]", "[", "]", "1"},
      {"]x[y]", "[", "]", "y"},       // an end before the start is ignored
      {"a[]b", "[", "]", ""},          // markers side by side
      {"a[1", "[", "]", ""},           // no end after the start
      {"a]1", "[", "]", ""},           // no start
      {"KEY=1;key=2;", "key=", ";", "2"},  // case matters
      {"\"q\"", "#引号"_gbk, "#引号"_gbk, ""},  // "#引号" is only itself here
      {"x#引号y#引号"_gbk, "#引号"_gbk, "#引号"_gbk, "y"},
      // A marker is found only at a character boundary: the backslash that ends 乗 (81 5C) does
      // not start `\"`.
      {"\x81\\\"a\\\"b|", "\\\"", "|", "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CutBetweenExact(c.text, c.start, c.end), c.result);
  }
}

TEST(PercentDecode, DecodesEscapedUtf8IntoGbk) {
  struct Case {
    Text text, decoded;
  } cases[] = {
      {"%41%62c", "Abc"},
      {"%E6%9B%B4%e6%96%b0", "更新"_gbk},
      {"更新", "更新"_gbk},  // UTF-8 that stands unescaped
      {"a+b", "a+b"},
      {"100%", "100"},        // "%" at the end
      {"x%4", "x"},           // one byte left after "%"
      {"%zzy", "y"},          // no hexadecimal digits: the three bytes give nothing
      {"%4zy", "y"},
      {"%%41", "1"},          // the second "%" is the first digit
      {"a%00b", "ab"},        // a zero byte adds nothing
      {"%FF", "?"},           // not UTF-8
      {"\xB8\xFC", "??"},     // GBK that stood unescaped in the page is no UTF-8 either
      {"e%CC%81", "\xA8\xA6"},  // a letter and its combining accent: the precomposed é of GBK
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PercentDecode(c.text), c.decoded);
  }
}

TEST(PercentEncode, WritesEveryByteButLettersAndDigitsOfTheUtf8Form) {
  struct Case {
    Text text, encoded;
  } cases[] = {
      {"", ""},
      {"Az09", "Az09"},
      {"a b", "a%20b"},
      {"\n\t", "%0A%09"},
      {"-_.~!*", "%2D%5F%2E%7E%21%2A"},
      {"更新包"_gbk, "%E6%9B%B4%E6%96%B0%E5%8C%85"},
      {"\x80", "%E2%82%AC"},  // 0x80 is the euro sign of code page 936
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PercentEncode(c.text), c.encoded);
    EXPECT_EQ(PercentDecode(c.encoded), c.text);
  }
}

TEST(SplitLinkRecord, FindsTheFieldsByTheOuterBarsAndTheFirstStar) {
  struct Case {
    Text record, link, encodedName, name, size, md5;
  } cases[] = {
      {"http://h/f?a=1|%E5%8C%85.zip*包.zip|1024|abc"_gbk, "http://h/f?a=1", "%E5%8C%85.zip",
       "包.zip"_gbk, "1024", "abc"},
      {"|*||", "", "", "", "", ""},
      {"l|e*n|5|", "l", "e", "n", "5", ""},
      {"l|e*n||m", "l", "e", "n", "", "m"},
      {"l|a*b*c|5|m", "l", "a", "b*c", "5", "m"},
      {"l|noname|5|m", "l", "noname", "", "5", "m"},
      {"l|x|y", "l", "", "", "x", "y"},
      {"l|m", "l", "", "", "", "m"},
      {"l", "l", "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    const update::LinkRecord fields = SplitLinkRecord(c.record);
    EXPECT_EQ(fields.link, c.link);
    EXPECT_EQ(fields.encodedName, c.encodedName);
    EXPECT_EQ(fields.name, c.name);
    EXPECT_EQ(fields.size, c.size);
    EXPECT_EQ(fields.md5, c.md5);
  }
}

}  // namespace
