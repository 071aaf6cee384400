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

// A JSON string literal. Bytes that are not UTF-8 are kept as \u00XX so the
// output stays valid JSON.
std::string JsonString(const std::string& text);

std::string FormatListingTable(const HostDialect& d, const std::vector<ArchiveEntry>& entries);
std::string FormatListingJson(const HostDialect& d, const std::vector<ArchiveEntry>& entries);

}  // namespace tvx::cli

#endif
