// Our profile reader and writer against the platform's own
// GetPrivateProfileStringA and WritePrivateProfileStringA, on files made to
// be awkward.
//
// Where ours deliberately differs:
//   - The platform function on Wine rewrites the whole file in its own form
//     when it writes: blank lines dropped, blanks around names and "="
//     removed, section names trimmed inside the brackets, every line ended
//     by CR LF. Ours changes only the line of the key (as Windows itself
//     does), so the files are compared after bringing both into that form;
//     files already in that form must come out byte for byte the same.
//   - A "[]" line: the platform drops it on rewriting, which moves the keys
//     below it into the section before it. Ours keeps it.
//   - A value cut in the middle of a two-byte character: the platform
//     function leaves the byte before the cut as it was in the caller's
//     buffer (zero here) and still counts it. Ours returns the same text
//     without that byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "settings/profile.h"
#include "settings/settings.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using namespace text::literals;

class ProfileOracleTest : public testing::Test {
 protected:
  void SetUp() override {
    // The platform function reads the file through the ANSI code page.
    if (GetACP() != 936) GTEST_SKIP() << "needs ANSI code page 936";
    // A folder of this test's own, so that no file outlives it.
    const std::string base = testing::TempDir() + "profile_oracle_" +
                             std::to_string(GetCurrentProcessId()) + "_" +
                             std::to_string(GetTickCount()) + "_";
    for (int i = 0; dir_.empty() && i < 100; ++i) {
      std::string dir = base + std::to_string(i);
      if (CreateDirectoryA(dir.c_str(), nullptr)) dir_ = dir + "\\";
    }
    ASSERT_FALSE(dir_.empty()) << "no folder under " << testing::TempDir();
  }
  void TearDown() override {
    if (dir_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    EXPECT_FALSE(ec) << "cannot remove " << dir_ << ": " << ec.message();
  }

  // A fresh file name for each file: the platform caches files it has read.
  std::string NewPath() {
    return dir_ + "oracle_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(counter_++) + ".ini";
  }

  std::string Put(const std::string& content) {
    std::string path = NewPath();
    DeleteFileA(path.c_str());
    EXPECT_TRUE(Env::Default()->WriteFile(path, content).ok());
    return path;
  }

  static std::string Platform(const std::string& path, const char* section,
                              const char* key) {
    std::vector<char> buf(2048, '\0');
    GetPrivateProfileStringA(section, key, "", buf.data(), buf.size(),
                             path.c_str());
    return std::string(buf.data());
  }

  static std::string Contents(const std::string& path) {
    std::string data;
    EXPECT_TRUE(Env::Default()->ReadFile(path, &data).ok()) << path;
    return data;
  }

  std::string dir_;
  int counter_ = 0;
};

// The form in which the platform function writes a file (see above).
std::string PlatformForm(std::string_view content) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
      s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
      s.remove_suffix(1);
    }
    return s;
  };
  std::string out;
  while (!content.empty()) {
    size_t end = content.find_first_of("\r\n");
    std::string_view line = trim(content.substr(0, end));
    content.remove_prefix(end == std::string_view::npos ? content.size()
                                                        : end + 1);
    if (line.empty()) continue;
    size_t close = line.rfind(']');
    size_t eq = line.find('=');
    if (line.front() == '[' && close != std::string_view::npos) {
      // A section without a name is written without its header line.
      std::string_view name = trim(line.substr(1, close - 1));
      if (name.empty()) continue;
      out += "[" + std::string(name) + "]";
    } else if (eq != std::string_view::npos) {
      out += std::string(trim(line.substr(0, eq))) + "=" +
             std::string(trim(line.substr(eq + 1)));
    } else {
      out += line;
    }
    out += "\r\n";
  }
  return out;
}

// Awkward files. Names in them are among kSections and kKeys.
std::vector<std::string> Files() {
  const std::string zhong = "中"_gbk;
  return {
      // Repeated sections and keys, keys before any section.
      "top=first\r\n[Bbsk]\r\nread=a\r\nread=b\r\n[Fxsk]\r\nread=f\r\n"
      "[BBSK]\r\nread=c\r\nlate=x\r\n",
      // Blanks around names and "=", tabs, empty values, lines without "=".
      "  [ Bbsk ]  \r\n  ReAd  =  C:\\a b\\c.txt  \r\n\tw\t=\t\tv\t\r\n"
      "d=\r\nnoeq\r\n = nokey\r\nq =\r\n",
      // Quotes.
      "[Bbsk]\r\nq=\"quoted\"\r\nq2='single'\r\nq3=\"\r\nq4=\"\"\r\n"
      "v=\"mixed'\r\nv2=\" inner blanks \"\r\nv3=\"a\"b\"\r\nv4='\"'\r\n",
      // Comments.
      "; head comment\r\n[Bbsk]\r\n;c=1\r\n#d=2\r\nd=3 ; not a comment\r\n"
      "# read=no\r\nread=yes\r\n",
      // Missing final line end, LF only, lone CR.
      "[Bbsk]\nread=lf\nw=2\n\n[my sec]\rk=cr\r[Last]\nend=tail",
      // Section lines with spaces, text after "]", no "]", empty name.
      "[my sec]\r\nk=spaced\r\n[Fxsk] ; note\r\nread=after note\r\n[Last\r\n"
      "end=open bracket\r\n[]\r\nk=empty name\r\n[S]\r\nv=s\r\n",
      // GBK names whose trail bytes look like "]", "A" and "a".
      "[\x81\x5d]\r\n\x81\x41=upper\r\n\x81\x61=lower\r\n[S]\r\n"
      "v=中文值"_gbk +
          "\r\n",
      // Long values, with a two-byte character across the cut or not.
      "[S]\r\nv=" + std::string(3000, 'a') + "\r\nv2=" +
          std::string(2046, 'a') + zhong + "\r\nv3=" + std::string(2045, 'a') +
          zhong + zhong + "\r\nv4=\"" + std::string(2100, 'b') + "\"\r\n" +
          "k=" + std::string(1500, 'x') + zhong + zhong + zhong + "\r\n",
      // Mostly Chinese, longer than the buffer in bytes only.
      "[S]\r\nv=" +
          [&] {
            std::string s;
            for (int i = 0; i < 1100; ++i) s += zhong;
            return s;
          }() +
          "\r\n",
      // Empty file.
      "",
  };
}

