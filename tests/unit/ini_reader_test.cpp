// The INI reader through the real Env: the profile API on Windows, our own reader on POSIX.
// Both must behave the same.
#include <gtest/gtest.h>

#include "platform/env.h"
#include "temp_dir.h"

namespace halcyra::platform {
namespace {

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

}  // namespace
}  // namespace halcyra::platform
