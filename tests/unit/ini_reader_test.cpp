// The INI reader through the real Env: the profile API on Windows, our own reader on POSIX.
// Both must behave the same.
#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/ini_writer.h"
#include "temp_dir.h"

namespace halcyra::platform {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class IniReaderTest : public ::testing::Test {
 protected:
  std::wstring Read(const std::wstring& section, const std::wstring& key,
                    const std::wstring& fallback = L"dflt") {
    return Env::Default().ReadIniString(path_.wstring(), section, key, fallback);
  }
  TempDir dir_;
  std::filesystem::path path_ = dir_ / "Halcyra.ini";
};

TEST_F(IniReaderTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(L"dflt", Read(L"LOG", L"LOGLEVEL"));
  WriteFile(path_, "[LOG]\nLOGLEVEL=3\n");
  EXPECT_EQ(L"dflt", Read(L"EAR", L"RADIO1"));
  EXPECT_EQ(L"dflt", Read(L"LOG", L"OTHER"));
  EXPECT_EQ(L"-1 -1", Read(L"SELECTOR", L"RADIO1", L"-1 -1"));
}

TEST_F(IniReaderTest, SectionsAndKeysAreCaseInsensitiveAndValuesTrimmed) {
  WriteFile(path_, "[hcs]\r\nhost =  10.0.0.5  \r\nUdp=10700\r\n[Ear]\r\nradio2=\t-1\r\n");
  EXPECT_EQ(L"10.0.0.5", Read(L"HCS", L"HOST"));
  EXPECT_EQ(L"10700", Read(L"HCS", L"UDP"));
  EXPECT_EQ(L"-1", Read(L"EAR", L"RADIO2"));
}

TEST_F(IniReaderTest, KeysAreLookedUpOnlyInTheirOwnSection) {
  WriteFile(path_, "[LOG]\nRADIO1=9\n[EAR]\nRADIO1=1\n");
  EXPECT_EQ(L"1", Read(L"EAR", L"RADIO1"));
  EXPECT_EQ(L"9", Read(L"LOG", L"RADIO1"));
}

TEST_F(IniReaderTest, EnclosingQuotesAreDropped) {
  WriteFile(path_, "[HGT]\nPath=\"C:\\Program Files\\Halcyra\\HGT\"\n");
  EXPECT_EQ(L"C:\\Program Files\\Halcyra\\HGT", Read(L"HGT", L"Path"));
}

TEST_F(IniReaderTest, ValuesAreCutTo511Characters) {
  WriteFile(path_, "[HGT]\nPath=" + std::string(600, 'p') + "\n");
  EXPECT_EQ(std::wstring(511, L'p'), Read(L"HGT", L"Path"));
}

TEST_F(IniReaderTest, EmptyValueIsEmptyNotTheDefault) {
  WriteFile(path_, "[HGT]\nPath=\n");
  EXPECT_EQ(L"", Read(L"HGT", L"Path"));
}

// A value written back is what the reader then reads; the key's line keeps its place, its blanks
// and its comment, and every other byte stays as it was.
TEST_F(IniReaderTest, WrittenValuesReplaceOnlyTheirOwnTextAndAreReadBack) {
  WriteFile(path_,
            "; Halcyra\r\n[SYSTEM]\r\nATTN=1   ; 1 on, 0 off\r\n\r\n[SELECTOR]\r\n; radio 1\r\n"
            "RADIO1=-1 -1\r\nradio2 = 3 4\r\n\r\n[EAR]\r\nRADIO1=0");
  std::string reason;
  ASSERT_TRUE(WriteIniValue(path_, "SYSTEM", "ATTN", "0", &reason)) << reason;
  ASSERT_TRUE(WriteIniValue(path_, "SELECTOR", "RADIO2", "1 14", &reason)) << reason;
  ASSERT_TRUE(WriteIniValue(path_, "SELECTOR", "PTT", "1", &reason)) << reason;
  ASSERT_TRUE(WriteIniValue(path_, "DCS", "LISTEN", "0.0.0.0", &reason)) << reason;
  EXPECT_EQ(
      "; Halcyra\r\n[SYSTEM]\r\nATTN=0   ; 1 on, 0 off\r\n\r\n[SELECTOR]\r\n; radio 1\r\n"
      "RADIO1=-1 -1\r\nradio2 = 1 14\r\nPTT=1\r\n\r\n[EAR]\r\nRADIO1=0\r\n\r\n[DCS]\r\nLISTEN=0.0.0.0\r\n",
      ReadFile(path_));
  EXPECT_EQ(L"1 14", Read(L"SELECTOR", L"RADIO2"));
  EXPECT_EQ(L"1", Read(L"SELECTOR", L"PTT"));
  EXPECT_EQ(L"0.0.0.0", Read(L"DCS", L"LISTEN"));
  EXPECT_EQ(L"0", Read(L"EAR", L"RADIO1"));

  // Notepad's "Unicode": UTF-16 with its byte-order mark stays UTF-16.
  auto utf16 = [](const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
  };
  WriteFile(path_, utf16("[SYSTEM]\nATTN=1 ;x\n"));
  ASSERT_TRUE(WriteIniValue(path_, "SYSTEM", "ATTN", "0", &reason)) << reason;
  EXPECT_EQ(utf16("[SYSTEM]\nATTN=0 ;x\n"), ReadFile(path_));

  std::filesystem::remove(path_);
  ASSERT_TRUE(WriteIniValue(path_, "SYSTEM", "ATTN", "0", &reason)) << reason;
  EXPECT_EQ(L"0", Read(L"SYSTEM", L"ATTN"));
}

TEST_F(IniReaderTest, ReadOnlyFileIsNotWritten) {
  WriteFile(path_, "[SYSTEM]\nATTN=1\n");
  std::filesystem::permissions(path_, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  std::string reason;
  EXPECT_FALSE(WriteIniValue(path_, "SYSTEM", "ATTN", "0", &reason));
  EXPECT_EQ("read-only", reason);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  EXPECT_EQ("[SYSTEM]\nATTN=1\n", ReadFile(path_));
}

}  // namespace
}  // namespace halcyra::platform
