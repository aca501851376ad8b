#include "posting/post_matching_files.h"

#include <new>
#include <string_view>

#include "log/log_writer.h"
#include "packing/serialize.h"
#include "packing/tree_zipping.h"
#include "platform/agent_folder.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/dir_search.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "posting/packed_copy.h"
#include "posting/post_names.h"
#include "posting/transfer_log_copy.h"

namespace vemtu {

namespace {

// A listing that keeps failing (rather than ending) is given up after this many
// failures in a row, so the walk always ends.
constexpr int kListingFailureLimit = 3;

bool StartsWithA(std::string_view category) {
  return !category.empty() && (category[0] == 'A' || category[0] == 'a');
}

bool WantsPacking(int pack_flag, std::string_view category, std::string_view name) {
  if (pack_flag == 1) return true;
  if (!StartsWithA(category)) return false;
  return name.find("_Y_") != std::string_view::npos || name.find("_y_") != std::string_view::npos;
}

constexpr char kPackedCopyLeft[] = "ERR: Unable to delete packed copy, not posted";

constexpr char kWithoutLeases[] =
    "MSG: No lease can be had on some files: they are posted once unchanged for the settle time";
constexpr char kStatusHeldByWriter[] = "MSG: File held by a writer, Status files wait";

// An XML element name without a namespace part: a letter or "_" first, then letters,
// digits, ".", "-" and "_". Bytes of 0x80 and above (characters of the code page) count
// as letters.
bool IsXmlName(std::string_view name) {
  auto letter = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
  };
  if (name.empty() || !letter(static_cast<unsigned char>(name[0]))) return false;
  for (unsigned char c : name) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '.' && c != '-') return false;
  }
  return true;
}

bool EndsWithZip(std::string_view name) {
  constexpr std::string_view kZip = ".zip";
  return name.size() >= kZip.size() &&
         EqualsIgnoreCase(name.substr(name.size() - kZip.size()), kZip);
}

constexpr char kStatusTooLarge[] = "ERR: Status file too large, left alone";
constexpr char kTransferLogRefused[] = "ERR: Unable to write transfer log, file not posted";

// Status texts are a few kilobytes; one above this is left alone rather than read and
// packed, which takes several times its size in memory.
constexpr long long kStatusFileMaxBytes = 16ll << 20;

// Writes `message` about `path` to `log` (the run log when there is none) once in a run:
// a file left alone is met again by every later pattern and pass.
void ReportOnce(PostingSession& session, const std::string& log, const std::string& path,
                const char* message, int error) {
  if (!session.noted.insert(path + '\n' + message).second) return;
  WriteLogEntry(log.empty() ? session.ctx.run_log_path.str() : log, kEventProgress, error, message,
                LoggablePath(path).c_str());
}

enum class StatusRead {
  kRead,        // `text` holds the whole file
  kUnreadable,  // it could not be read
  kTooLarge,    // it held more than kStatusFileMaxBytes when opened
};

// Reads the whole Status file into `text` from the handle held for its post, as large as
// it was when opened (not as listed).
StatusRead ReadStatusFile(platform::File& file, std::uint64_t listed_size, std::string& text) {
  long long current = file.SizeAtOpen();
  if (current < 0) return StatusRead::kUnreadable;
  if (current > kStatusFileMaxBytes) return StatusRead::kTooLarge;
  std::uint64_t expected = current > 0 ? static_cast<std::uint64_t>(current) : listed_size;
  text.reserve(expected);
  // Bounded by the size at the open: bytes a writer adds meanwhile change the file's
  // identity, so the file is kept for the next run instead of deleted after the post.
  auto left = static_cast<std::uint64_t>(current);
  char block[65536];
  while (left > 0) {
    std::size_t want = left < sizeof block ? static_cast<std::size_t>(left) : sizeof block;
    long long got = file.Read(block, want);
    if (got < 0) return StatusRead::kUnreadable;
    if (got == 0) return StatusRead::kRead;
    text.append(block, static_cast<std::size_t>(got));
    left -= static_cast<std::uint64_t>(got);
  }
  return StatusRead::kRead;
}

