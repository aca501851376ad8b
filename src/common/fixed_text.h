// Fixed-capacity 8-bit texts: the one way to copy a text into a bounded buffer.
// Every write stops at the capacity (which counts the terminating zero).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace vemtu {

// Copies `text` into `dest` (capacity bytes, terminating zero included), cut at the
// capacity. Returns the number of characters copied.
inline std::size_t CopyCapped(char* dest, std::size_t capacity, std::string_view text) {
  if (capacity == 0) return 0;
  std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  if (n) std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
  return n;
}

// Appends `text` to the zero-terminated text in `dest`, cut at the capacity.
inline std::size_t AppendCapped(char* dest, std::size_t capacity, std::string_view text) {
  std::size_t used = strnlen(dest, capacity);
  if (used >= capacity) return 0;
  return CopyCapped(dest + used, capacity - used, text);
}

// Returns `text` cut to at most `max_chars` characters.
inline std::string_view CutText(std::string_view text, std::size_t max_chars) {
  return text.size() > max_chars ? text.substr(0, max_chars) : text;
}

// A zero-terminated text of at most Capacity - 1 characters, stored in place.
template <std::size_t Capacity>
class FixedText {
 public:
  static constexpr std::size_t kCapacity = Capacity;
  static constexpr std::size_t kMaxChars = Capacity - 1;

  FixedText() { data_[0] = '\0'; }
  FixedText(std::string_view text) { Assign(text); }  // NOLINT: implicit by design

  FixedText& Assign(std::string_view text) {
    size_ = CopyCapped(data_, Capacity, text);
    return *this;
  }
  FixedText& Append(std::string_view text) {
    size_ += CopyCapped(data_ + size_, Capacity - size_, text);
    return *this;
  }
  FixedText& operator=(std::string_view text) { return Assign(text); }
  FixedText& operator+=(std::string_view text) { return Append(text); }
  void Clear() { Assign({}); }

  const char* c_str() const { return data_; }
  std::string_view view() const { return {data_, size_}; }
  std::string str() const { return {data_, size_}; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  operator std::string_view() const { return view(); }  // NOLINT

 private:
  char data_[Capacity];
  std::size_t size_ = 0;
};

// Texts with the same characters compare equal whatever their capacities.
template <std::size_t A, std::size_t B>
bool operator==(const FixedText<A>& a, const FixedText<B>& b) { return a.view() == b.view(); }
template <std::size_t A>
bool operator==(const FixedText<A>& a, std::string_view b) { return a.view() == b; }

// Case-insensitive comparison of ASCII letters, as the agent compares category words,
// file-name prefixes and module names.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// Leading decimal digits of `text` (an optional sign first) as a number; 0 when none.
// Never overflows: values past the int range are clamped.
inline long long LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < 10000000000LL) value = value * 10 + (text[i] - '0');
  }
  if (value > 2147483647LL) value = negative ? 2147483648LL : 2147483647LL;
  return negative ? -value : value;
}

// The decimal digits at the start of `text` as a number: no blanks, no sign; 0 when
// there are none. Values past the int range are clamped to it.
inline long long LeadingDigits(std::string_view text) {
  long long value = 0;
  for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= 2147483647LL) value = value * 10 + (text[i] - '0');
  }
  return value > 2147483647LL ? 2147483647LL : value;
}

}  // namespace vemtu
