// The Linux entry point's command-line text: what a Windows program would get after its
// name, so that both builds choose the same category for the same arguments.
#ifndef _WIN32
#include "main/posix/command_tail.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/category.h"

namespace vemtu {
namespace {

std::string TailOf(std::vector<std::string> args) {
  std::vector<const char*> argv = {"Vemtu.EXE"};
  for (const auto& a : args) argv.push_back(a.c_str());
  return CommandTail(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandTail, QuotesAsWindowsCallersDo) {
  struct Case {
    std::vector<std::string> args;
    std::string tail;
  } cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"", ""}, "\"\" \"\""},
      {{"Status"}, "Status"},
      {{"Status "}, "\"Status \""},
      {{"a\tb"}, "\"a\tb\""},
      {{"Status", "x"}, "Status x"},
      {{"a\"b"}, "a\\\"b"},
      {{"a\\\"b"}, "a\\\\\\\"b"},
      {{"a\\b"}, "a\\b"},
      {{"a b\\"}, "\"a b\\\\\""},
      {{"a\\"}, "a\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(TailOf(c.args), c.tail) << c.tail;
}

TEST(CommandTail, OnlyAPlainWordOrNothingSelectsACategory) {
  EXPECT_TRUE(SelectCategory(TailOf({})));
  EXPECT_TRUE(SelectCategory(TailOf({"status"})));
  for (std::vector<std::string> args :
       {std::vector<std::string>{""}, {"", ""}, {"Status", ""}, {"\"Status\""}, {"Status "}}) {
    EXPECT_FALSE(SelectCategory(TailOf(args))) << TailOf(args);
  }
}

}  // namespace
}  // namespace vemtu
#endif
