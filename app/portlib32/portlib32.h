// OS strings: heap character strings that carry their own length.
//
// An OsStr points at NUL-terminated characters. A hidden control block (length, capacity) sits
// right before the first character. Every empty string may point at the one shared empty
// string, xtOsStrCommonEmptyStr, which is never written to and never freed.
//
// Every function accepts null pointers and empty strings.
#pragma once

#include <cstdarg>
#include <cstddef>

typedef char* OsStr;

// The control block placed in front of the characters of every OsStr.
struct OsStrControlBlock {
  size_t length;    // characters in use, not counting the terminating NUL
  size_t capacity;  // characters that fit, not counting the terminating NUL
};

// The shared empty string: a control block of length 0 followed by "".
struct OsStrCommonEmpty {
  OsStrControlBlock control;
  char chars[1];
};

extern const OsStrCommonEmpty xtOsStrCommonEmptyStr;

// Builds a string of exactly `length` characters copied from `chars`; NUL characters inside the
// range are kept as data. Null `chars` or a length of 0 gives the shared empty string.
// Whatever *out held before is not released. Nothing happens when `out` is null.
void xfvOsStrConstructFromCharArrayIgnoringNulls(OsStr* out, const char* chars, size_t length);

// Builds a string printf-style. A null format gives the shared empty string, as does a format
// that fails to expand. Whatever *out held before is not released.
void xfvOsStrFormatV(OsStr* out, const char* format, va_list args);
void xfvOsStrFormat(OsStr* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Frees *str (unless it is the shared empty string) and leaves the shared empty string in it.
// Null `str` and null *str are accepted.
void xfvOsStrDestruct(OsStr* str);

// Number of characters of `str` (embedded NULs count); 0 for null.
size_t xfnOsStrLength(OsStr str);

// Copies at most size - 1 characters of `src` (up to its first NUL) into `dest` and always
// terminates it. Null `dest` or a size of 0 writes nothing; null `src` writes "". Returns dest.
char* os_strncpyz(char* dest, const char* src, size_t size);
