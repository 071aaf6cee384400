#include "listing_format.h"

#include <cstdio>

#include "terminal_text.h"

namespace tvx::cli {

namespace {

struct Totals {
  int64_t files = 0, folders = 0, size = 0, packed = 0;
};

Totals Sum(const std::vector<ArchiveEntry>& entries) {
  Totals t;
  for (const ArchiveEntry& e : entries) {
    (e.directory ? t.folders : t.files) += 1;
    t.size += e.size;
    t.packed += e.packed;
  }
  return t;
}

std::string Plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string FormatTableTime(const LocalTime& t) {
  if (!t.valid) return "(unknown time)   ";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return text;
}

std::string FormatIsoTime(const LocalTime& t) {
  if (!t.valid) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string FormatRatio(int64_t size, int64_t packed) {
  if (size <= 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(packed) / static_cast<double>(size));
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (size_t n = Utf8SequenceLength(text, i)) {
      out.append(text, i, n);
      i += n - 1;
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    }
  }
  return out + "\"";
}

bool IsStoredEntry(const ArchiveEntry& e) { return !e.directory && e.size > 0 && e.packed == e.size; }

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0xF];
  }
  return hex;
}

std::string FormatListingTable(const HostDialect& d, const std::vector<ArchiveEntry>& entries) {
  std::string out;
  char line[128];
  std::snprintf(line, sizeof line, "%12s %12s %7s  %-16s  %s\n", "Size", "Packed", "Ratio", "Date       Time", "Name");
  out += line;
  const std::string rule = std::string(12, '-') + ' ' + std::string(12, '-') + ' ' +
                           std::string(7, '-') + "  " + std::string(16, '-') + "  " + std::string(20, '-') + "\n";
  out += rule;
  for (const ArchiveEntry& e : entries) {
    std::snprintf(line, sizeof line, "%12lld %12lld %7s  %-16s  ", static_cast<long long>(e.size),
                  static_cast<long long>(e.packed), FormatRatio(e.size, e.packed).c_str(),
                  FormatTableTime(EntryTime(d, e.fileTime)).c_str());
    out += line;
    out += TerminalSafe(e.name);
    out += '\n';
  }
  out += rule;
  const Totals t = Sum(entries);
  std::snprintf(line, sizeof line, "%12lld %12lld %7s  %-16s  ", static_cast<long long>(t.size),
                static_cast<long long>(t.packed), FormatRatio(t.size, t.packed).c_str(), "");
  out += line;
  out += Plural(t.files, "file", "files") + ", " + Plural(t.folders, "folder", "folders") + "\n";
  return out;
}

std::string FormatListingJson(const HostDialect& d, const std::vector<ArchiveEntry>& entries) {
  std::string out = "{\"entries\": [";
  for (size_t i = 0; i < entries.size(); ++i) {
    const ArchiveEntry& e = entries[i];
    const std::string time = FormatIsoTime(EntryTime(d, e.fileTime));
    out += i ? ",\n  " : "\n  ";
    out += "{\"name\": " + JsonString(e.name) + ", \"size\": " + std::to_string(e.size) +
           ", \"packed\": " + std::to_string(e.packed) +
           ", \"time\": " + (time.empty() ? std::string("null") : JsonString(time)) +
           ", \"dir\": " + (e.directory ? "true" : "false") +
           ", \"stored\": " + (IsStoredEntry(e) ? "true" : "false") + ", \"name_hex\": \"" + HexBytes(e.name) +
           "\"}";
  }
  const Totals t = Sum(entries);
  out += entries.empty() ? "]," : "\n],";
  out += "\n \"totals\": {\"files\": " + std::to_string(t.files) + ", \"folders\": " +
         std::to_string(t.folders) + ", \"size\": " + std::to_string(t.size) +
         ", \"packed\": " + std::to_string(t.packed) + "}}\n";
  return out;
}

}  // namespace tvx::cli
