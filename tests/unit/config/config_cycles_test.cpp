// The three update counters that a "Configuration" run advances.
#include <gtest/gtest.h>

#include <string>

#include "driver/configuration.h"
#include "platform/profile.h"
#include "support/test_files.h"

namespace vemtu {
namespace {

constexpr char kSection[] = "ConfigCycles";

struct CycleCase {
  const char* agent_type;
  const char* stored;  // value of all three counters before the call; nullptr: missing
  int agent;           // "KOLTMobileUpdateCycle" afterwards
  int dns;             // "DNSSpecificUpdateCycle"
  int routing;         // "RepriortizeUpdateCycle"
};

class ConfigCycles : public ::testing::TestWithParam<CycleCase> {};

TEST_P(ConfigCycles, EachCounterAdvancesOneStepAndWrapsAtItsLimit) {
  const CycleCase& c = GetParam();
  test::TempDir dir;
  const std::string ini = dir / "WebPostConfig.INI";
  if (c.stored) {
    for (const char* key : {"KOLTMobileUpdateCycle", "DNSSpecificUpdateCycle", "RepriortizeUpdateCycle"}) {
      ASSERT_TRUE(platform::WriteProfileText(ini, kSection, key, c.stored));
    }
  }
  RunContext ctx;
  ctx.agent_type = c.agent_type;
  AdvanceConfigCycles(ctx, ini);
  EXPECT_EQ(platform::GetProfileText(ini, kSection, "KOLTMobileUpdateCycle", "-", 99), std::to_string(c.agent));
  EXPECT_EQ(platform::GetProfileText(ini, kSection, "DNSSpecificUpdateCycle", "-", 99), std::to_string(c.dns));
  EXPECT_EQ(platform::GetProfileText(ini, kSection, "RepriortizeUpdateCycle", "-", 99), std::to_string(c.routing));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ConfigCycles,
    ::testing::Values(
        CycleCase{"Desktop", nullptr, 1, 1, 1},   // a missing file starts every counter at 0
        CycleCase{"Desktop", "6", 7, 7, 7},
        CycleCase{"Desktop", "7", 8, 8, 0},       // the third wraps at 8
        CycleCase{"Desktop", "28", 29, 29, 0},
        CycleCase{"Desktop", "29", 0, 0, 0},      // 29 with limit 30 becomes 0, not 30
        CycleCase{"Desktop", "100", 0, 0, 0},     // anything at or past the limit becomes 0
        CycleCase{"TVQA", "3", 4, 4, 4},
        CycleCase{"TVQA", "4", 0, 5, 5},          // a "TVQA" agent wraps the first at 5
        CycleCase{"tvqa", "4", 0, 5, 5},          // in any letter case
        CycleCase{"TVQAX", "4", 5, 5, 5},         // the whole word only
        CycleCase{"Desktop", "2147483647", 0, 0, 0},
        CycleCase{"Desktop", "abc", 1, 1, 1}));   // no digits read as 0

TEST(ConfigCyclesFile, OnlyTheCountersAreWritten) {
  test::TempDir dir;
  const std::string ini = dir / "WebPostConfig.INI";
  ASSERT_TRUE(platform::WriteProfileText(ini, "ConfigWebPostWriteData", "NumberOfBytesToWrite", "512"));
  RunContext ctx;
  ctx.agent_type = "Desktop";
  AdvanceConfigCycles(ctx, ini);
  AdvanceConfigCycles(ctx, ini);
  EXPECT_EQ(platform::GetProfileText(ini, kSection, "RepriortizeUpdateCycle", "", 99), "2");
  EXPECT_EQ(platform::GetProfileText(ini, "ConfigWebPostWriteData", "NumberOfBytesToWrite", "", 99), "512");
  // The counter's key keeps the agent's spelling; the other spelling is never written.
  EXPECT_EQ(platform::GetProfileText(ini, kSection, "ReprioritizeUpdateCycle", "absent", 99), "absent");
}

}  // namespace
}  // namespace vemtu
