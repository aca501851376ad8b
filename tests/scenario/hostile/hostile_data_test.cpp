// A data centre and result files that misbehave: crafted names, texts that break the
// envelope, packed copies that cannot be written, replies that try to pass for
// acceptance or to forge log lines, request paths that do not fit. Every file's bytes
// must end up accepted whole by the simulator or still be in the agent folder.
#include <expat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "agent_scenario.h"

namespace vemtu::test {
namespace {

constexpr const char* kQuery = "?mmid=M1&sid=S1&rid=R1&rty=T1";

// The request line without its protocol version.
std::string RequestLine(const Received& r) { return r.head.substr(0, r.head.find(" HTTP/")); }

// The text of every element named `name` in `document`, as a standard XML parser reads
// it (CDATA sections joined); `ok` false when the parser refuses the document.
struct ParsedText {
  bool ok = false;
  std::string text;
  std::string error;
};

ParsedText ReadElementText(const std::string& document, const std::string& name) {
  struct State {
    std::string name;
    int depth_inside = 0;
    std::string text;
  } state{name, 0, {}};
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* element, const XML_Char**) {
        auto* s = static_cast<State*>(data);
        if (s->depth_inside > 0 || s->name == element) ++s->depth_inside;
      },
      [](void* data, const XML_Char*) {
        auto* s = static_cast<State*>(data);
        if (s->depth_inside > 0) --s->depth_inside;
      });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
    auto* s = static_cast<State*>(data);
    if (s->depth_inside > 0) s->text.append(text, static_cast<std::size_t>(length));
  });
  ParsedText parsed;
  parsed.ok = XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) ==
              XML_STATUS_OK;
  if (!parsed.ok) parsed.error = XML_ErrorString(XML_GetErrorCode(parser));
  parsed.text = state.text;
  XML_ParserFree(parser);
  return parsed;
}

// Lines of a transfer log: each is a log line that starts with its time stamp, or a
// line of the data copy, one of `data`.
std::vector<std::string> CheckedLogLines(const std::string& log,
                                         const std::vector<std::string>& data) {
  static const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\t)");
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = log.substr(start, end - start);
    bool copy = std::find(data.begin(), data.end(), line) != data.end();
    EXPECT_TRUE(copy || std::regex_search(line, stamp)) << line;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    if (!copy) lines.push_back(line);
  }
  EXPECT_EQ(start, log.size()) << "a log ends in CR LF";
  return lines;
}

// The first file of `folder` whose name starts with `name`, or "".
std::string FileStartingWith(const std::vector<std::string>& names, const std::string& name) {
  for (const auto& n : names) {
    if (n.rfind(name, 0) == 0) return n;
  }
  return {};
}

// The sixth field (the message) of a log line.
std::string Message(const std::string& line) {
  std::size_t at = 0;
  for (int field = 0; field < 5 && at != std::string::npos; ++field) at = line.find('\t', at) + 1;
  return line.substr(at, line.find('\t', at) - at);
}

using HostileData = AgentScenario;

TEST_F(HostileData, ASourceNamedLikeItsCopysRetryNameIsNeverLost) {
  // "LOG_Y_1.zip1" is packed to "LOG_Y_1.zip", whose retry name is the source's own.
  StartDcsim({"--rule", "prefix=LOG status=500 page=down", "--rule", "prefix=REF reply=0"});
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  const std::string log_doc = "<log>kept</log>";
  const std::string ref_doc = "<log>refused</log>";
  WriteFileBytes(File(k, "LOG_Y_1.zip1"), log_doc);
  WriteFileBytes(File(k, "REF_Y_1.zip1"), ref_doc);
  ASSERT_FALSE(Run(k).timed_out);
  EXPECT_EQ(ReadFileBytes(File(k, "LOG_Y_1.zip1")), log_doc);
  EXPECT_EQ(ReadFileBytes(File(k, "REF_Y_1.zip1")), ref_doc);
  for (const auto& name : FilesIn(Folder(k))) {
    EXPECT_TRUE(name == "LOG_Y_1.zip1" || name == "REF_Y_1.zip1" || name == "Error") << name;
  }
  EXPECT_TRUE(FilesIn(Folder(k) + "/Error").empty());
  // Both were really offered, and refused.
  bool log_seen = false, ref_seen = false;
  for (const auto& r : ReceivedRequests()) {
    log_seen |= r.line.prefix == "LOG";
    ref_seen |= r.line.prefix == "REF" && r.line.reply == "0";
  }
  EXPECT_TRUE(log_seen);
  EXPECT_TRUE(ref_seen);
}

