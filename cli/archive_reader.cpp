#include "archive_reader.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "console.h"
#include "file_checks.h"
#include "interrupt_cleanup.h"
#include "progress.h"
#include "result_text.h"

namespace tvx::cli {

ArchiveEntry EntryFromHeader(const HostDialect& d, const tHeaderData& header) {
  ArchiveEntry e;
  e.reported.assign(header.FileName, strnlen(header.FileName, sizeof header.FileName));
  e.name = DisplayName(d, e.reported);
  e.key = CanonicalKey(d, e.name);
  e.size = static_cast<uint32_t>(header.UnpSize);
  e.packed = static_cast<uint32_t>(header.PackSize);
  e.fileTime = header.FileTime;
  e.directory = IsDirectoryEntry(d, e.reported, header.FileAttr);
  return e;
}

OpenedArchive::OpenedArchive(const PluginModule& module, const std::string& path, int openMode)
    : module_(module), path_(path) {
  tOpenArchiveData data;
  std::memset(&data, 0, sizeof data);
  data.ArcName = path_.data();
  data.OpenMode = openMode;
  handle_ = module_.open_archive(&data);
  openResult_ = data.OpenResult;
  if (!handle_ && openResult_ == 0) openResult_ = E_EOPEN;
}

OpenedArchive::~OpenedArchive() {
  if (handle_) module_.close_archive(handle_);
}

int OpenedArchive::ReadHeader(tHeaderData& header) {
  std::memset(&header, 0, sizeof header);
  return module_.read_header(handle_, &header);
}

int OpenedArchive::ProcessFile(int operation, const std::string& target) {
  if (target.empty()) return module_.process_file(handle_, operation, nullptr, nullptr);
  std::vector<char> name(target.begin(), target.end());
  name.push_back('\0');
  return module_.process_file(handle_, operation, nullptr, name.data());
}

int OpenedArchive::ProcessFile(int operation, const std::string& folder, const std::string& name) {
  std::vector<char> path(folder.begin(), folder.end());
  path.push_back('\0');
  std::vector<char> below(name.begin(), name.end());
  below.push_back('\0');
  return module_.process_file(handle_, operation, path.data(), below.data());
}

bool ProcessEveryEntry(const PluginModule& module, const std::string& archive, const HostDialect& dialect,
                       int64_t total, bool showProgress,
                       const std::function<void(OpenedArchive&, const ArchiveEntry&)>& onEntry) {
  OpenedArchive opened(module, archive, PK_OM_EXTRACT);
  if (!opened.IsOpen()) {
    ReportError(DescribeResult(opened.OpenResult(), archive));
    return false;
  }
  module.set_process_data_proc(opened.Handle(), ProgressCallback);
  ProgressBegin(total, showProgress);
  for (;;) {
    tHeaderData header;
    const int rc = opened.ReadHeader(header);
    if (rc == E_END_ARCHIVE) break;
    if (rc != 0) {
      ProgressEnd();
      ReportError(DescribeResult(E_BAD_ARCHIVE, archive));
      return false;
    }
    onEntry(opened, EntryFromHeader(dialect, header));
    // Stopped as by Cancel: the archive is closed, which finishes what was
    // extracted before (folder times).
    if (InterruptCleanup::Signal() != 0) break;
  }
  ProgressEnd();
  return true;
}

ListingResult ReadListing(const PluginModule& module, const std::string& archive) {
  ListingResult result;
  OpenedArchive opened(module, archive, PK_OM_LIST);
  if (!opened.IsOpen()) {
    result.code = opened.OpenResult();
    return result;
  }
  module.set_process_data_proc(opened.Handle(), ProgressCallback);
  for (;;) {
    tHeaderData header;
    const int rc = opened.ReadHeader(header);
    if (rc == E_END_ARCHIVE) break;
    if (rc != 0) {
      result.code = rc;
      break;
    }
    result.entries.push_back(EntryFromHeader(NativeDialect(), header));
    opened.ProcessFile(PK_SKIP, std::string());
  }
  return result;
}

bool ReadListingOrReport(const PluginModule& module, const std::string& archive,
                         std::vector<ArchiveEntry>& entries) {
  std::error_code ec;
  const auto status = std::filesystem::status(archive, ec);
  if (!std::filesystem::exists(status)) {
    ReportError("no such archive: " + archive);
    return false;
  }
  if (std::filesystem::is_directory(status)) {
    ReportError("a folder, not an archive: " + archive);
    return false;
  }
  ListingResult listing = ReadListing(module, archive);
  if (listing.code != 0) {
    // A header that cannot be read means the directory is damaged.
    const int code = listing.code == E_BAD_DATA ? E_BAD_ARCHIVE : listing.code;
    ReportError(ArchiveFailureText(code, archive));
    return false;
  }
  entries = std::move(listing.entries);
  return true;
}

}  // namespace tvx::cli
