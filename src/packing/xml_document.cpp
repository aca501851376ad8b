#include "packing/xml_document.h"

#include <new>

#include "common/fixed_text.h"
#include "packing/charset_names.h"
#include "packing/deflate_pipeline.h"
#include "packing/encoding_convert.h"
#include "packing/parse_engine.h"
#include "packing/raw_deflate.h"
#include "packing/serialize.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace vemtu::packing {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// The charset named by an XML declaration: "<?xml" anywhere before the first NUL byte
// (any case) up to the next ">", white space removed, lower-cased, then "encoding=" and a
// double or, failing that, a single quote. Empty when there is none.
std::string DeclaredCharset(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::size_t start = 0;
  for (;; ++start) {
    start = bytes.find('<', start);
    if (start == std::string_view::npos) return {};
    if (EqualsIgnoreCase(bytes.substr(start, 5), "<?xml")) break;
  }
  std::size_t close = bytes.find('>', start + 5);
  if (close == std::string_view::npos) return {};
  std::string inside;
  for (char c : bytes.substr(start + 5, close - start - 5)) {
    if (!IsSpace(c)) inside.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
  }
  std::size_t at = inside.find("encoding=\"");
  if (at == std::string::npos) at = inside.find("encoding='");
  if (at == std::string::npos) return {};
  std::string_view rest = std::string_view(inside).substr(at + 10);
  std::size_t end = rest.find('"');
  if (end == std::string_view::npos) end = rest.find('\'');
  return std::string(rest.substr(0, end));
}

// Feeds a serialisation to the compressor in reads of exactly kDeflateReadSize bytes
// while it is written; the rest goes with the finish flag.
class DeflateDrain : public SerialDrain {
 public:
  explicit DeflateDrain(StringBuffer& payload) : pipeline_(payload) {}
  std::size_t Threshold() const override { return kDeflateReadSize; }
  void Drain(StringBuffer& out) override {
    std::size_t fed = 0;
    while (out.size() - fed > kDeflateReadSize) {
      if (!pipeline_.Feed(out.view().substr(fed, kDeflateReadSize))) failed_ = true;
      fed += kDeflateReadSize;
    }
    out.Erase(fed);
  }
  bool Finish(const StringBuffer& rest) { return pipeline_.Finish(rest.view()) && !failed_; }

 private:
  DeflatePipeline pipeline_;
  bool failed_ = false;
};

}  // namespace

// Packs a document while it is parsed: the root's opening as soon as its start tag is
// read, then each child of the root as soon as it is closed, so that compression runs
// beside the parse. What it packs is the serialisation of the loaded tree only when the
// root is the result, has no content and has children, each child was reported, and the
// prolog did not change after the root began; otherwise ZipTree packs the tree anew.
class XmlDocument::ZipAhead : public ParseObserver {
 public:
  ZipAhead() : drain_(payload_) {}

  void TopLevelOpened(const TreeNode& element, const TreeNode* declaration,
                      const std::vector<TreeNode*>& stylesheets, std::string_view prolog) override {
    if (root_) valid_ = false;  // a second top-level element: the tree may be another
    if (!valid_) return;
    root_ = &element;
    AppendRootOpening(declaration, stylesheets, prolog, element, opening_);
    pending_.Append(opening_.view());
  }

  void TopLevelChildClosed(const TreeNode& child) override {
    if (!valid_) return;
    if (child.parent != root_ || (last_child_ && last_child_->next != &child)) valid_ = false;
    if (!valid_) return;
    packing::SerializeNode(child, pending_, last_child_ ? 1 : 0, 1, false, &drain_);
    if (!last_child_) first_child_ = &child;
    last_child_ = &child;
  }

  // Moves the payload of `root`'s packed serialisation to `payload`; false when what was
  // packed ahead is not that serialisation. The children were reported in the order of
  // their links, each after the one before, so the first and the last reported still
  // being the ends of the list shows that the list is the one packed (walking a list of
  // 100,000 children costs milliseconds).
  bool Complete(const TreeNode& root, StringBuffer& payload) {
    if (!valid_ || root_ != &root || !root.document || !root.content().empty() || !root.has_children) {
      return false;
    }
    if (!last_child_ || root.first_child != first_child_ || last_child_->next ||
        last_child_->parent != &root) {
      return false;
    }
    StringBuffer opening;
    const TreeInfo& tree = *root.document;
    AppendRootOpening(tree.declaration, tree.stylesheets, tree.prolog.view(), root, opening);
    if (opening.view() != opening_.view()) return false;
    AppendRootClosing(root, pending_);
    if (!drain_.Finish(pending_)) return false;
    payload = std::move(payload_);
    return true;
  }

