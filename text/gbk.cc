#include "text/gbk.h"

namespace skjk::text {

std::string_view TruncateGbk(std::string_view gbk, size_t max_bytes) {
  if (gbk.size() <= max_bytes) return gbk;
  size_t i = 0;
  while (i < max_bytes) {
    size_t width =
        IsGbkLeadByte(static_cast<unsigned char>(gbk[i])) && i + 1 < gbk.size()
            ? 2
            : 1;
    if (i + width > max_bytes) break;
    i += width;
  }
  return gbk.substr(0, i);
}

}  // namespace skjk::text