enum class PackOutcome {
  kPacked,     // the packed copy is ready at the packed path
  kFailed,     // packing failed: the source went to the Error folder, or stays
  kEndOfCall,  // Status mode: the file could not be read; the call ends here
};

// The envelope around a Status file's text, or false when the text holds a NUL with
// other bytes after it: the text would end at the NUL, and those bytes would be lost.
// Zero bytes that only pad the end lose nothing: the text is taken up to the first.
bool BuildEnvelope(const RunContext& ctx, std::string_view prefix, std::string_view text,
                   std::string& envelope) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) {
    if (text.find_first_not_of('\0', nul) != std::string_view::npos) return false;
    text = text.substr(0, nul);
  }
  envelope = EnvelopeHead(prefix, ctx.registration_id.view());
  packing::AppendCdataPieces(text, envelope);  // a "]]>" would end the section early
  envelope += EnvelopeTail(prefix);
  return true;
}

// The packed copy of one post: made new in the held category folder, written, and sent
// from this same handle.
struct PackedCopy {
  PackOutcome outcome = PackOutcome::kFailed;
  platform::File file;
  platform::FileIdentity identity;  // as written: the copy removed after the post is this one
};

// Removes the copy this run made, unless its name has come to hold another file since.
bool RemoveCopy(const platform::AgentFolder& agent, const std::string& packed_path,
                const platform::FileIdentity& identity) {
  return !identity.valid || agent.DeleteIfUnchanged(packed_path, identity) ||
         platform::NoSuchFile(platform::LastError());
}

// Makes the packed copy of `source`. It is created as a new file: a name that exists
// already (a writer's own file, or a copy a stopped run left) is never written through
// nor removed here, and only an empty one is moved aside; as with a copy the disk cannot
// take, the source stays for a later run (the start-up clean-up takes away copies the
// agent left, whole or cut short).
PackedCopy Pack(PostingSession& session, bool status_mode, const std::string& folder,
                const platform::DirEntry& entry, std::string_view prefix, platform::File& source,
                const std::string& source_path, const std::string& packed_path,
                const std::string& log) {
  const RunContext& ctx = session.ctx;
  const platform::AgentFolder& agent = platform::FolderOrUnrooted(ctx.folder);
  PackedCopy copy;
  packing::PackResult packed = packing::PackResult::kNotSaved;
  auto create = [&] {
    copy.file = agent.Open(packed_path, platform::OpenMode::kCreateNew);
    if (copy.file.IsOpen()) return true;
    // An empty file of that name (a run ended right after making its copy, or an empty
    // result file) goes where every empty result file goes, and frees the name.
    platform::File existing = agent.Open(packed_path, platform::OpenMode::kReadExisting);
    if (!existing.IsOpen() || existing.SizeAtOpen() != 0) return false;
    existing.Close();
    const std::size_t cut = platform::FindCharacter(packed_path, platform::kPathSeparator,
                                                    platform::Occurrence::kLast);
    MoveToErrorFolder(ctx, folder, packed_path.substr(cut + 1));
    copy.file = agent.Open(packed_path, platform::OpenMode::kCreateNew);
    return copy.file.IsOpen();
  };
  if (!status_mode) {
    if (create()) packed = packing::PackFile(source, source_path, copy.file, packed_path);
  } else {
    try {
      std::string text;
      switch (ReadStatusFile(source, entry.size, text)) {
        case StatusRead::kRead:
          break;
        case StatusRead::kUnreadable:
          copy.outcome = PackOutcome::kEndOfCall;
          return copy;
        case StatusRead::kTooLarge:
          ReportOnce(session, log, source_path, kStatusTooLarge, 0);
          return copy;
      }
      std::string envelope;
      if (!BuildEnvelope(ctx, prefix, text, envelope)) {
        packed = packing::PackResult::kNotADocument;
      } else {
        text = std::string();
        if (create()) packed = packing::PackText(envelope, copy.file, packed_path);
      }
    } catch (const std::bad_alloc&) {
      packed = packing::PackResult::kNotSaved;  // a good file; it stays for the next run
    }
  }
  if (copy.file.IsOpen()) copy.identity = copy.file.Identity();
  if (packed == packing::PackResult::kPacked && copy.identity.valid) {
    copy.outcome = PackOutcome::kPacked;
    return copy;
  }
  WriteLogEntry(log, kEventProgress, 0, "ERR: Unable to compress file",
                LoggablePath(source_path).c_str());
  RemoveCopy(agent, packed_path, copy.identity);
  copy.file.Close();
  // Only a file that is no document goes to the Error folder; one that could not be
  // packed for want of disk space or a write error is good and stays for the next run.
  if (packed == packing::PackResult::kNotADocument) MoveToErrorFolder(ctx, folder, entry.name);
  return copy;
}