 private:
  StringBuffer payload_;
  DeflateDrain drain_;
  StringBuffer pending_;
  StringBuffer opening_;  // as written, to compare with the loaded tree's
  const TreeNode* root_ = nullptr;
  const TreeNode* first_child_ = nullptr;
  const TreeNode* last_child_ = nullptr;
  bool valid_ = true;
};

namespace {

bool IsWideUnicode(unsigned code_page) {
  return code_page == kCodePageUtf16Le || code_page == kCodePageUtf16Be ||
         code_page == kCodePageUtf32Le || code_page == kCodePageUtf32Be;
}

// A document is never written in a 16- or 32-bit form: without a byte-order mark (none is
// written) a reader could not even find its declaration.
bool NamesWideUnicode(std::string_view charset) { return IsWideUnicode(LookupCharset(charset)); }

}  // namespace

XmlDocument::XmlDocument() {
  TreeInfo* tree = TreeInfo::Create();
  TreeNode* root = tree->NewNode();
  root->SetTag("unnamed");
  tree->root = root;
  tree->AddReference();
  InstallRoot(root);
}

void XmlDocument::PackWhileLoading() { zip_ahead_ = std::make_unique<ZipAhead>(); }

XmlDocument::~XmlDocument() {
  std::lock_guard<std::mutex> hold(lock_);
  ReleaseRoot();
}

void XmlDocument::InstallRoot(TreeNode* root) {
  ReleaseRoot();
  root_ = root;
  ++root_->references;
}

void XmlDocument::ReleaseRoot() {
  if (!root_) return;
  TreeNode* old = root_;
  root_ = nullptr;
  if (old->references) --old->references;
  old->document->DropReference();
}

// ---- loading

bool XmlDocument::LoadXml(std::string_view text, bool auto_trim) {
  try {
    LogContext context(log_, "LoadXml");
    text = text.substr(0, text.find('\0'));
    std::string_view trimmed = Trim(text);
    if (text.find('<') == std::string_view::npos && trimmed.size() < 100 && trimmed.size() >= 4 &&
        Lower(trimmed.substr(trimmed.size() - 4)) == ".xml") {
      return LoadXmlFile(trimmed, auto_trim);
    }
    return Parse(text, auto_trim, false);
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return false;
  } catch (...) {
    return false;
  }
}

bool XmlDocument::LoadXmlFile(std::string_view path_text, bool auto_trim) {
  LogContext context(log_, "LoadXmlFile");
  std::string path(Trim(path_text));
  platform::File file = platform::File::Open(path, platform::OpenMode::kReadExisting);
  if (!file.IsOpen()) {
    int error = platform::LastError();
    log_.LogError("Failed to open file for reading");
    log_.LogData("filename", path);
    log_.LogData("error", platform::ErrorText(error));
    return false;
  }
  return LoadOpenFile(file, path, auto_trim);
}

bool XmlDocument::LoadXmlFile(const platform::File& file, const std::string& path,
                              bool auto_trim) {
  LogContext context(log_, "LoadXmlFile");
  return LoadOpenFile(file, path, auto_trim);
}