TEST_F(HostileData, AStatusTextThatEndsItsSectionArrivesWholeToAStandardParser) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string text = "a]]>b]]]>c <![CDATA[ x ]] > ]]]]>\r\n<end>&amp;]]";
  WriteFileBytes(File("Status", "PSTAT_1.txt"), text);
  const std::string with_nul("before\0after]]>", 15);
  WriteFileBytes(File("Status", "PNUL_1.txt"), with_nul);
  // Zero bytes that only pad the end lose nothing when the text is cut there.
  WriteFileBytes(File("Status", "PPAD_1.txt"), std::string("padded\0\0\0", 9));
  ASSERT_FALSE(Run("Status").timed_out);
  ASSERT_TRUE(WaitFinished({"Status", "Configuration"}));

  std::vector<Received> received = ReceivedRequests();
  std::sort(received.begin(), received.end(),
            [](const Received& a, const Received& b) { return a.line.prefix > b.line.prefix; });
  ASSERT_EQ(received.size(), 2u);  // the text with a NUL inside is not posted cut
  EXPECT_EQ(received[1].line.prefix, "PPAD");
  EXPECT_EQ(ReadElementText(received[1].unpacked, "data").text, "padded");
  EXPECT_EQ(received[0].line.prefix, "PSTAT");
  ParsedText data = ReadElementText(received[0].unpacked, "data");
  ASSERT_TRUE(data.ok) << data.error << "\n" << received[0].unpacked;
  // Every XML reader turns a CR LF into LF: the rest arrives byte for byte.
  EXPECT_EQ(data.text, std::regex_replace(text, std::regex("\r\n"), "\n"));
  EXPECT_EQ(ReadElementText(received[0].unpacked, "regid").text, "R1");
  EXPECT_FALSE(FileExists(File("Status", "PSTAT_1.txt")));

  EXPECT_EQ(ReadFileBytes(ErrorFile("Status", "PNUL_1.txt")), with_nul);
  EXPECT_FALSE(FileExists(File("Status", "PNUL_1.txt")));
  EXPECT_FALSE(FileExists(File("Status", "PNUL_1.zip")));
  EXPECT_NE(ReadFileBytes(TransferLog("PNUL")).find("ERR: Unable to compress file"),
            std::string::npos);
}

TEST_F(HostileData, APackedCopyThatCannotBeWrittenLeavesAGoodFileForTheNextRun) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  const std::string doc = "<doc>good</doc>";
  WriteFileBytes(File(k, "ABC_Y_1.xml"), doc);
  // A folder where the packed copy belongs: its write fails as on a full disk.
  std::filesystem::create_directories(File(k, "ABC_Y_1.zip"));
  ASSERT_FALSE(Run(k).timed_out);
  EXPECT_EQ(ReadFileBytes(File(k, "ABC_Y_1.xml")), doc);
  EXPECT_FALSE(FileExists(ErrorFile(k, "ABC_Y_1.xml")));
  EXPECT_TRUE(ReceivedRequests().empty());
  EXPECT_NE(ReadFileBytes(TransferLog("ABC")).find("ERR: Unable to compress file"),
            std::string::npos);

  std::filesystem::remove(File(k, "ABC_Y_1.zip"));
  ASSERT_FALSE(Run(k).timed_out);
  EXPECT_FALSE(FileExists(File(k, "ABC_Y_1.xml")));
  std::vector<Received> received = ReceivedRequests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_NE(received[0].unpacked.find(doc), std::string::npos) << received[0].unpacked;
}

TEST_F(HostileData, TheReplyTextEndsAtItsFirstZeroByte) {
  StartDcsim({"--rule", "prefix=ONE reply=1\\x00tail", "--rule", "prefix=ZERO reply=0\\x00",
              "--rule", "prefix=CRLF reply=1\\r\\n"});
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  WriteFileBytes(File(k, "ONE_N_1.txt"), "accepted");
  WriteFileBytes(File(k, "ZERO_N_1.txt"), "refused");
  WriteFileBytes(File(k, "CRLF_N_1.txt"), "not quite");
  ASSERT_FALSE(Run(k).timed_out);
  EXPECT_FALSE(FileExists(File(k, "ONE_N_1.txt")));
  // "0" and a zero byte is the refusal "0": the last method gives the file a retry name.
  std::string retry = FileStartingWith(FilesIn(Folder(k)), "ZERO_N_1.txt");
  EXPECT_NE(retry, "ZERO_N_1.txt");
  EXPECT_EQ(ReadFileBytes(File(k, retry)), "refused") << retry;
  // "1" and a line break is no acceptance, nor a refusal: the file stays as it is.
  EXPECT_EQ(ReadFileBytes(File(k, "CRLF_N_1.txt")), "not quite");
  int one_requests = 0;
  for (const auto& r : ReceivedRequests()) one_requests += r.line.prefix == "ONE";
  EXPECT_EQ(one_requests, 1);
}

