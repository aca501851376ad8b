// The Windows backend's decisions on paths, listed names and reparse tags.
#include <gtest/gtest.h>

#include "platform/win32/long_path.h"
#include "platform/win32/reparse.h"

namespace vemtu::platform::win32_detail {
namespace {

TEST(LongPath, OnlyPathsThatNeedNoNormalisingGetThePrefix) {
  const struct {
    const char* path;
    const wchar_t* expected;  // null: refused
  } cases[] = {
      {"C:\\a\\b.txt", L"\\\\?\\C:\\a\\b.txt"},
      {"z:\\", L"\\\\?\\z:\\"},
      {"\\\\srv\\share\\a", L"\\\\?\\UNC\\srv\\share\\a"},
      {"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},  // verbatim already
      {"C:\\a/b", nullptr},
      {"C:\\a\\..\\b", nullptr},
      {"C:\\a.\\b", nullptr},
      {"C:\\a\\b ", nullptr},
      {"C:\\a\\\\b", nullptr},
      {"C:\\a\\b:stream", nullptr},
      {"NUL", nullptr},  // a device, whatever the folder
      {"\\\\.\\pipe\\x", nullptr},
  };
  for (const auto& c : cases) {
    std::optional<std::wstring> wide = LongPath(c.path);
    if (c.expected == nullptr) {
      EXPECT_FALSE(wide) << c.path;
    } else {
      EXPECT_EQ(wide.value_or(L"refused"), c.expected) << c.path;
    }
  }
  // A tool's relative argument is made full as the system would.
  const std::wstring relative = LongPath("a/b").value_or(L"refused");
  EXPECT_EQ(relative.compare(0, 4, L"\\\\?\\"), 0);
  EXPECT_EQ(relative.substr(relative.size() - 4), L"\\a\\b");
}

TEST(UsableAnsiName, OnlyNamesThatComeBackAsThemselvesAreUsable) {
  if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252";
  const struct {
    const wchar_t* name;
    const char* expected;  // null: unusable
  } cases[] = {
      {L"A_N_1.txt", "A_N_1.txt"},
      {L"caf\u00e9_N_1.txt", "caf\xe9_N_1.txt"},
      {L"..", ".."},
      {L"..\uff3cvictim1.txt", nullptr},  // best fit would give "..\victim1.txt"
      {L"\u4e00_N_1.txt", nullptr},       // not in the code page: listed as "?"
      {L"a:b", nullptr},
      {L"A_N_1.txt.", nullptr},
      {L"A_N_1.txt ", nullptr},
  };
  for (const auto& c : cases) {
    std::optional<std::string> ansi = UsableAnsiName(c.name);
    if (c.expected == nullptr) {
      EXPECT_FALSE(ansi) << *ansi;
    } else {
      EXPECT_EQ(ansi.value_or("unusable"), c.expected);
    }
  }
  EXPECT_EQ(DisplayAnsiName(L"..\uff3cx"), "..?x");
}

TEST(ReparseTag, DataTagsAreReadAndEveryOtherTagIsRefused) {
  const struct {
    DWORD tag;
    bool data;
  } cases[] = {
      {IO_REPARSE_TAG_DEDUP, true},        {IO_REPARSE_TAG_WOF, true},
      {IO_REPARSE_TAG_CLOUD, true},        {0x9000101A, true},  // IO_REPARSE_TAG_CLOUD_1
      {0x9000F01A, true},                  // IO_REPARSE_TAG_CLOUD_F
      {IO_REPARSE_TAG_SYMLINK, false},     {IO_REPARSE_TAG_MOUNT_POINT, false},
      {IO_REPARSE_TAG_APPEXECLINK, false}, {IO_REPARSE_TAG_HSM, false},
      {0x9000001B, false},                 {0x9001001A, false},
      {0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsDataReparseTag(c.tag), c.data) << std::hex << c.tag;
}

}  // namespace
}  // namespace vemtu::platform::win32_detail
