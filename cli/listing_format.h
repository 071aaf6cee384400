// The listing as a table for people and as JSON for scripts.
#ifndef TOLVEX_CLI_LISTING_FORMAT_H
#define TOLVEX_CLI_LISTING_FORMAT_H

#include <string>
#include <vector>

#include "archive_reader.h"
#include "host_dialect.h"

namespace tvx::cli {

// "2024-03-05 14:07" for the table.
std::string FormatTableTime(const LocalTime& t);
// "2024-03-05T14:07:09" (local time) for JSON; empty when not valid.
std::string FormatIsoTime(const LocalTime& t);
// Packed size as a share of the size: " 45.2%"; "-" for empty entries.
std::string FormatRatio(int64_t size, int64_t packed);

// A JSON string literal. Bytes that are not well-formed UTF-8 (an overlong
// form, an encoded surrogate, a code point above U+10FFFF, a cut sequence)
// become \u00XX each, so the output stays valid JSON whatever the name; the
// exact bytes travel beside it as HexBytes.
std::string JsonString(const std::string& text);

// Lower-case hex of every byte: "a/b" -> "612f62".
std::string HexBytes(const std::string& bytes);

// A file kept as it was (no compression): nothing but its size can be checked.
bool IsStoredEntry(const ArchiveEntry& e);

std::string FormatListingTable(const HostDialect& d, const std::vector<ArchiveEntry>& entries);
std::string FormatListingJson(const HostDialect& d, const std::vector<ArchiveEntry>& entries);

}  // namespace tvx::cli

#endif
