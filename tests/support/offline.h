// Running one test where nothing can leave the machine: in a network namespace of its
// own with only loopback (scripts/offline.sh), where every name look-up fails at once
// without asking any resolver.
#pragma once

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
