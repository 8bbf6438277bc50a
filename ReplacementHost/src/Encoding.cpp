#include "Encoding.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "REALplugin.h"

namespace xhost::detail {
namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "ASCII runs are read a word at a time, lowest byte first");

// The length of the run of ASCII bytes `bytes` starts with, read a word at a time.
size_t asciiRun(std::string_view bytes) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  size_t i = 0;
  for (uint64_t word; i + sizeof word <= bytes.size(); i += sizeof word) {
    std::memcpy(&word, bytes.data() + i, sizeof word);
    if (word & kHighBits) break;
  }
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  return i;
}

// Decodes one UTF-8 sequence at `i`; false on an invalid, overlong or surrogate form.
bool nextUtf8(std::string_view bytes, size_t& i, char32_t& out) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char lead = byte(i);
  int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || bytes.size() - i <= static_cast<size_t>(extra)) return false;
  char32_t value = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return false;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  out = value;
  i += extra + 1;
  return true;
}

std::optional<std::u32string> decode(std::string_view bytes, uint32_t encoding) {
  std::u32string text;
  if (encoding == kREALTextEncodingLatin1) {
    for (unsigned char c : bytes) text += static_cast<char32_t>(c);
    return text;
  }
  if (encoding == kREALTextEncodingASCII) {
    for (unsigned char c : bytes) {
      if (c >= 0x80) return std::nullopt;
      text += static_cast<char32_t>(c);
    }
    return text;
  }
  for (size_t i = 0; i < bytes.size();) {
    char32_t c;
    if (!nextUtf8(bytes, i, c)) return std::nullopt;
    text += c;
  }
  return text;
}

std::optional<std::string> encode(const std::u32string& text, uint32_t encoding) {
  std::string bytes;
  char32_t limit = encoding == kREALTextEncodingASCII ? 0x7F : encoding == kREALTextEncodingLatin1 ? 0xFF : 0x10FFFF;
  for (char32_t c : text) {
    if (c > limit) return std::nullopt;
    if (limit <= 0xFF || c < 0x80) {
      bytes += static_cast<char>(c);
    } else if (c < 0x800) {
      bytes += static_cast<char>(0xC0 | (c >> 6));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      bytes += static_cast<char>(0xE0 | (c >> 12));
      bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | (c >> 18));
      bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return bytes;
}

char32_t foldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;  // Latin-1 capitals
  return c;
}

}  // namespace

bool isSupportedEncoding(uint32_t encoding) {
  return encoding == kREALTextEncodingUTF8 || encoding == kREALTextEncodingASCII ||
         encoding == kREALTextEncodingLatin1 || encoding == kREALTextEncodingUnknown;
}

std::string encodingName(uint32_t encoding) {
  switch (encoding) {
    case kREALTextEncodingUTF8:
      return "UTF-8";
    case kREALTextEncodingASCII:
      return "ASCII";
    case kREALTextEncodingLatin1:
      return "Latin-1";
    case kREALTextEncodingUnknown:
      return "unknown encoding";
  }
  char text[32];
  std::snprintf(text, sizeof text, "encoding 0x%X", encoding);
  return text;
}

// The same forms as nextUtf8 accepts, checked by their bytes without decoding.
bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* end = p + bytes.size();
  auto continues = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  while (p < end) {
    const unsigned char lead = *p;
    const ptrdiff_t left = end - p;
    if (lead < 0x80) {
      uint64_t word;
      if (left < static_cast<ptrdiff_t>(sizeof word)) {
        ++p;
        continue;
      }
      std::memcpy(&word, p, sizeof word);
      constexpr uint64_t kHighBits = 0x8080808080808080ull;
      // Skips the ASCII bytes the word starts with (little-endian: the lowest bytes first).
      p += (word & kHighBits) ? static_cast<size_t>(__builtin_ctzll(word & kHighBits)) / 8 : sizeof word;
      continue;
    }
    if (lead < 0xC2) return false;  // a continuation byte, or the lead of an overlong form
    if (lead < 0xE0) {
      if (left < 2 || !continues(p[1])) return false;
      p += 2;
    } else if (lead < 0xF0) {
      if (left < 3 || !continues(p[1]) || !continues(p[2])) return false;
      if ((lead == 0xE0 && p[1] < 0xA0) || (lead == 0xED && p[1] >= 0xA0)) return false;  // overlong; surrogate
      p += 3;
    } else if (lead < 0xF5) {
      if (left < 4 || !continues(p[1]) || !continues(p[2]) || !continues(p[3])) return false;
      if ((lead == 0xF0 && p[1] < 0x90) || (lead == 0xF4 && p[1] >= 0x90)) return false;  // overlong; past U+10FFFF
      p += 4;
    } else {
      return false;
    }
  }
  return true;
}

bool readsUnchanged(std::string_view bytes, uint32_t from, uint32_t to) {
  if (!isSupportedEncoding(from) || !isSupportedEncoding(to)) return false;
  if (to == kREALTextEncodingUnknown) return true;
  // ASCII reads and writes the same in every supported encoding.
  if (asciiRun(bytes) == bytes.size()) return true;
  if (from == kREALTextEncodingLatin1) return to == kREALTextEncodingLatin1;
  return from != kREALTextEncodingASCII && to == kREALTextEncodingUTF8 && isValidUtf8(bytes);
}

std::optional<std::string> convertText(std::string_view bytes, uint32_t from, uint32_t to) {
  if (!isSupportedEncoding(from) || !isSupportedEncoding(to)) return std::nullopt;
  if (to == kREALTextEncodingUnknown) return std::string(bytes);
  if (from == kREALTextEncodingUTF8 && to == kREALTextEncodingUTF8) {
    if (!isValidUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  std::optional<std::u32string> text = decode(bytes, from);
  if (!text) return std::nullopt;
  return encode(*text, to);
}

int compareTexts(std::string_view a, uint32_t encodingA, std::string_view b, uint32_t encodingB) {
  // Bytes that do not decode still compare, byte by byte as Latin-1.
  std::u32string left = decode(a, encodingA).value_or(*decode(a, kREALTextEncodingLatin1));
  std::u32string right = decode(b, encodingB).value_or(*decode(b, kREALTextEncodingLatin1));
  size_t n = std::min(left.size(), right.size());
  for (size_t i = 0; i < n; ++i) {
    char32_t x = foldCase(left[i]), y = foldCase(right[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return left.size() == right.size() ? 0 : left.size() < right.size() ? -1 : 1;
}

}  // namespace xhost::detail