bool XmlDocument::LoadOpenFile(const platform::File& file, const std::string& path,
                               bool auto_trim) {
  try {
    DataBuffer bytes;
    {
      long long size = file.Size();
      if (size < 0 || static_cast<unsigned long long>(size) > kBufferLimit) {
        log_.LogError("Failed to get file size");
        log_.LogData("filename", path);
        return false;
      }
      constexpr std::size_t kReadBlock = 65536;
      // Room for the whole file and one more read that finds its end.
      bytes.Reserve(static_cast<std::size_t>(size) + kReadBlock);
      for (std::uint64_t offset = 0;;) {
        char* at = bytes.Extend(kReadBlock);
        long long got = file.ReadAt(at, kReadBlock, offset);
        if (got < 0) {
          int error = platform::LastError();
          log_.LogError("Failed to read file");
          log_.LogData("filename", path);
          log_.LogData("error", platform::ErrorText(error));
          return false;
        }
        bytes.Commit(static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
        // A regular file reads short only at its end: no further read to find it.
        if (static_cast<std::size_t>(got) < kReadBlock) break;
      }
    }

    // Bring the bytes to UTF-8.
    std::string converted;
    std::string_view text = bytes.view();
    bool convert = false;
    unsigned from = 0;
    if (text.substr(0, 2) == "\xFF\xFE") {
      convert = true;
      from = kCodePageUtf16Le;
    } else if (text.substr(0, 2) == "\xFE\xFF") {
      convert = true;
      from = kCodePageUtf16Be;
    } else if (text.substr(0, 3) == "\xEF\xBB\xBF") {
      text.remove_prefix(3);
    } else {
      std::string charset = DeclaredCharset(text);
      from = charset.empty() ? 0 : LookupCharset(charset);
      // A declaration found as 8-bit text cannot be in a 16- or 32-bit form whatever it
      // says; converting from one would only garble the bytes.
      convert = from != 0 && !EqualsIgnoreCase(charset, "utf-8") && !IsWideUnicode(from);
    }
    if (convert) {
      if (Convert(from, kCodePageUtf8, text, converted)) {
        bytes.Release();
        text = converted;
      } else {
        log_.LogError("Failed to convert to utf-8; the bytes are parsed as they are");
      }
    }
    return Parse(text, auto_trim, true);
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return false;
  } catch (...) {
    return false;
  }
}

bool XmlDocument::Parse(std::string_view text, bool auto_trim, bool from_file) {
  TreeNode* root;
  {
    // A file's bytes are this document's own buffer, freed after the parse.
    ParseEngine engine(text, auto_trim, log_, from_file, zip_ahead_.get());
    root = engine.Run();
  }
  if (!root) return false;
  if (from_file) {
    TreeInfo* tree = root->document;
    std::string_view encoding;
    if (tree->declaration && tree->declaration->attributes &&
        tree->declaration->attributes->Lookup("encoding", &encoding) &&
        NamesWideUnicode(encoding)) {
      std::lock_guard<std::mutex> hold(lock_);
      InstallRoot(root);
      SetEncoding("utf-8");
      return true;
    }
  }
  std::lock_guard<std::mutex> hold(lock_);
  InstallRoot(root);
  return true;
}

// ---- declaration

bool XmlDocument::GetEncoding(std::string* name) const {
  if (!root_ || !root_->document) return false;
  const TreeNode* declaration = root_->document->declaration;
  std::string_view value;
  if (!declaration || !declaration->attributes ||
      !declaration->attributes->Lookup("encoding", &value)) {
    return false;
  }
  if (name) name->assign(value);
  return true;
}

void XmlDocument::SetEncoding(std::string_view name) {
  if (!root_ || !root_->document) return;
  TreeInfo* tree = root_->document;
  if (!tree->declaration) {
    tree->declaration = tree->NewNode();
    tree->declaration->SetTag("xml");
    tree->declaration->AddAttribute("version", "1.0");
  }
  TreeNode* declaration = tree->declaration;
  if (declaration->attributes) declaration->attributes->Remove("encoding");
  declaration->AddAttribute("encoding", name);
}

// ---- serialising and saving

void XmlDocument::SerializeNode(const TreeNode& node, StringBuffer& out, int child_index,
                                int depth, bool omit_declaration) const {
  packing::SerializeNode(node, out, child_index, depth, omit_declaration);
}

void XmlDocument::Serialize(StringBuffer& out) const {
  if (root_) SerializeNode(*root_, out, 0, 0, false);
}

bool XmlDocument::SaveXml(const char* path) {
  try {
    LogContext context(log_, "SaveXml");
    std::string encoding;
    if (!ReadyToSave(encoding)) return false;
    if (!path) {
      log_.LogError("NULL filename");
      return false;
    }
    std::string_view trimmed = Trim(path);
    if (trimmed.empty()) {
      log_.LogError("zero-length filename");
      return false;
    }
    std::string file_path = FilePath(trimmed);
    platform::File file = OpenForWriting(file_path);
    if (!file.IsOpen()) return false;
    try {
      return WriteDocument(file, file_path, encoding);
    } catch (...) {
      // No half document is left behind for a failure other than a write.
      file.Close();
      platform::DeleteFileAt(file_path);
      throw;
    }
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return false;
  } catch (...) {
    return false;
  }
}

bool XmlDocument::SaveXml(platform::File& file, const std::string& path) {
  try {
    LogContext context(log_, "SaveXml");
    std::string encoding;
    return ReadyToSave(encoding) && WriteDocument(file, path, encoding);
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return false;
  } catch (...) {
    return false;
  }
}

bool XmlDocument::ReadyToSave(std::string& encoding) {
  if (!root_) {
    log_.LogError("null tree");
    return false;
  }
  if (!root_->document || root_->document->root != root_) {
    log_.LogError("invalid tree");
    return false;
  }
  if (!GetEncoding(&encoding) || NamesWideUnicode(encoding)) {
    SetEncoding("utf-8");
    encoding = "utf-8";
  }
  return true;
}

bool XmlDocument::WriteDocument(platform::File& file, const std::string& path,
                                const std::string& encoding) {
  if (EqualsIgnoreCase(encoding, "utf-8")) return WriteSerialised(file, path);
  StringBuffer text;
  Serialize(text);
  std::string converted;
  std::string_view bytes = text.view();
  if (ConvertToCharset(kCodePageUtf8, encoding, bytes, converted)) {
    text.Release();
    bytes = converted;
  } else {
    // Nothing to convert into: the text is kept as it is held, UTF-8.
    log_.LogError("Unknown charset; saved without conversion");
    log_.LogData("charset", encoding);
  }
  if (!file.Write(bytes.data(), bytes.size())) {
    log_.LogError("Failed to write complete file (1)");
    log_.LogData("filename", path);
    return false;
  }
  return true;
}

// The program's own separators: a backslash in a Linux name is an ordinary byte.
std::string XmlDocument::FilePath(std::string_view trimmed) {
  return platform::OwnSeparators(std::string(trimmed));
}

namespace {

// Writes a serialisation to a file in pieces as it is made; after a failed write the
// rest is dropped.
class FileDrain : public SerialDrain {
 public:
  explicit FileDrain(platform::File& file) : file_(file) {}
  std::size_t Threshold() const override { return 1u << 20; }
  void Drain(StringBuffer& out) override {
    std::size_t count = out.size() - 1;  // the layout looks back at the last byte
    Write(out.view().substr(0, count));
    out.Erase(count);
  }
  void Write(std::string_view bytes) {
    if (!failed_ && !file_.Write(bytes.data(), bytes.size())) failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  platform::File& file_;
  bool failed_ = false;
};

}  // namespace

// A UTF-8 document goes to the file while it is serialised, so that a large packed
// document is never held whole beside its tree.
bool XmlDocument::WriteSerialised(platform::File& file, const std::string& path) {
  FileDrain drain(file);
  StringBuffer pending;
  packing::SerializeNode(*root_, pending, 0, 0, false, &drain);
  drain.Write(pending.view());
  if (drain.failed()) {
    log_.LogError("Failed to write complete file (1)");
    log_.LogData("filename", path);
    return false;
  }
  return true;
}

platform::File XmlDocument::OpenForWriting(const std::string& path) {
  // Nobody else may open the file while it is written, so no reader sees it half done.
  platform::File file = platform::File::Open(path, platform::OpenMode::kWriteTruncateUnshared);
  const char* failure = "Failed to write complete file (7)";
  if (!file.IsOpen() && platform::SetAttributesNormal(path)) {
    // An existing read-only file: its attribute is cleared and the creation tried again.
    file = platform::File::Open(path, platform::OpenMode::kWriteTruncateUnshared);
    failure = "Failed to write complete file (6)";
  }
  if (!file.IsOpen()) {
    int error = platform::LastError();
    log_.LogError(failure);
    log_.LogData("filename", path);
    log_.LogData("error", platform::ErrorText(error));
  }
  return file;
}

// ---- packing

bool XmlDocument::ZipTree() {
  if (!root_) return false;
  try {
    LogContext context(log_, "ZipTree");
    // The serialisation goes to the compressor as it is written, in the same reads of
    // 60000 bytes as from a whole buffer, so it is never held whole: one deflated entry
    // of the serialised bytes is the payload, nothing else of an archive. A second thread
    // compresses and encodes while this one serialises.
    StringBuffer payload;
    std::unique_ptr<ZipAhead> ahead = std::move(zip_ahead_);
    if (!ahead || !ahead->Complete(*root_, payload)) {
      ahead.reset();
      StringBuffer pending;
      DeflateDrain drain(payload);
      packing::SerializeNode(*root_, pending, 0, 0, false, &drain);
      if (!drain.Finish(pending)) {
        log_.LogError("Failed to compress the document");
        return false;
      }
    }

    root_->DropChildren();
    root_->TakeContent(payload);  // the payload joins the tree without a copy
    root_->cdata = 1;
    return true;
  } catch (const std::bad_alloc&) {
    log_.LogError("Failed to append data to Zip");
    out_of_memory_ = true;
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace vemtu::packing
