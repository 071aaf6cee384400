#include "terminal_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "os/os.h"

namespace tvx::cli {

namespace {

void AppendEscaped(std::string& out, unsigned char c) {
  char esc[8];
  std::snprintf(esc, sizeof esc, "\\x%02x", c);
  out += esc;
}

}  // namespace

size_t Utf8SequenceLength(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;   // shorter forms are overlong
    if (c == 0xED) high = 0x9F;  // U+D800..U+DFFF are surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF
  }
  if (n == 0 || i + n > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  return n;
}

std::string TerminalSafe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      AppendEscaped(out, c);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const size_t n = Utf8SequenceLength(text, i)) {
      const unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (c == 0xC2 && next < 0xA0) {  // U+0080..U+009F
        AppendEscaped(out, c);
        AppendEscaped(out, next);
      } else {
        out.append(text, i, n);
      }
      i += n - 1;
    } else {
      // A terminal in an 8-bit mode reads 0x80..0x9F as C1 controls (0x9B
      // starts a sequence). Windows names are in the ANSI code page, where
      // these bytes are letters.
      if (!os::kWindows && c < 0xA0) {
        AppendEscaped(out, c);
        continue;
      }
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string FromTerminalSafe(const std::string& text) {
  const auto hex = [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) ? (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10) : -1;
  };
  // Only bytes TerminalSafe escapes are read back: "lib\x64" is a name of its
  // own, never "libd".
  const auto escapable = [](int b) { return b < 0x20 || b == 0x7F || (b >= 0x80 && b < 0xA0) || b == 0xC2; };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const int byte = i + 3 < text.size() && text.compare(i, 2, "\\x") == 0 && hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0
                         ? hex(text[i + 2]) * 16 + hex(text[i + 3])
                         : -1;
    if (byte >= 0 && escapable(byte)) {
      out += static_cast<char>(byte);
      i += 3;
    } else {
      out += text[i];
    }
  }
  // And only where list shows exactly that (the digits in either case).
  const std::string shown = TerminalSafe(out);
  const bool same = shown.size() == text.size() &&
                    std::equal(shown.begin(), shown.end(), text.begin(), [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                    });
  return same ? out : text;
}

}  // namespace tvx::cli
