#include "QVLogFormat.h"

namespace {

void appendValue(std::string& out, const QVLogArg& value) {
  if (value.isNumber()) {
    out += std::to_string(value.number());
  } else {
    out += value.text() ? value.text() : "(null)";
  }
}

}  // namespace

std::string QVFormatPositional(std::string_view format, const QVLogArg* values, std::size_t count) {
  std::string out;
  out.reserve(format.size() + 32);
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%' || i + 1 >= format.size() || format[i + 1] != '_') {
      out += c;
      ++i;
      continue;
    }
    // Parse "%_<digits>_<conversion>".
    std::size_t j = i + 2;
    std::size_t position = 0;
    bool digits = false;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && position < 100000) {
      position = position * 10 + static_cast<std::size_t>(format[j] - '0');
      digits = true;
      ++j;
    }
    std::size_t conversionLength = 0;
    if (digits && j < format.size() && format[j] == '_') {
      const std::string_view rest = format.substr(j + 1);
      if (rest.substr(0, 2) == "ld") {
        conversionLength = 2;
      } else if (!rest.empty() && (rest[0] == 's' || rest[0] == 'd')) {
        conversionLength = 1;
      }
    }
    if (conversionLength == 0) {  // malformed: copy the percent sign and go on
      out += c;
      ++i;
      continue;
    }
    const std::size_t end = j + 1 + conversionLength;
    if (position >= 1 && position <= count) {
      appendValue(out, values[position - 1]);
    } else {
      out += "<missing ";
      out.append(format.substr(i, end - i));
      out += '>';
    }
    i = end;
  }
  return out;
}
