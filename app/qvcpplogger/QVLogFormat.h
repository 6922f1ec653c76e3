// Positional message formatting: "%_N_s" takes value N as text, "%_N_ld" as a number
// (N counts from 1). Positions may come in any order and repeat. A placeholder whose value is
// missing is written as "<missing %_N_x>"; a malformed placeholder is copied as it stands.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

// One value for a positional format: a C string (not owned; null is written as "(null)") or a
// signed number.
class QVLogArg {
 public:
  QVLogArg(const char* text) : text_(text) {}
  QVLogArg(const std::string& text) : text_(text.c_str()) {}
  QVLogArg(int number) : isNumber_(true), number_(number) {}
  QVLogArg(long number) : isNumber_(true), number_(number) {}
  QVLogArg(long long number) : isNumber_(true), number_(static_cast<long>(number)) {}
  QVLogArg(unsigned number) : isNumber_(true), number_(static_cast<long>(number)) {}

  bool isNumber() const { return isNumber_; }
  const char* text() const { return text_; }
  long number() const { return number_; }

 private:
  bool isNumber_ = false;
  const char* text_ = nullptr;
  long number_ = 0;
};

std::string QVFormatPositional(std::string_view format, const QVLogArg* values, std::size_t count);
inline std::string QVFormatPositional(std::string_view format, std::initializer_list<QVLogArg> values) {
  return QVFormatPositional(format, values.begin(), values.size());
}
