#include "QVWinTypes.h"

#include <cstdio>

namespace {

const char* knownMessage(HRESULT hr) {
  switch (static_cast<std::uint32_t>(hr)) {
    case 0x80004003u: return "Invalid pointer";
    case 0x80004002u: return "No such interface supported";
    case 0x8007000Eu: return "Not enough memory resources are available to complete this operation.";
    case 0x80070057u: return "The parameter is incorrect.";
    case 0x80004005u: return "Unspecified error";
    case 0u: return "The operation completed successfully.";
    default: return nullptr;
  }
}

}  // namespace

const char* _com_error::ErrorMessage() const {
  if (message_.empty()) {
    if (const char* known = knownMessage(hr_)) {
      message_ = known;
    } else {
      char buffer[64];
      const auto code = static_cast<std::uint32_t>(hr_);
      if (code >= 0x80040200u && code <= 0x8004FFFFu) {
        std::snprintf(buffer, sizeof buffer, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
      } else {
        std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
      }
      message_ = buffer;
    }
  }
  return message_.c_str();
}