enum class HoldOutcome {
  kHeld,       // open, checked and held for the post
  kWait,       // a writer holds it: it waits for a later pass or run
  kLeftAlone,  // it cannot be posted safely now; one line has said why
};

struct HeldSource {
  HoldOutcome outcome;
  platform::File file;
  platform::FileIdentity identity;  // taken from the open handle
};

// Opens the result file for its post and checks it on the open handle: a file of more
// than one name may be one outside the folder, and a file the run could not delete after
// its acceptance would be posted again and again.
HeldSource HoldSource(PostingSession& session, const platform::AgentFolder& agent,
                      const std::string& path, const std::string& log) {
  HeldSource held{HoldOutcome::kLeftAlone,
                  agent.Open(path, platform::OpenMode::kReadExisting), {}};
  if (!held.file.IsOpen()) {
    const int error = platform::LastError();
    if (platform::HeldByWriter(error)) {
      held.outcome = HoldOutcome::kWait;
    } else {
      ReportOnce(session, log, path, "ERR: Unable to open file, left alone", error);
    }
    return held;
  }
  held.identity = held.file.IdentityAtOpen();
  if (held.identity.links > 1 && !platform::SecondNamesHarmless()) {
    ReportOnce(session, log, path, "ERR: File has other names, left alone", 0);
    return held;
  }
  if (!agent.CanDelete(path, held.file)) {
    ReportOnce(session, log, path, "ERR: Unable to delete file, not posted",
               platform::LastError());
    return held;
  }
  switch (held.file.HoldOffWriters()) {
    case platform::File::WriterHold::kHeld:
      break;
    case platform::File::WriterHold::kHeldByWriter:
      // A writer that has the file open now: as a sharing violation on Windows.
      held.outcome = HoldOutcome::kWait;
      return held;
    case platform::File::WriterHold::kUnavailable: {
      // Nothing keeps a writer off while the file is read: it is taken only once it has
      // stayed unchanged for the settle time, and kept after its post if it changed.
      ReportOnce(session, std::string(), std::string(), kWithoutLeases, 0);
      const long long quiet_ms = held.file.MsSinceChange();
      if (quiet_ms < 0 || static_cast<unsigned long long>(quiet_ms) < session.ctx.unleased_settle_ms) {
        held.outcome = HoldOutcome::kWait;
        return held;
      }
      break;
    }
  }
  held.outcome = HoldOutcome::kHeld;
  return held;
}

}  // namespace

void MoveToErrorFolder(const RunContext& ctx, const std::string& folder, const std::string& name) {
  std::string from = folder + platform::kPathSeparator + name;
  std::string to = ctx.error_folder.str() + platform::kPathSeparator + name;
  if (from.size() > kPathCapacity - 1 || to.size() > kPathCapacity - 1) return;
  const platform::AgentFolder& agent = platform::FolderOrUnrooted(ctx.folder);
  agent.SetAttributesNormal(from);
  agent.MoveToFreeName(from, to, kPathCapacity - 1);
}

