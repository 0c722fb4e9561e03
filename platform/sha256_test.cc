#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace skjk {
namespace {

std::string Hex(std::string_view data) {
  Sha256 hash;
  hash.Update(data);
  Result<std::string> hex = hash.HexDigest();
  EXPECT_TRUE(hex.ok()) << hex.status().message();
  return hex.ok() ? *hex : "";
}

// The standard's own examples and the million-'a' text.
TEST(Sha256Test, KnownDigests) {
  const struct {
    std::string data;
    const char* hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(c.data), c.hex) << c.data.substr(0, 20);
  }
}

// The digest depends on the bytes only, not on how they were cut into
// pieces (empty pieces included).
TEST(Sha256Test, PiecesMakeTheSameDigestAsTheWhole) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7);
  const std::string whole = Hex(data);
  for (size_t cut = 0; cut <= data.size(); cut += 13) {
    Sha256 hash;
    hash.Update(std::string_view(data).substr(0, cut));
    hash.Update("");
    hash.Update(std::string_view(data).substr(cut));
    Result<std::string> hex = hash.HexDigest();
    ASSERT_TRUE(hex.ok());
    EXPECT_EQ(*hex, whole) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace skjk
