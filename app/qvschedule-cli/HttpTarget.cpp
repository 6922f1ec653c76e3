#include "HttpTarget.h"

#include <curl/curl.h>

#include <cctype>

namespace {

// Answers the URL part or an empty string.
std::string urlPart(CURLU* handle, CURLUPart part) {
  char* value = nullptr;
  if (curl_url_get(handle, part, &value, 0) != CURLUE_OK || !value) return std::string();
  std::string text(value);
  curl_free(value);
  return text;
}

using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// Parses `url`; answers curl's verdict.
CURLUcode parse(const std::string& url, UrlHandle& handle) {
  if (!handle) return CURLUE_OUT_OF_MEMORY;
  return curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string urlScheme(const std::string& url) {
  UrlHandle handle(curl_url(), &curl_url_cleanup);
  return parse(url, handle) == CURLUE_OK ? lower(urlPart(handle.get(), CURLUPART_SCHEME)) : std::string();
}

std::string checkUrl(const std::string& url) {
  UrlHandle handle(curl_url(), &curl_url_cleanup);
  const CURLUcode parsed = parse(url, handle);
  if (parsed != CURLUE_OK) return curl_url_strerror(parsed);
  const std::string scheme = lower(urlPart(handle.get(), CURLUPART_SCHEME));
  if (scheme != "http" && scheme != "https") return "the scheme must be http or https, not \"" + scheme + "\"";
  if (urlPart(handle.get(), CURLUPART_HOST).empty()) return "no host";
  return std::string();
}

std::string checkHeader(const std::string& header) {
  const auto colon = header.find(':');
  if (colon == std::string::npos || colon == 0) return "a header is \"Name: value\"";
  for (std::size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(header[i]);
    if (!std::isgraph(c)) return "the header name has a space or a control character";
  }
  for (const char c : header) {
    if (c == '\r' || c == '\n') return "a header is one line";
  }
  return std::string();
}

bool prepare(HttpTarget& target) {
  curl_slist* list = nullptr;
  for (const std::string& header : target.headers) {
    curl_slist* longer = curl_slist_append(list, header.c_str());
    if (!longer) {
      curl_slist_free_all(list);
      return false;
    }
    list = longer;
  }
  target.headerList = std::shared_ptr<curl_slist>(list, [](curl_slist* l) { curl_slist_free_all(l); });
  return true;
}
