#include "posting/post_matching_files.h"

#include <new>
#include <string_view>

#include "log/log_writer.h"
#include "packing/serialize.h"
#include "packing/tree_zipping.h"
#include "platform/clock.h"
#include "platform/dir_search.h"
#include "platform/files.h"
#include "platform/paths.h"
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

void DeleteWithAttributes(const std::string& path) {
  platform::SetAttributesNormal(path);
  platform::DeleteFileAt(path);
}

// Reads the whole Status file into `text`, as large as it is when opened (not as
// listed). False when it cannot be opened or read.
bool ReadStatusFile(const std::string& path, std::uint64_t listed_size, std::string& text) {
  platform::File file = platform::File::Open(path, platform::OpenMode::kReadExisting);
  if (!file.IsOpen()) return false;
  long long current = file.SizeAtOpen();
  if (current < 0) return false;
  std::uint64_t expected = current > 0 ? static_cast<std::uint64_t>(current) : listed_size;
  text.reserve(expected);
  // Bounded by the size at the open: bytes a writer adds meanwhile change the file's
  // identity, so the file is kept for the next run instead of deleted after the post.
  auto left = static_cast<std::uint64_t>(current);
  char block[65536];
  while (left > 0) {
    std::size_t want = left < sizeof block ? static_cast<std::size_t>(left) : sizeof block;
    long long got = file.Read(block, want);
    if (got < 0) return false;
    if (got == 0) return true;
    text.append(block, static_cast<std::size_t>(got));
    left -= static_cast<std::uint64_t>(got);
  }
  return true;
}

enum class PackOutcome {
  kPacked,     // the packed copy is ready at the packed path
  kFailed,     // packing failed: the source went to the Error folder, or stays
  kEndOfCall,  // Status mode: the file could not be read; the call ends here
};

// The envelope around a Status file's text, or false when the text holds a byte that
// XML cannot carry: a NUL would end the text there, and the rest would be lost.
bool BuildEnvelope(const RunContext& ctx, std::string_view prefix, std::string_view text,
                   std::string& envelope) {
  if (text.find('\0') != std::string_view::npos) return false;
  envelope = EnvelopeHead(prefix, ctx.registration_id.view());
  packing::AppendCdataPieces(text, envelope);  // a "]]>" would end the section early
  envelope += EnvelopeTail(prefix);
  return true;
}

PackOutcome Pack(const RunContext& ctx, bool status_mode, const std::string& folder,
                 const platform::DirEntry& entry, std::string_view prefix,
                 const std::string& source_path, const std::string& packed_path,
                 const std::string& log) {
  DeleteWithAttributes(packed_path);
  packing::PackResult packed = packing::PackResult::kNotADocument;
  if (!status_mode) {
    // A source that cannot be opened now (held by its writer, gone) is no bad document.
    packed = platform::File::Open(source_path, platform::OpenMode::kReadExisting).IsOpen()
                 ? packing::PackFile(source_path, packed_path)
                 : packing::PackResult::kNotSaved;
  } else {
    std::string envelope;
    try {
      std::string text;
      if (!ReadStatusFile(source_path, entry.size, text)) return PackOutcome::kEndOfCall;
      if (BuildEnvelope(ctx, prefix, text, envelope)) {
        text = std::string();
        packed = packing::PackText(envelope, packed_path);
      }
    } catch (const std::bad_alloc&) {
      return PackOutcome::kEndOfCall;
    }
  }
  if (packed == packing::PackResult::kPacked) return PackOutcome::kPacked;
  WriteLogEntry(log, kEventProgress, 0, "ERR: Unable to compress file", source_path.c_str());
  DeleteWithAttributes(packed_path);
  // Only a file that is no document goes to the Error folder; one that could not be
  // packed for want of disk space or a write error is good and stays for the next run.
  if (packed == packing::PackResult::kNotADocument) MoveToErrorFolder(ctx, folder, entry.name);
  return PackOutcome::kFailed;
}

}  // namespace

void MoveToErrorFolder(const RunContext& ctx, const std::string& folder, const std::string& name) {
  std::string from = folder + platform::kPathSeparator + name;
  std::string to = ctx.error_folder.str() + platform::kPathSeparator + name;
  if (from.size() > kPathCapacity - 1 || to.size() > kPathCapacity - 1) return;
  platform::SetAttributesNormal(from);
  platform::MoveToFreeName(from, to, kPathCapacity - 1);
}

void PostMatchingFiles(PostingSession& session, const RoutingTable& routing,
                       const std::string& folder, const std::string& pattern,
                       const std::string& url, int pack_flag) {
  RunContext& ctx = session.ctx;
  UrlParts parts;
  if (!SplitUrl(url, parts)) return;
  const bool status_mode = IsStatusFolder(folder);
  const std::string search = folder + pattern;
  if (search.size() > kPathCapacity - 1) return;

  platform::DirSearch listing;
  platform::DirEntry entry;
  platform::SearchStep step = listing.First(search, entry);
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
      const std::string shown = folder + platform::kPathSeparator + entry.name;
      if (session.unusable_names_logged.insert(shown).second) {
        WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0,
                      "ERR: File name cannot be used, left alone", shown.c_str());
      }
      continue;
    }
    if (entry.is_link) {
      // Never followed: neither posted, nor moved, nor deleted.
      const std::string link_path = folder + platform::kPathSeparator + entry.name;
      WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0, "ERR: File is a link, left alone",
                    link_path.c_str());
      continue;
    }

    const bool pack = WantsPacking(pack_flag, ctx.category.view(), entry.name);
    if (entry.name.find('_') == std::string::npos) {
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
    PathText request_path;
    if (log.empty() || file_path.size() > kPathCapacity - 1 ||
        !BuildRequestPath(ctx, parts.base_path.view(), prefix, request_path))
      continue;
    const std::string packed_path = pack ? PackedPath(file_path) : std::string();
    if (pack && packed_path.empty()) continue;

    if (entry.size == 0) {
      MoveToErrorFolder(ctx, folder, entry.name);
      continue;
    }

    ctx.transfer_log_path = log;
    WriteLogEntry(log, kEventProgress, 0, "MSG: WebPosting File", display_url.c_str(),
                  file_path.c_str());
    const std::string source_path = file_path;
    // The source as it is before anything reads it: deleted after the post only if so.
    const platform::FileIdentity source_identity = platform::IdentityAt(source_path);
    if (pack) {
      PackOutcome outcome =
          Pack(ctx, status_mode, folder, entry, prefix, source_path, packed_path, log);
      if (outcome == PackOutcome::kEndOfCall) return;
      if (outcome == PackOutcome::kFailed) continue;
      file_path = packed_path;
    }

    platform::SetAttributesNormal(file_path);
    CopyDataToTransferLog(file_path, log);
    // A refused packed copy keeps its name: renamed to "X.zip1" it would escape the next
    // run's "*.zip" clean-up (and could take the name of a source "X.zip1"); it is
    // deleted here whatever the outcome, and its source stays for the next run.
    SendTarget target{parts.host.c_str(), request_path.c_str(), parts.scheme.c_str(),
                      file_path.c_str(), parts.port, !pack};
    bool posted = DispatchPost(session, target, source_path, pack, &source_identity);
    if (pack) DeleteWithAttributes(packed_path);
    if (!posted && session.failure_pause_ms) platform::SleepMs(session.failure_pause_ms);
  }
}

}  // namespace vemtu
