#include "text/error_text.h"

#include "text/gbk.h"

namespace skjk {

std::string GeneralErrorText(std::string_view message) {
  std::string out(message);
  if (message.empty()) return out;
  // Start of the last whole character.
  size_t last = 0;
  for (size_t i = 0; i < message.size();) {
    last = i;
    bool pair = text::IsGbkLeadByte(static_cast<unsigned char>(message[i])) &&
                i + 1 < message.size();
    i += pair ? 2 : 1;
  }
  if (static_cast<unsigned char>(message[last]) >
      static_cast<unsigned char>('.')) {
    out += '.';
  }
  return out;
}

std::string OutOfMemoryErrorText() {
  return text::Utf8ToGbk(
      "内存不足，操作未能完成。请缩小查询的日期区间，或关闭其他程序后重试");
}

}  // namespace skjk
