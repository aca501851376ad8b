// The connection objects without a network: binding, settings, unbound use.
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "support/test_files.h"
#include "transport/winhttp_connect.h"

namespace vemtu {
namespace {

TEST(CZWinHTTPConnect, WithoutAnyLibraryNothingBindsAndOpenFailsWithoutAnError) {
  CZWinHTTPConnect connect(1000, "NoSuchWinHttp.dll", "NoSuchWinHttp5.dll");
  EXPECT_EQ(connect.ZLoadWinHttp(), 0);
  EXPECT_FALSE(connect.IsBound());
  EXPECT_EQ(connect.ZInternetOpen(u"agent", CZWinHTTPConnect::kAccessNoProxy, nullptr), 0);
  EXPECT_EQ(connect.ZGetLastError(), 0u);
  EXPECT_EQ(connect.ZUnloadWinHttp(), 1);
}

TEST(CZWinHTTPConnect, BindsTheFallBackLibraryWhenTheFirstIsMissing) {
  // On Linux the fall-back is the stand-in built without WinHttpCheckPlatform; on
  // Windows the system's own library.
  bool linux_stand_ins = test::FileExists(test::EnvOr("VEMTU_BIN", ".") + "/libWinHttpNoCheck.so");
  CZWinHTTPConnect connect(1000, "NoSuchWinHttp.dll",
                           linux_stand_ins ? "WinHttpNoCheck.dll" : "WinHttp.dll");
  ASSERT_EQ(connect.ZLoadWinHttp(), 1);
  EXPECT_TRUE(connect.IsBound());
  EXPECT_EQ(connect.ZInternetOpen(u"agent", CZWinHTTPConnect::kAccessNoProxy, nullptr), 1);
  EXPECT_EQ(connect.ZGetLastError(), 0u);
  connect.ZReset();
  // Unbinding while nothing is open; a new bind works again.
  EXPECT_EQ(connect.ZUnloadWinHttp(), 1);
  EXPECT_FALSE(connect.IsBound());
  EXPECT_EQ(connect.ZLoadWinHttp(), 1);
}

TEST(CZWinHTTPConnect, AnIncompleteBindingFailsTheExchangeInsteadOfCallingAMissingEntry) {
  // The library has WinHttpOpen, WinHttpConnect and WinHttpOpenRequest only: the binding
  // reports failure, the steps up to the request open still run, and the exchange, which
  // needs the entries that are missing, fails with "procedure not found".
  // On Windows a bare name is looked for in the system folder only: name the file.
  std::string exe = platform::ExecutablePath();
  std::string partial = platform::kPathSeparator == '\\'
                            ? exe.substr(0, exe.rfind('\\') + 1) + "WinHttpPartial.dll"
                            : "WinHttpPartial.dll";
  CZWinHTTPConnect connect(5000, partial, "NoSuchWinHttp5.dll");
  EXPECT_EQ(connect.ZLoadWinHttp(), 0);
  ASSERT_EQ(connect.ZInternetOpen(u"agent", CZWinHTTPConnect::kAccessNoProxy, nullptr), 1);
  ASSERT_EQ(connect.ZInternetConnect(u"127.0.0.1", 80, u"HTTP"), 1);
  ASSERT_EQ(connect.ZHTTPOpenRequest(u"/tfr_X.asp", u"POST"), 1);
  std::string reply;
  int length = 0;
  EXPECT_EQ(connect.ZHTTPWebPost(nullptr, nullptr, "body", 4, nullptr, nullptr, &reply, &length,
                                 false),
            0);
  EXPECT_EQ(connect.ZGetLastError(), 127u);
  EXPECT_EQ(reply, "");
  connect.ZReset();  // closes nothing: the library has no WinHttpCloseHandle
}

TEST(CZWinHTTPConnect, WriteDataSettingsReplaceOnlyPositiveValuesAndChunksStayWithinTheBuffer) {
  test::TempDir dir;
  std::string ini = dir / "WebPostConfig.INI";
  struct Case {
    const char* content;
    int chunk, delay;
  } cases[] = {
      {"", 4096, 0},
      {"[ConfigWebPostWriteData]\r\nNumberOfBytesToWrite=1000\r\nWriteDataDelay=250\r\n", 1000, 250},
      {"[ConfigWebPostWriteData]\r\nNumberOfBytesToWrite=0\r\nWriteDataDelay=-5\r\n", 4096, 0},
      {"[ConfigWebPostWriteData]\r\nNumberOfBytesToWrite=5120\r\n", 5120, 0},
      {"[ConfigWebPostWriteData]\r\nNumberOfBytesToWrite=999999\r\n", 5120, 0},
  };
  for (const Case& c : cases) {
    CZWinHTTPConnect connect(1000, "NoSuchWinHttp.dll", "NoSuchWinHttp5.dll");
    test::WriteFileBytes(ini, c.content);
    EXPECT_EQ(connect.ZReadWriteDataSettings(ini), 1);
    EXPECT_EQ(connect.write_chunk_size(), c.chunk) << c.content;
    EXPECT_EQ(connect.write_delay_ms(), c.delay) << c.content;
  }
}

TEST(CZWinHTTPConnect, SettingsKeepTheirValueWhenAKeyIsMissingLater) {
  test::TempDir dir;
  std::string ini = dir / "WebPostConfig.INI";
  CZWinHTTPConnect connect(1000, "NoSuchWinHttp.dll", "NoSuchWinHttp5.dll");
  test::WriteFileBytes(ini, "[ConfigWebPostWriteData]\r\nNumberOfBytesToWrite=700\r\nWriteDataDelay=9\r\n");
  connect.ZReadWriteDataSettings(ini);
  test::WriteFileBytes(ini, "[Other]\r\n");
  connect.ZReadWriteDataSettings(ini);
  EXPECT_EQ(connect.write_chunk_size(), 700);
  EXPECT_EQ(connect.write_delay_ms(), 9);
}

}  // namespace
}  // namespace vemtu