TEST_F(HostileData, AReplyCanNeitherForgeLogLinesNorFloodTheLog) {
  const std::string forged = "T\t9999\t\t0\t0\tMSG: Successfully WebPosted File\t\tX\t\t\t";
  const std::string flood(100000, 'F');
  std::string rule_text = std::regex_replace(forged, std::regex("\t"), "\\t");
  rule_text = std::regex_replace(rule_text, std::regex(" "), "\\s");
  StartDcsim({"--rule", "prefix=FORGE reply=0\\r\\n" + rule_text, "--rule",
              "prefix=FLOOD reply=" + flood});
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  WriteFileBytes(File(k, "FORGE_N_1.txt"), "one");
  WriteFileBytes(File(k, "FLOOD_N_1.txt"), "two");
  ASSERT_FALSE(Run(k).timed_out);

  std::vector<std::string> lines = CheckedLogLines(ReadFileBytes(TransferLog("FORGE")), {"one"});
  ASSERT_FALSE(lines.empty());
  bool escaped_seen = false;
  for (const auto& line : lines) {
    EXPECT_NE(Message(line), "MSG: Successfully WebPosted File") << line;
    escaped_seen |= line.find("0\\r\\nT\\t9999\\t\\t0\\t0\\tMSG: Successfully") != std::string::npos;
  }
  EXPECT_TRUE(escaped_seen);

  std::string flood_log = ReadFileBytes(TransferLog("FLOOD"));
  CheckedLogLines(flood_log, {"two"});
  EXPECT_LT(flood_log.size(), 64u * 1024) << "each reply is logged at most a few kilobytes";
  EXPECT_NE(flood_log.find("\\[cut: 100000 bytes]"), std::string::npos);
  EXPECT_TRUE(FileExists(File(k, "FORGE_N_1.txt")) || FileExists(File(k, "FORGE_N_1.txt1")));
  EXPECT_TRUE(FileExists(File(k, "FLOOD_N_1.txt")));
}

TEST_F(HostileData, ARequestPathWithinItsLimitIsSentWholeEscaped) {
  StartDcsim();
  // 359 characters as written, but every blank takes three once escaped.
  const std::string base_path = "p" + std::string(200, ' ') + "p";
  WriteAgentIni(BaseUrl("/" + base_path));
  const std::string prefix(359 - base_path.size() - 9 - std::string(kQuery).size(), 'A');
  const std::string k = "ATPostLogs";
  WriteFileBytes(File(k, prefix + "_N_1.txt"), "sent");
  ASSERT_FALSE(Run(k).timed_out);
  std::vector<Received> received = ReceivedRequests();
  ASSERT_EQ(received.size(), 1u) << ReadFileBytes(TransferLog(prefix));
  EXPECT_EQ(received[0].line.reply, "1");
  const std::string blanks = std::regex_replace(base_path, std::regex(" "), "%20");
  EXPECT_EQ(RequestLine(received[0]), "POST /" + blanks + "/tfr_" + prefix + ".asp" + kQuery);
  EXPECT_FALSE(FileExists(File(k, prefix + "_N_1.txt")));
}

TEST_F(HostileData, NamesThatWouldBendTheRequestReachTheirOwnPage) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  struct Case {
    std::string name;
    std::string shown;  // the prefix as the simulator's index writes it
    bool under_wine;    // Windows names cannot hold "?" or control bytes
  } const cases[] = {
      {"Q.asp?mmid=EVIL&sid=E&rid=E&rty=EVIL#_N_1.txt", "Q.asp?mmid=EVIL&sid=E&rid=E&rty=EVIL#",
       false},
      {"PCT%41_N_1.txt", "PCT%41", true},
      {"H#x%2F..%2Fy_N_1.txt", "H#x%2F..%2Fy", true},
      {"F\r\nT\t9999\tMSG: Successfully WebPosted_N_1.txt",
       "F\\r\\nT\\t9999\\tMSG: Successfully WebPosted", false},
  };
  std::vector<std::string> expected, prefixes;
  for (const Case& c : cases) {
    if (UnderWine() && !c.under_wine) continue;
    WriteFileBytes(File(k, c.name), "x");
    expected.push_back(c.shown);
  }
  ASSERT_FALSE(Run(k).timed_out);
  for (const auto& r : ReceivedRequests()) {
    EXPECT_EQ(r.line.reply, "1") << RequestLine(r);
    EXPECT_EQ(r.line.target.substr(r.line.target.find('?')), kQuery) << RequestLine(r);
    prefixes.push_back(r.line.prefix);
  }
  std::sort(prefixes.begin(), prefixes.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(prefixes, expected);
  for (const Case& c : cases) {
    EXPECT_FALSE(FileExists(File(k, c.name))) << c.name;
    // A name can neither end a log line nor add fields to it.
    const std::string log = ReadFileBytes(TransferLog(c.name.substr(0, c.name.find('_'))));
    for (const auto& line : CheckedLogLines(log, {"x"}))
      EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 10) << line;
  }
}

