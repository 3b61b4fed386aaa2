// What the updater tests share: update archives made with minizip, share pages in the cloud
// drive's escaped form, and release pages.
#pragma once

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "tests/support/http_server.h"

namespace updater_test {

using namespace common::literals;

// A zip archive with these entries (UTF-8 names, deflated), written with minizip; its bytes.
inline std::string MakeZip(const std::filesystem::path& where,
                           const std::vector<std::pair<std::string, std::string>>& entries) {
  zipFile zip = zipOpen64(where.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) {
    ADD_FAILURE() << "cannot create " << where;
    return {};
  }
  for (const auto& [name, content] : entries) {
    zip_fileinfo info{};
    // Bit 11: the name is UTF-8.
    if (zipOpenNewFileInZip4(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                             Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                             Z_DEFAULT_STRATEGY, nullptr, 0, 0, 1 << 11) != ZIP_OK ||
        zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      ADD_FAILURE() << "cannot write entry " << name;
    }
  }
  zipClose(zip, nullptr);
  std::string bytes;
  if (FILE* file = std::fopen(where.c_str(), "rb")) {
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
  }
  return bytes;
}

// A share page as the cloud drive writes it: the link with every "/" as "\\/", the fields inside
// an escaped JSON text, the name in the page's script.
inline std::string SharePage(const std::string& link, const std::string& name,
                             const std::string& size, const std::string& md5) {
  std::string escaped;
  for (char c : link) {
    if (c == '/') escaped += "\\\\/"; else escaped += c;
  }
  std::string page = "<html><script>yunData.setData({\"file_list\":\"[{\\\"dlink\\\":\\\"" + escaped +
                     "\\\",\\\"size\\\":\\\"" + size + "\\\",\\\"server_mtime\\\":\\\"1\\\",";
  if (!md5.empty()) page += "\\\"md5\\\":\\\"" + md5 + "\\\",\\\"isdir\\\":0";
  page += "}]\"});\nFileSmallIcon(0,null,\"" + name + "\".match(/(.[^\\.]+$)/));</script></html>";
  return page;
}

// A plain answer of a page host: the bytes as they are, no charset named.
inline std::string PageResponse(const std::string& body, const std::string& contentType = "text/html") {
  return test_support::HttpServer::Response("HTTP/1.1 200 OK", {"Content-Type: " + contentType}, body);
}

// "127.0.0.1:<port>" followed by the target. (The server's own "{PORT}" would change the
// length of a body whose Content-Length is already written.)
inline std::string Loopback(int port, const std::string& target) {
  return "127.0.0.1:" + std::to_string(port) + target;
}

// A release page (GBK) naming a version and the share pages of the notes and of the package on
// the port, written as the page writes them: no scheme, every "&" as "我".
inline std::string ReleasePage(int port, const std::string& version,
                               const std::string& notesShare = "/share-notes",
                               const std::string& packageShare = "/share-package") {
  return "<p>版本前"_gbk + version + "版本后</p><p>文本前"_gbk + Loopback(port, notesShare) +
         "文本后</p><p>发表前"_gbk + Loopback(port, packageShare) + "发表后</p>"_gbk;
}

}  // namespace updater_test