const char* const kSections[] = {"Bbsk",   "bbsk", " Bbsk ", "Fxsk",
                                 "my sec", "Last", "S",      "\x81\x5d"};
const char* const kKeys[] = {
    "read", "READ", "w",    "d",        "q",        "q2", "q3",  "q4",
    ";c",   "#d",   "noeq", "late",     "top",      "k",  "end", "v",
    "v2",   "v3",   "v4",   "\x81\x41", "\x81\x61", ""};

TEST_F(ProfileOracleTest, ReadsAsThePlatform) {
  int compared = 0;
  for (const std::string& file : Files()) {
    std::string path = Put(file);
    for (const char* section : kSections) {
      for (const char* key : kKeys) {
        if (*key == '\0') continue;
        EXPECT_EQ(ReadProfileKey(Env::Default(), path, section, key),
                  Platform(path, section, key))
            << "[" << section << "] " << key << " in\n"
            << file.substr(0, 200);
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 0);
}

TEST_F(ProfileOracleTest, WritesAsThePlatform) {
  struct Write {
    const char* section;
    const char* key;
    std::string value;
  };
  const std::vector<Write> writes = {
      {"Bbsk", "read", "C:\\新\\销售发票.TXT"_gbk},
      {"bbsk", "NEWKEY", "  spaced  "},
      {"Bbsk", "noeq", "now with value"},
      {"Fxsk", "read", ""},
      {"Bbsk", "q", "\"requoted\""},
      {"Last", "end", "changed"},
      {"S", "\x81\x61", "gbk key"},
      {"Created", "k", "v"},
      {"Bbsk", "read", "C:\\新\\销售发票.TXT"_gbk},  // same value again
  };
  for (const std::string& file : Files()) {
    std::string ours = Put(file);
    std::string theirs = Put(file);
    for (const Write& w : writes) {
      ASSERT_TRUE(
          WriteProfileKey(Env::Default(), ours, w.section, w.key, w.value)
              .ok());
      ASSERT_TRUE(WritePrivateProfileStringA(w.section, w.key, w.value.c_str(),
                                             theirs.c_str()));
    }
    std::string our_bytes = Contents(ours);
    std::string their_bytes = Contents(theirs);
    EXPECT_EQ(PlatformForm(our_bytes), PlatformForm(their_bytes))
        << "starting from\n"
        << file.substr(0, 200);
    if (PlatformForm(file) == file) {
      EXPECT_EQ(our_bytes, their_bytes) << "starting from\n" << file;
    }
    // The platform drops a "[]" line when it rewrites the file, so that the
    // keys below it join the section before it; ours keeps the line.
    if (file.find("\n[]") != std::string::npos) continue;
    for (const char* section : kSections) {
      for (const char* key : {"read", "NEWKEY", "noeq", "q", "end", "k"}) {
        EXPECT_EQ(Platform(ours, section, key), Platform(theirs, section, key))
            << "[" << section << "] " << key;
      }
    }
  }
}

TEST_F(ProfileOracleTest, FirstStartFileIsByteForByteThePlatformOne) {
  std::string ours = NewPath();
  std::string theirs = NewPath();
  DeleteFileA(ours.c_str());
  DeleteFileA(theirs.c_str());
  Settings values;
  ASSERT_TRUE(LoadSettings(Env::Default(), ours, "Bbsk", &values).ok());
  for (const char* key : {"read", "write1", "write2", "fhr", "skr", "sm"}) {
    ASSERT_TRUE(WritePrivateProfileStringA("Bbsk", key, "", theirs.c_str()));
  }
  ASSERT_TRUE(WritePrivateProfileStringA("Bbsk", "d", "0", theirs.c_str()));
  EXPECT_EQ(Contents(ours), Contents(theirs));
  EXPECT_EQ(Contents(ours),
            "[Bbsk]\r\nread=\r\nwrite1=\r\nwrite2=\r\nfhr=\r\nskr=\r\nsm=\r\n"
            "d=0\r\n");
}

TEST_F(ProfileOracleTest, BothFailInAMissingDirectory) {
  std::string path = dir_ + "no such dir\\params.cfg";
  EXPECT_FALSE(WritePrivateProfileStringA("Bbsk", "read", "", path.c_str()));
  Status s = WriteProfileKey(Env::Default(), path, "Bbsk", "read", "");
  EXPECT_EQ(s.message(), "Unable to write to " + path);
}

}  // namespace
}  // namespace skjk