TEST_F(HostileData, TheCopyOfALargeFileDoesNotFillItsTransferLog) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  WriteFileBytes(File(k, "BIG_N_1.txt"), "");
  std::filesystem::resize_file(File(k, "BIG_N_1.txt"), 3u << 20);
  ASSERT_FALSE(Run(k).timed_out);
  EXPECT_FALSE(FileExists(File(k, "BIG_N_1.txt")));
  // The copy and its marker survive the lines the post writes after it.
  const std::string log = ReadFileBytes(TransferLog("BIG"));
  EXPECT_LT(log.size(), 2097152u);
  const std::size_t marker = log.find("\\[cut: 3145728 bytes]");
  EXPECT_NE(marker, std::string::npos);
  EXPECT_NE(log.find("MSG: Successfully WebPosted File", marker), std::string::npos);
}

TEST_F(HostileData, ARefusedFileWhoseRetryNameIsTakenKeepsCountingToTheErrorFolder) {
  StartDcsim({"--rule", "prefix=X reply=0"});
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  WriteFileBytes(File(k, "X_N_1.txt"), "first");
  WriteFileBytes(File(k, "X_N_1.txt1"), "second");
  for (int run = 0; run < 6; ++run) ASSERT_FALSE(Run(k).timed_out);
  std::vector<std::string> contents;
  for (const auto& name : FilesIn(Folder(k) + "/Error"))
    contents.push_back(ReadFileBytes(ErrorFile(k, name)));
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(FileStartingWith(FilesIn(Folder(k)), "X_N_1"), "");
}

TEST_F(HostileData, ARunThatCannotPostSaysWhyInItsRunLog) {
  WriteAgentIni("127.0.0.1/dc", "ftp://127.0.0.1/x");  // no scheme; no port for the scheme
  const std::string k = "ATPostLogs";
  std::filesystem::remove_all(Folder(k));
  WriteFileBytes(Folder(k), "a file where the folder belongs");
  ASSERT_FALSE(Run(k).timed_out);
  const std::string log = ReadFileBytes(RunLog(k));
  for (const std::string& problem :
       {std::string(
            "ERR: KOLTMobile.INI [DCConnURL] ControllerPSite \"127.0.0.1/dc\" does not split"),
        std::string("[DCConnURL] ControllerSSite \"ftp://127.0.0.1/x\" does not split"),
        "ERR: " + AgentPath(Folder(k)) + " is missing"})
    EXPECT_NE(log.find(problem), std::string::npos) << problem << "\n" << log;
}

TEST_F(HostileData, BothBuildsSendTheSameRequestLine) {
  StartDcsim();
  // Characters that WinHTTP escapes in a path, in the base path of the site.
  WriteAgentIni(BaseUrl("/a#^`{}[]|\"<>b"));
  const std::string k = "ATPostLogs";
  WriteFileBytes(File(k, "ABC_N_1.txt"), "awkward");
  // A name whose bytes are no UTF-8 (the system code page of both builds here).
  const std::string bad = "Z\xff\xfe" "BAD";
  WriteFileBytes(File(k, bad + "_N_1.txt"), "bad bytes");
  ASSERT_FALSE(Run(k).timed_out);
  const bool winhttp =
      ReadFileBytes(RunLog(k)).find("ERR: Unable to load Win Http Dll") == std::string::npos;
  ASSERT_TRUE(winhttp) << "the WinHTTP method carries these posts";
  std::vector<std::string> lines;
  for (const auto& r : ReceivedRequests()) {
    EXPECT_EQ(r.line.reply, "1") << RequestLine(r);
    lines.push_back(RequestLine(r));
  }
  std::sort(lines.begin(), lines.end());
  const std::string dir = "POST /a%23%5E%60%7B%7D%5B%5D%7C%22%3C%3Eb/";
  std::vector<std::string> expected = {dir + "tfr_ABC.asp" + kQuery};
  if (UnderWine() && lines.size() == 1) {
    // Wine lists a name that is no UTF-8 with its bytes replaced, so the agent cannot
    // open it: it stays unposted.
    EXPECT_EQ(ReadFileBytes(File(k, bad + "_N_1.txt")), "bad bytes") << TransferLog("Z");
  } else {
    expected.push_back(dir + "tfr_Z%FF%FEBAD.asp" + kQuery);
  }
  EXPECT_EQ(lines, expected);
  for (const auto& line : lines) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '?'), 1) << line;
  }
  EXPECT_FALSE(FileExists(File(k, "ABC_N_1.txt")));
}

}  // namespace
}  // namespace vemtu::test
