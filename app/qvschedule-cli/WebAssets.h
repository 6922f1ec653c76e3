// The files of the live page (app/qvschedule-cli/web/), built into the program: the build turns
// each into a byte array of a generated source file (cmake/EmbedFiles.cmake), so the page needs
// nothing from outside the program.
#pragma once

#include <cstddef>
#include <string>

struct WebAsset {
  const char* path;         // "/index.html", "/app.js", ...
  const char* contentType;
  const unsigned char* data;
  std::size_t size;
};

extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;

// The asset served at `path` ("/" is "/index.html"), or null.
const WebAsset* findWebAsset(const std::string& path);
