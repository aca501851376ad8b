// Code-page conversion on Linux: glibc's iconv, with the Windows code-page numbers
// translated to iconv's charset names.
#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <functional>
#include <iterator>

#include "platform/character_scan.h"

namespace vemtu::platform {
namespace {

struct IconvName {
  unsigned code_page;
  const char* name;
};

// Sorted by code page. Code pages that iconv has no faithful table for are absent.
constexpr IconvName kIconvNames[] = {
    {37, "IBM037"},        {437, "IBM437"},       {500, "IBM500"},
    {708, "ISO-8859-6"},   {709, "ASMO_449"},     {737, "CP737"},
    {775, "CP775"},        {850, "IBM850"},       {852, "IBM852"},
    {855, "IBM855"},       {857, "IBM857"},       {858, "IBM858"},
    {860, "IBM860"},       {861, "IBM861"},       {862, "IBM862"},
    {863, "IBM863"},       {864, "IBM864"},       {865, "IBM865"},
    {866, "IBM866"},       {869, "IBM869"},       {870, "IBM870"},
    {874, "WINDOWS-874"},  {875, "IBM875"},       {932, "CP932"},
    {936, "CP936"},        {949, "CP949"},        {950, "CP950"},
    {1026, "IBM1026"},     {1047, "IBM1047"},     {1140, "IBM1140"},
    {1141, "IBM1141"},     {1142, "IBM1142"},     {1143, "IBM1143"},
    {1144, "IBM1144"},     {1145, "IBM1145"},     {1146, "IBM1146"},
    {1147, "IBM1147"},     {1148, "IBM1148"},     {1149, "IBM1149"},
    {1200, "UTF-16LE"},    {1250, "CP1250"},      {1251, "CP1251"},
    {1252, "CP1252"},      {1253, "CP1253"},      {1254, "CP1254"},
    {1255, "CP1255"},      {1256, "CP1256"},      {1257, "CP1257"},
    {1258, "CP1258"},      {1361, "JOHAB"},       {10000, "MACINTOSH"},
    {10007, "MAC-CYRILLIC"}, {10017, "MAC-UK"},   {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},     {20105, "ISO_646.IRV:1991"}, {20106, "DIN_66003"},
    {20107, "SEN_850200_B"}, {20108, "NS_4551-1"}, {20127, "ANSI_X3.4-1968"},
    {20261, "T.61-8BIT"},  {20269, "ISO_6937"},   {20273, "IBM273"},
    {20277, "IBM277"},     {20278, "IBM278"},     {20280, "IBM280"},
    {20284, "IBM284"},     {20285, "IBM285"},     {20290, "IBM290"},
    {20297, "IBM297"},     {20420, "IBM420"},     {20423, "IBM423"},
    {20424, "IBM424"},     {20866, "KOI8-R"},     {20871, "IBM871"},
    {20880, "IBM880"},     {20905, "IBM905"},     {20936, "GB2312"},
    {20949, "EUC-KR"},     {21025, "IBM1025"},    {21866, "KOI8-U"},
    {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"}, {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"}, {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {38598, "ISO-8859-8"},
    {50227, "ISO-2022-CN"}, {50930, "IBM930"},    {50933, "IBM933"},
    {50935, "IBM935"},     {50937, "IBM937"},     {50939, "IBM939"},
    {51932, "EUC-JP"},     {51936, "EUC-CN"},     {51949, "EUC-KR"},
    {51950, "EUC-TW"},     {65001, "UTF-8"},
};

const char* IconvNameOf(unsigned code_page) {
  auto it = std::lower_bound(std::begin(kIconvNames), std::end(kIconvNames), code_page,
                             [](const IconvName& e, unsigned cp) { return e.code_page < cp; });
  return it != std::end(kIconvNames) && it->code_page == code_page ? it->name : nullptr;
}

// An open conversion descriptor, closed by the destructor.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the character that starts at `p` in the source encoding, for skipping one
// character that could not be converted.
std::size_t SkipLength(unsigned from, const unsigned char* p, std::size_t left) {
  if (from == kCodePageUtf16Le) {
    if (left >= 4 && (p[1] & 0xFC) == 0xD8 && (p[3] & 0xFC) == 0xDC) return 4;
    return left >= 2 ? 2 : left;
  }
  if (from == kCodePageUtf8) {
    std::size_t n = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC0 ? 2 : 1;
    std::size_t i = 1;
    while (i < n && i < left && (p[i] & 0xC0) == 0x80) ++i;
    return i;
  }
  return 1;
}

// The target's "?" in its initial shift state, used for whatever cannot be converted.
std::string QuestionMark(const char* to_name) {
  Converter q(to_name, "ASCII");
  if (!q.ok()) return "?";
  char in[1] = {'?'};
  char out[16];
  char* ip = in;
  char* op = out;
  std::size_t il = 1, ol = sizeof out;
  if (iconv(q.get(), &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) return "?";
  iconv(q.get(), nullptr, nullptr, &op, &ol);
  return std::string(out, static_cast<std::size_t>(op - out));
}

// One pass of iconv over a text into a growing output. Every step either consumes input,
// grows the output up to a fixed limit, or ends the pass, so a pass always ends.
class IconvPass {
 public:
  IconvPass(const char* to_name, const char* from_name, unsigned from, std::size_t input_size)
      : cd_(to_name, from_name), from_(from), question_(QuestionMark(to_name)),
        // No character of any source grows beyond 16 bytes per input byte in any target,
        // shift sequences included.
        limit_(input_size * 16 + 256) {
    output_.resize(input_size + input_size / 2 + 16);
  }
  bool ok() const { return cd_.ok(); }

  bool Run(std::string_view input, std::string& output) {
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    bool ended = false;
    while (in_left > 0) {
      if (Call(&in, &in_left) != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        if (!Grow()) return false;
        continue;
      }
      // EILSEQ: a malformed or unmappable character is skipped; EINVAL: the text ends
      // inside a character. Either becomes one "?".
      std::size_t skip = errno == EINVAL ? in_left
                                         : SkipLength(from_, reinterpret_cast<unsigned char*>(in), in_left);
      skip = std::min(std::max<std::size_t>(skip, 1), in_left);
      in += skip;
      in_left -= skip;
      if (!Replace()) {
        in_left = 0;
        ended = true;
      }
    }
    // A source with state (1255 and 1258 combine characters) may still hold one back; when
    // it cannot be written, a "?" stands for it and the conversion ends.
    if (!ended && !Flush()) Append(question_);
    output_.resize(used_);
    output.swap(output_);
    return true;
  }

 private:
  std::size_t Call(char** in, std::size_t* in_left) {
    char* out = &output_[used_];
    std::size_t out_left = output_.size() - used_;
    std::size_t r = iconv(cd_.get(), in, in_left, &out, &out_left);
    used_ = static_cast<std::size_t>(out - output_.data());
    return r;
  }
  bool Grow() {
    if (output_.size() >= limit_) return false;
    output_.resize(std::min(output_.size() * 2 + 16, limit_));
    return true;
  }
  // Writes what the converter holds back and returns the target to its initial shift
  // state. False when it cannot.
  bool Flush() {
    for (;;) {
      if (Call(nullptr, nullptr) != static_cast<std::size_t>(-1)) return true;
      if (errno != E2BIG || !Grow()) return false;
    }
  }
  void Append(const std::string& bytes) {
    if (output_.size() - used_ < bytes.size()) output_.resize(used_ + bytes.size());
    output_.replace(used_, bytes.size(), bytes);
    used_ += bytes.size();
  }
  // The "?" is written in the target's initial state, so a target that shifts between
  // single- and double-byte modes does not read it as half of a double-byte character.
  // False when the state cannot be reset: the conversion then ends.
  bool Replace() {
    bool reset = Flush();
    Append(question_);
    return reset;
  }

  Converter cd_;
  unsigned from_;
  std::string question_;
  std::size_t limit_;
  std::string output_;
  std::size_t used_ = 0;
};

bool ConvertOnce(unsigned from, unsigned to, std::string_view input, std::string& output) {
  IconvPass pass(IconvNameOf(to), IconvNameOf(from), from, input.size());
  if (!pass.ok()) return false;
  if (!pass.Run(input, output)) {
    output.clear();
    return false;
  }
  return true;
}

bool IsUnicode(unsigned code_page) { return code_page == kCodePageUtf8 || code_page == kCodePageUtf16Le; }

// ASCII reads the same in UTF-8 and in UTF-16: most texts (paths, host names, keys) need
// no converter, whose opening costs more than the conversion. False, with `output`
// untouched, when the text is not plain ASCII.
bool ConvertAsciiBetweenUnicodeForms(unsigned from, unsigned to, std::string_view input,
                                     std::string& output) {
  if (from == kCodePageUtf8 && to == kCodePageUtf16Le) {
    for (unsigned char c : input)
      if (c >= 0x80) return false;
    output.resize(input.size() * 2);
    for (std::size_t i = 0; i < input.size(); ++i) {
      output[2 * i] = input[i];
      output[2 * i + 1] = '\0';
    }
    return true;
  }
  if (from == kCodePageUtf16Le && to == kCodePageUtf8 && input.size() % 2 == 0) {
    for (std::size_t i = 0; i < input.size(); i += 2)
      if (static_cast<unsigned char>(input[i]) >= 0x80 || input[i + 1] != '\0') return false;
    output.resize(input.size() / 2);
    for (std::size_t i = 0; i < output.size(); ++i) output[i] = input[2 * i];
    return true;
  }
  return false;
}

}  // namespace

unsigned SystemCodePage() { return kCodePageUtf8; }

namespace {

// Whether a byte starts a two-byte character of a code page other than UTF-8 (tests name
// them): a byte that the converter takes for an unfinished character when it stands alone.
// A code page without a converter is read byte by byte.
class LeadByteTest {
 public:
  explicit LeadByteTest(unsigned code_page)
      : converter_(IconvNameOf(kCodePageUtf16Le),
                   IconvNameOf(code_page) ? IconvNameOf(code_page) : "ASCII") {}
  bool operator()(unsigned char byte) {
    if (!converter_.ok()) return false;
    char in[1] = {static_cast<char>(byte)};
    char out[16];
    char* ip = in;
    char* op = out;
    std::size_t in_left = 1, out_left = sizeof out;
    iconv(converter_.get(), nullptr, nullptr, nullptr, nullptr);
    return iconv(converter_.get(), &ip, &in_left, &op, &out_left) == static_cast<std::size_t>(-1) &&
           errno == EINVAL;
  }

 private:
  Converter converter_;
};

}  // namespace

std::size_t FindCharacter(std::string_view text, char wanted, Occurrence which,
                          unsigned code_page) {
  // The system's own UTF-8: no byte of a longer character is below 0x80.
  if (code_page == kCodePageUtf8) {
    return which == Occurrence::kFirst ? text.find(wanted) : text.rfind(wanted);
  }
  LeadByteTest is_lead_byte(code_page);
  return ScanForCharacter(text, wanted, which, std::ref(is_lead_byte));
}

std::size_t LastCharacterStart(std::string_view text, unsigned code_page) {
  if (code_page == kCodePageUtf8) {
    return FindLastCharacterStart(text, code_page, [](unsigned char) { return false; });
  }
  LeadByteTest is_lead_byte(code_page);
  return FindLastCharacterStart(text, code_page, std::ref(is_lead_byte));
}

bool ConvertCodePage(unsigned from, unsigned to, std::string_view input, std::string& output) {
  output.clear();
  if (!IconvNameOf(from) || !IconvNameOf(to)) return false;
  if (from == to) {
    output.assign(input);
    return true;
  }
  if (ConvertAsciiBetweenUnicodeForms(from, to, input, output)) return true;
  if (IsUnicode(from) || IsUnicode(to)) return ConvertOnce(from, to, input, output);
  // Between two code pages the text passes through UTF-8, as Windows passes it through
  // UTF-16: a source that holds characters back then never meets a target that cannot
  // take them, and each side's failures are handled on their own.
  std::string unicode;
  return ConvertOnce(from, kCodePageUtf8, input, unicode) &&
         ConvertOnce(kCodePageUtf8, to, unicode, output);
}

}  // namespace vemtu::platform
