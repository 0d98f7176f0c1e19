#include "base/text/plain_text.h"

#include <cstdio>

namespace {

// Decodes the UTF-8 sequence at text[i]; false for an invalid one (overlong, surrogate,
// beyond U+10FFFF, cut short), with `length` then 1.
bool Decode(std::string_view text, std::size_t i, char32_t& c, std::size_t& length) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(i);
  length = 1;
  if (b < 0x80) {
    c = b;
    return true;
  }
  std::size_t n = 0;
  char32_t least = 0;
  if ((b & 0xE0) == 0xC0) {
    n = 1, c = b & 0x1F, least = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    n = 2, c = b & 0x0F, least = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    n = 3, c = b & 0x07, least = 0x10000;
  } else {
    return false;
  }
  if (i + n >= text.size()) return false;
  for (std::size_t k = 1; k <= n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return false;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  length = n + 1;
  return true;
}

bool Bidi(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool Control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::string Hex(const char* format, unsigned value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

bool IsUnsafeCodePoint(char32_t c) {
  return Control(c) || Bidi(c) || c == 0x2028 || c == 0x2029 || c == 0x00AD || c == 0x180E ||
         (c >= 0x200B && c <= 0x200D) || (c >= 0x2060 && c <= 0x2064) || (c >= 0x206A && c <= 0x206F) || c == 0xFEFF ||
         (c >= 0xFFF9 && c <= 0xFFFB) || c == 0xE0001 || (c >= 0xE0020 && c <= 0xE007F);
}

std::string UnsafeCodePointText(char32_t c) {
  const char* kind = Control(c)                    ? "řídicí znak"
                     : Bidi(c)                     ? "znak pro směr textu"
                     : c == 0x2028 || c == 0x2029 ? "oddělovač řádků"
                                                   : "neviditelný formátovací znak";
  return Hex("U+%04X", unsigned(c)) + " (" + kind + ")";
}

bool FindUnsafeText(std::string_view text, std::string& what, bool tabs) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t length = 1;
    if (!Decode(text, i, c, length)) {
      what = Hex("neplatný bajt 0x%02X (není UTF-8)", static_cast<unsigned char>(text[i]));
      return true;
    }
    if (IsUnsafeCodePoint(c) && !(tabs && c == '\t')) {
      what = UnsafeCodePointText(c);
      return true;
    }
    i += length;
  }
  return false;
}

std::string UnsafeTextProblem(std::string_view label, std::string_view text) {
  std::string what;
  if (!FindUnsafeText(text, what, false)) return {};
  return std::string(label) + " obsahuje nedovolený znak " + what + ".";
}

std::string ShownText(std::string_view text, std::size_t most) {
  std::string out;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < text.size(); ++shown) {
    if (shown == most) return out + "…";
    char32_t c = 0;
    std::size_t length = 1;
    if (!Decode(text, i, c, length))
      out += Hex("\\x%02X", static_cast<unsigned char>(text[i]));
    else if (IsUnsafeCodePoint(c))
      out += c < 0x100 ? Hex("\\x%02X", unsigned(c)) : Hex("\\u{%04X}", unsigned(c));
    else
      out.append(text.substr(i, length));
    i += length;
  }
  return out;
}
