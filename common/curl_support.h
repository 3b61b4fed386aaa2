// What every libcurl user of the programs shares: the one initialisation of the library, owning
// handles, and the escaping of address bytes that may not stand in a URL as they are.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

namespace common::curl {

// Initialises the library once per process, before the first handle of any thread.
void InitialiseLibrary();

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// Bytes that may not stand in a URL as they are (spaces, control characters, GBK characters)
// percent-encoded with upper-case digits; every other byte exactly as written.
std::string EscapeUrlBytes(std::string_view text);

}  // namespace common::curl
