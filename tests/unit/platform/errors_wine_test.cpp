// Error texts from the message tables, and libraries bound at run time.
#include <gtest/gtest.h>

#include <string>

#include "platform/errors.h"
#include "platform/library.h"
#include "platform/paths.h"

namespace vemtu::platform {
namespace {

bool OnWindows() { return kPathSeparator == '\\'; }

bool EndsInLineBreak(const std::string& text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

TEST(ErrorText, KnownNumberGivesTextWithoutLineBreak) {
  std::string text = ErrorText(2);  // file not found
  EXPECT_FALSE(text.empty());
  EXPECT_FALSE(EndsInLineBreak(text)) << text;
}

TEST(ErrorText, WindowsNumbersTheProgramReportsReadAsOnWindows) {
  // The transport reports these Windows numbers itself on both builds; their text must
  // not be that of an unrelated errno value of the same number (wine words them more
  // briefly than Windows, so only the key word is compared).
  EXPECT_NE(ErrorText(87).find("arameter"), std::string::npos) << ErrorText(87);
  EXPECT_NE(ErrorText(6).find("andle"), std::string::npos) << ErrorText(6);
  EXPECT_NE(ErrorText(127).find("rocedure"), std::string::npos) << ErrorText(127);
}

TEST(ErrorText, UnknownNumberGivesEmptyText) {
  EXPECT_EQ(ErrorText(0x7FFFFFF0), "");
}

TEST(ErrorText, LookupKeepsTheCallersErrorNumber) {
  SetLastError(5);
  ErrorText(0x7FFFFFF0);
  ErrorText(2);
  EXPECT_EQ(LastError(), 5);
}

TEST(ErrorText, LoadedWinInetSuppliesItsTexts) {
  if (!OnWindows()) GTEST_SKIP() << "the Linux stand-ins keep their own tables";
  // 12029: cannot connect. Only a loaded WinInet knows it.
  Library wininet = Library::Load("wininet.dll");
  ASSERT_TRUE(wininet.IsLoaded());
  std::string text = ErrorText(12029);
  EXPECT_FALSE(text.empty());
  EXPECT_FALSE(EndsInLineBreak(text)) << text;
  EXPECT_EQ(ErrorText(12999), "");
}

TEST(Library, ResolvesExportsAndRefusesMissingOnes) {
  if (!OnWindows()) GTEST_SKIP() << "system library names";
  Library kernel = Library::Load("kernel32.dll");
  ASSERT_TRUE(kernel.IsLoaded());
  EXPECT_NE(kernel.Resolve("GetTickCount"), nullptr);
  EXPECT_EQ(kernel.Resolve("NoSuchExportAnywhere"), nullptr);
  Library moved = std::move(kernel);
  EXPECT_EQ(kernel.Resolve("GetTickCount"), nullptr);
  EXPECT_NE(moved.Resolve("GetTickCount"), nullptr);
}

}  // namespace
}  // namespace vemtu::platform