void PostMatchingFiles(PostingSession& session, const RoutingTable& routing,
                       const std::string& folder, const std::string& pattern,
                       const std::string& url, int pack_flag) {
  RunContext& ctx = session.ctx;
  const platform::AgentFolder& agent = platform::FolderOrUnrooted(ctx.folder);
  UrlParts parts;
  if (!SplitUrl(url, parts)) return;
  const bool status_mode = IsStatusCategory(ctx.category.view());
  const std::string search = folder + pattern;
  if (search.size() > kPathCapacity - 1) return;

  platform::DirSearch listing;
  platform::DirEntry entry;
  platform::SearchStep step = agent.First(listing, search, entry);
  int failures_in_a_row = 0;
  for (; step != platform::SearchStep::kNoMore; step = listing.Next(entry)) {
    if (step == platform::SearchStep::kFailed) {
      if (++failures_in_a_row >= kListingFailureLimit) return;
      continue;
    }
    failures_in_a_row = 0;
    if (entry.is_directory || entry.name == "." || entry.name == "..") continue;
    if (entry.unusable_name) {
      // The name cannot be spelled as the file's own path; once per run is enough.
      ReportOnce(session, std::string(), folder + platform::kPathSeparator + entry.name,
                 "ERR: File name cannot be used, left alone", 0);
      continue;
    }
    if (entry.is_link) {
      // Never followed: neither posted, nor moved, nor deleted.
      ReportOnce(session, TransferLogPath(ctx, NamePrefix(entry.name)),
                 folder + platform::kPathSeparator + entry.name, "ERR: File is a link, left alone",
                 0);
      continue;
    }

    const bool pack = WantsPacking(pack_flag, ctx.category.view(), entry.name);
    if (NamePrefix(entry.name).size() == entry.name.size()) {  // no "_"
      MoveToErrorFolder(ctx, folder, entry.name);
      continue;
    }
    const std::string_view prefix = NamePrefix(entry.name);
    if (const RoutingEntry* route = routing.FindRoutingEntry(prefix)) {
      if (route->ig == 1) continue;
      if (route->del == 1) {
        MoveToErrorFolder(ctx, folder, entry.name);
        continue;
      }
    }

    // Names that do not fit the 359-character paths are left where they are: a cut
    // path would name another file.
    const std::string log = TransferLogPath(ctx, prefix);
    const std::string display_url = DisplayUrl(url, prefix);
    std::string file_path = folder + platform::kPathSeparator + entry.name;
    std::string request_path;
    const std::string packed_path = pack ? PackedPath(file_path) : std::string();
    if (log.empty() || file_path.size() > kPathCapacity - 1 ||
        !BuildRequestPath(ctx, parts.base_path.view(), prefix, request_path) ||
        (pack && packed_path.empty())) {
      ReportOnce(session, log, file_path, "ERR: Path too long, file left alone", 0);
      continue;
    }

    if (entry.size == 0) {
      MoveToErrorFolder(ctx, folder, entry.name);
      continue;
    }
    // The prefix names the Status envelope's element: one that is no XML name would
    // forge another element or attributes. No agent makes such a name, so the file goes
    // to the Error folder for an operator rather than out under another name.
    if (status_mode && !IsXmlName(prefix)) {
      WriteLogEntry(log, kEventProgress, 0, "ERR: File name prefix is not an XML name",
                    LoggablePath(file_path).c_str());
      MoveToErrorFolder(ctx, folder, entry.name);
      continue;
    }
    if (status_mode && entry.size > static_cast<std::uint64_t>(kStatusFileMaxBytes)) {
      ReportOnce(session, log, file_path, kStatusTooLarge, 0);
      continue;
    }
    if (session.not_again.count(file_path)) continue;
    // A transfer log that may be an outside file linked in is not written: said where an
    // operator reads, as its own lines are lost.
    if (!platform::SecondNamesHarmless() && agent.IdentityAt(log).links > 1) {
      ReportOnce(session, std::string(), log, "ERR: Log file has other names, not written", 0);
    }

    // The source is held open from here to the end of its post: its checks, its identity
    // and (in Status mode) its text all come from this one handle.
    HeldSource held = HoldSource(session, agent, file_path, log);
    if (held.outcome == HoldOutcome::kWait) {
      if (status_mode) {
        // Later files keep their order behind it.
        ReportOnce(session, std::string(), file_path, kStatusHeldByWriter, 0);
        return;
      }
      continue;
    }
    if (held.outcome == HoldOutcome::kLeftAlone) continue;
    // A copy an earlier post could not delete is never posted as a result of its own
    // (packed again, it would come back as "X.zip.zip", and so on).
    if (EndsWithZip(entry.name) && IsPackedCopy(held.file)) {
      ReportOnce(session, log, file_path, kPackedCopyLeft, 0);
      continue;
    }

    ctx.transfer_log_path = log;
    if (!WriteLogEntry(log, kEventProgress, 0, "MSG: WebPosting File",
                       LoggablePath(display_url).c_str(), LoggablePath(file_path).c_str())) {
      // A post its transfer log cannot record is not made: the file waits for a run
      // that can (a full disk, a refused log lock, a log that is no file).
      ReportOnce(session, std::string(), log, kTransferLogRefused, 0);
      if (status_mode) return;  // later files keep their order behind it
      continue;
    }
    const std::string source_path = file_path;
    const platform::FileIdentity& source_identity = held.identity;
    PackedCopy copy;
    if (pack) {
      copy = Pack(session, status_mode, folder, entry, prefix, held.file, source_path,
                  packed_path, log);
      if (copy.outcome == PackOutcome::kEndOfCall) return;
      if (copy.outcome == PackOutcome::kFailed) continue;
      // The source has been read whole: a writer need wait no longer.
      held.file.EndWriterHold();
      file_path = packed_path;
    }
    // Renamed or replaced since it was opened: what would go out is not what was checked.
    if (!(agent.IdentityAt(source_path) == source_identity)) {
      if (pack) RemoveCopy(agent, packed_path, copy.identity);
      continue;
    }

    if (!pack) agent.SetAttributesNormal(file_path);
    // One handle on the body serves the log's copy and every send: the held source, or
    // the packed copy as written; a small body is read once for both.
    HeldBody body{pack ? &copy.file : &held.file, pack ? copy.identity : source_identity, {}};
    const std::string head = ReadBodyHead(body);
    body.head = head;
    CopyDataToTransferLog(body, log);
    // A refused packed copy keeps its name: renamed to "X.zip1" it would escape the next
    // run's "*.zip" clean-up (and could take the name of a source "X.zip1"); it is
    // deleted here whatever the outcome, and its source stays for the next run.
    SendTarget target{parts.host.c_str(), request_path.c_str(), parts.scheme.c_str(),
                      file_path.c_str(), parts.port, !pack, &body};
    const bool posted = DispatchPost(session, target, source_path, pack, &held.file);
    copy.file.Close();
    if (pack && !RemoveCopy(agent, packed_path, copy.identity)) {
      ReportOnce(session, log, packed_path, kPackedCopyLeft, platform::LastError());
    }
    // Accepted but still there (it changed meanwhile, or could not be deleted): not posted
    // again in this run; the next run posts what it then holds. Looked at once the hold
    // has ended: a Windows delete is pending until the last handle closes.
    held.file.Close();
    if (posted && agent.IdentityAt(source_path).valid) session.not_again.insert(source_path);
    if (!posted && session.failure_pause_ms) platform::SleepMs(session.failure_pause_ms);
  }
}

}  // namespace vemtu
