#include "DefinitionText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iconv.h>

namespace {

struct Detected {
  std::string encoding;   // iconv name; empty: UTF-8 already
  std::size_t skip = 0;   // bytes of the byte-order mark
};

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The position and length of the encoding name in an XML declaration at the start of `text`.
bool findDeclaredEncoding(const std::string& text, std::size_t& at, std::size_t& length) {
  if (!startsWith(text, "<?xml")) return false;
  const std::size_t end = text.find("?>");
  const std::size_t key = text.find("encoding", 5);
  if (end == std::string::npos || key == std::string::npos || key > end) return false;
  std::size_t i = key + 8;
  while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i >= end || text[i] != '=') return false;
  ++i;
  while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i >= end || (text[i] != '"' && text[i] != '\'')) return false;
  const std::size_t close = text.find(text[i], i + 1);
  if (close == std::string::npos || close > end) return false;
  at = i + 1;
  length = close - at;
  return true;
}

Detected detect(const std::string& text) {
  struct Mark {
    const char* bytes;
    std::size_t size;
    const char* encoding;
    std::size_t skip;
  };
  // Byte-order marks first (UTF-32 before UTF-16, whose mark starts the same), then the first
  // character "<" of a document without a mark.
  static const Mark kMarks[] = {
      {"\xEF\xBB\xBF", 3, "", 3},           {"\xFF\xFE\x00\x00", 4, "UTF-32LE", 4}, {"\x00\x00\xFE\xFF", 4, "UTF-32BE", 4},
      {"\xFF\xFE", 2, "UTF-16LE", 2},       {"\xFE\xFF", 2, "UTF-16BE", 2},         {"\x3C\x00\x00\x00", 4, "UTF-32LE", 0},
      {"\x00\x00\x00\x3C", 4, "UTF-32BE", 0}, {"\x3C\x00", 2, "UTF-16LE", 0},       {"\x00\x3C", 2, "UTF-16BE", 0},
  };
  for (const Mark& mark : kMarks) {
    if (text.size() >= mark.size && text.compare(0, mark.size, mark.bytes, mark.size) == 0) return {mark.encoding, mark.skip};
  }
  std::size_t at = 0, length = 0;
  if (!findDeclaredEncoding(text, at, length)) return {};
  const std::string name = lower(text.substr(at, length));
  if (name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii") return {};
  // A wide encoding would have shown in the first bytes: these bytes are single-byte, read as UTF-8.
  for (const char* wide : {"utf-16", "utf16", "utf-32", "utf32", "ucs-2", "ucs2", "ucs-4", "ucs4"}) {
    if (startsWith(name, wide)) return {};
  }
  return {text.substr(at, length), 0};
}

bool convert(const std::string& from, const std::string& in, std::string& out, std::string& problem) {
  const iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    problem = "unsupported encoding \"" + from + "\"";
    return false;
  }
  out.assign(in.size() * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char* outPtr = &out[0];
  std::size_t outLeft = out.size();
  const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  const int error = errno;
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1)) {
    problem = std::string(error == EINVAL ? "incomplete" : "invalid") + " " + from + " text at byte " +
              std::to_string(in.size() - inLeft);
    return false;
  }
  out.resize(out.size() - outLeft);
  return true;
}

}  // namespace

bool definitionTextToUtf8(std::string& text, std::string& problem) {
  const Detected detected = detect(text);
  if (!detected.encoding.empty()) {
    std::string converted;
    if (!convert(detected.encoding, text.substr(detected.skip), converted, problem)) return false;
    text.swap(converted);
  } else {
    text.erase(0, detected.skip);
  }
  // The text is UTF-8 now, whatever the declaration said (a byte-order mark outranks it).
  std::size_t at = 0, length = 0;
  if (findDeclaredEncoding(text, at, length)) text.replace(at, length, "UTF-8");
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    problem = "a NUL character at byte " + std::to_string(nul) + " (not XML text)";
    return false;
  }
  return true;
}
