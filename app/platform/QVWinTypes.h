// Plain types and result codes the library shares with its callers: a 64-bit time value with
// 32-bit halves, result codes, and the COM-style error exception thrown by the XML layer.
#pragma once

#include <cstdint>
#include <string>

using DWORD = std::uint32_t;
using HRESULT = std::int32_t;

// 64-bit unsigned value with access to its low and high 32-bit halves (little-endian layout).
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  std::uint64_t QuadPart;
};

inline ULARGE_INTEGER QVMakeULargeInteger(std::uint64_t value) {
  ULARGE_INTEGER result;
  result.QuadPart = value;
  return result;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

inline bool FAILED(HRESULT hr) { return hr < 0; }
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

// Exception carrying a result code. ErrorMessage() gives the system text for known codes,
// "IDispatch error #N" for interface-specific codes and "Unknown error 0x..." otherwise.
class _com_error {
 public:
  explicit _com_error(HRESULT hr) noexcept : hr_(hr) {}
  HRESULT Error() const noexcept { return hr_; }
  const char* ErrorMessage() const;

 private:
  HRESULT hr_;
  mutable std::string message_;
};
