// The request a pool's vusers send, checked and prepared once before the run; read-only after,
// shared by every vuser of the pool (and by the event-loop threads that send it).
#pragma once

#include <memory>
#include <string>
#include <vector>

struct curl_slist;

struct HttpTarget {
  std::string url;
  bool https = false;
  std::string method = "GET";
  std::vector<std::string> headers;  // "Name: value"
  std::shared_ptr<const std::string> body;  // null: none
  // HTTPS: the certificates (a PEM file) trusted instead of the system's, or none checked at all.
  std::string caFile;
  bool insecure = false;

  // The headers as curl wants them (made by prepare()).
  std::shared_ptr<curl_slist> headerList;
};

// Checks `url` (an absolute http:// or https:// URL with a host); answers an empty string when
// it is fine, else the reason.
std::string checkUrl(const std::string& url);
// The scheme of a URL in lower case ("http", "https"), empty when it has none.
std::string urlScheme(const std::string& url);
// Checks a "Name: value" header; empty when fine, else the reason.
std::string checkHeader(const std::string& header);
// Makes the header list; answers false when curl cannot hold it.
bool prepare(HttpTarget& target);
