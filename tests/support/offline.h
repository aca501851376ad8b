// Running one test where nothing can leave the machine: in a network namespace of its
// own with only loopback (scripts/offline.sh), where every name look-up fails at once
// without asking any resolver.
#pragma once

#include <gtest/gtest.h>

namespace vemtu::test {

enum class OfflineRun {
  kHere,     // this process is the re-run inside the namespace: go on with the test
  kPassed,   // the test passed when re-run there
  kFailed,   // it failed there (its output is above)
  kRefused,  // no network namespace can be made here (no rights, or no unshare)
};

// Re-runs the current test alone, in a process of its own inside an offline network
// namespace, unless this process already is that re-run.
OfflineRun RunCurrentTestOffline();

}  // namespace vemtu::test

// Goes on with the test body only inside the offline re-run; elsewhere re-runs the
// test there and ends as that run did, or skips when no namespace can be made (a name
// look-up on the host network could leave the machine).
#define VEMTU_CONTINUE_ONLY_OFFLINE()                                                      \
  switch (::vemtu::test::RunCurrentTestOffline()) {                                       \
    case ::vemtu::test::OfflineRun::kHere:                                                \
      break;                                                                              \
    case ::vemtu::test::OfflineRun::kPassed:                                              \
      return;                                                                             \
    case ::vemtu::test::OfflineRun::kFailed:                                              \
      FAIL() << "failed in the offline network (output above)";                          \
    case ::vemtu::test::OfflineRun::kRefused:                                             \
      GTEST_SKIP() << "no network namespace can be made here, and a name look-up on the " \
                      "host network could leave the machine";                             \
  }
