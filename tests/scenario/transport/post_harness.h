// Running vemtu-post against loopback servers and reading what it left: the transfer
// log, the file, and what the server received.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace vemtu::test {

// One expected transfer-log line, without its time stamp and error text.
struct LogLine {
  int event;
  int error;
  std::string message;
  std::string detail1, detail2, detail3;
};

LogLine Started(const std::string& procedure);
LogLine ReturnText(const std::string& procedure, const std::string& reply);
LogLine ErrorLine(int error, const std::string& message, const std::string& detail1 = "",
                  const std::string& detail2 = "", const std::string& detail3 = "");

// The procedure name of a cascade method number (1 to 7).
std::string ProcedureName(int method);
bool IsWinHttpMethod(int method);

class PostHarness : public ::testing::Test {
 protected:
  void SetUp() override;

  // A path in the temporary folder as the program under test spells it.
  std::string ProgramPath(const std::string& relative) const;
  // Writes a result file and returns its native path.
  std::string MakeFile(const std::string& relative, const std::string& bytes);

  struct Run {
    int method = 5;
    std::string host = "127.0.0.1";
    int port = 0;
    std::string scheme = "HTTP";
    std::string path = "/tfr_X.asp?mmid=1&sid=2&rid=3&rty=4";
    std::string file = "K/X_1.xml";  // relative to the temporary folder
    std::map<std::string, std::string> options;  // further --key value pairs
    int timeout_ms = 10000;
  };
  // Runs vemtu-post; the procedure's result (1 or 0), or -1 when it did not finish.
  int Post(const Run& run);

  // Every line of the transfer log, checked for the ten-field layout and CR LF.
  std::vector<std::string> LogLines() const;
  // Asserts that the transfer log holds exactly `expected`, byte for byte apart from the
  // time stamp (checked for its form) and the error text of error lines.
  void ExpectLog(const std::vector<LogLine>& expected) const;

  std::string Native(const std::string& relative) const { return dir_ / relative; }

  TempDir dir_;
};

}  // namespace vemtu::test
