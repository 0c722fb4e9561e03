// GBK conversions on Linux, through glibc's iconv.
#include <errno.h>
#include <iconv.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "text/gbk.h"

namespace skjk::text {
namespace {

// One descriptor per direction and thread, opened on first use: opening one
// costs far more than converting a short field.
iconv_t Descriptor(const char* to, const char* from) {
  struct Cached {
    Cached(std::string k, iconv_t d) : key(std::move(k)), cd(d) {}
    Cached(const Cached&) = delete;
    Cached& operator=(const Cached&) = delete;
    ~Cached() { iconv_close(cd); }
    std::string key;
    iconv_t cd;
  };
  thread_local std::vector<std::unique_ptr<Cached>> cache;
  std::string key = std::string(to) + "<" + from;
  for (auto& c : cache) {
    if (c->key == key) {
      iconv(c->cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
      return c->cd;
    }
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error(std::string("iconv_open failed: ") + key);
  }
  cache.push_back(std::make_unique<Cached>(key, cd));
  return cd;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

// Converts with iconv, replacing an invalid or incomplete sequence by '?'
// (one per skipped input byte) and going on.
std::string Convert(const char* to, const char* from, const char* data,
                    size_t size, size_t unit) {
  const std::string_view replacement =
      std::string_view(to).starts_with("UTF-16") ? std::string_view("?\0", 2)
                                                 : std::string_view("?");
  iconv_t cd = Descriptor(to, from);
  std::string out;
  out.resize(size * 2 + 16);
  char* in = const_cast<char*>(data);
  size_t in_left = size;
  char* dst = out.data();
  size_t out_left = out.size();
  while (in_left > 0) {
    size_t r = iconv(cd, &in, &in_left, &dst, &out_left);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = dst - out.data();
      out.resize(out.size() * 2);
      dst = out.data() + used;
      out_left = out.size() - used;
      continue;
    }
    // EILSEQ or EINVAL: skip one input unit and emit a replacement.
    size_t skip = unit < in_left ? unit : in_left;
    in += skip;
    in_left -= skip;
    size_t used = dst - out.data();
    out.resize(used);
    out.append(replacement);
    out.resize(out.size() + in_left * 2 + 16);
    dst = out.data() + used + replacement.size();
    out_left = out.size() - used - replacement.size();
  }
  out.resize(dst - out.data());
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  return Convert("UTF-8", "GBK", gbk.data(), gbk.size(), 1);
}

std::string Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return Convert("GBK", "UTF-8", utf8.data(), utf8.size(), 1);
}

std::u16string GbkToUtf16(std::string_view gbk) {
  std::string bytes = Convert("UTF-16LE", "GBK", gbk.data(), gbk.size(), 1);
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(
        static_cast<unsigned char>(bytes[2 * i]) |
        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
  std::string bytes(utf16.size() * 2, '\0');
  for (size_t i = 0; i < utf16.size(); ++i) {
    bytes[2 * i] = static_cast<char>(utf16[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(utf16[i] >> 8);
  }
  return Convert("GBK", "UTF-16LE", bytes.data(), bytes.size(), 2);
}

}  // namespace skjk::text
