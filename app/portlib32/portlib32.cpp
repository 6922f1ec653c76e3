#include "portlib32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const OsStrCommonEmpty xtOsStrCommonEmptyStr = {{0, 0}, {'\0'}};

namespace {

// Strings are allocated with the same layout as the shared empty string, so the characters of
// every OsStr sit at the same distance from its control block.
constexpr size_t kCharsOffset = offsetof(OsStrCommonEmpty, chars);
static_assert(kCharsOffset == sizeof(OsStrControlBlock), "characters must follow the control block directly");

OsStr commonEmpty() {
  // The shared string is handed out as a writable pointer for the sake of the type only;
  // nothing ever writes through it.
  return const_cast<char*>(xtOsStrCommonEmptyStr.chars);
}

bool isCommonEmpty(const char* str) { return str == xtOsStrCommonEmptyStr.chars; }

const OsStrControlBlock* controlOf(const char* str) {
  return reinterpret_cast<const OsStrControlBlock*>(str - kCharsOffset);
}

// Allocates an uninitialized string for `length` characters plus the terminator, with its
// control block filled in. Throws std::bad_alloc when memory is short.
OsStr allocate(size_t length) {
  void* block = std::malloc(kCharsOffset + length + 1);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  auto* control = static_cast<OsStrControlBlock*>(block);
  control->length = length;
  control->capacity = length;
  OsStr chars = static_cast<char*>(block) + kCharsOffset;
  chars[length] = '\0';
  return chars;
}

}  // namespace

void xfvOsStrConstructFromCharArrayIgnoringNulls(OsStr* out, const char* chars, size_t length) {
  if (out == nullptr) {
    return;
  }
  if (chars == nullptr || length == 0) {
    *out = commonEmpty();
    return;
  }
  OsStr str = allocate(length);
  std::memcpy(str, chars, length);
  *out = str;
}

void xfvOsStrFormatV(OsStr* out, const char* format, va_list args) {
  if (out == nullptr) {
    return;
  }
  *out = commonEmpty();
  if (format == nullptr) {
    return;
  }
  // First pass measures, second pass writes; each needs its own copy of the arguments.
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed <= 0) {
    return;
  }
  OsStr str = allocate(static_cast<size_t>(needed));
  va_list write;
  va_copy(write, args);
  const int written = std::vsnprintf(str, static_cast<size_t>(needed) + 1, format, write);
  va_end(write);
  if (written != needed) {
    OsStr failed = str;
    xfvOsStrDestruct(&failed);
    return;
  }
  *out = str;
}

void xfvOsStrFormat(OsStr* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  xfvOsStrFormatV(out, format, args);
  va_end(args);
}

void xfvOsStrDestruct(OsStr* str) {
  if (str == nullptr) {
    return;
  }
  if (*str != nullptr && !isCommonEmpty(*str)) {
    std::free(*str - kCharsOffset);
  }
  *str = commonEmpty();
}

size_t xfnOsStrLength(OsStr str) {
  if (str == nullptr || isCommonEmpty(str)) {
    return 0;
  }
  return controlOf(str)->length;
}

char* os_strncpyz(char* dest, const char* src, size_t size) {
  if (dest == nullptr || size == 0) {
    return dest;
  }
  size_t count = 0;
  if (src != nullptr) {
    while (count + 1 < size && src[count] != '\0') {
      dest[count] = src[count];
      ++count;
    }
  }
  dest[count] = '\0';
  return dest;
}
