#include "interrupt_cleanup.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "iwcxhead/wcxhead.h"
#include "os/os.h"

namespace tvx::cli {

namespace {

using os::kPathCapacity;
constexpr int kSideFiles = 9;  // <archive>.tvxnew, .tvxnew2 ... .tvxnew9
char g_folder[kPathCapacity];
char g_side_files[kSideFiles][kPathCapacity];
// The archive a PackFiles or DeleteFiles call changes, as it was before.
char g_archive[kPathCapacity];
os::FileSnapshot g_archive_before;
// The file an extraction writes (the target or its partial file) while the
// module writes it.
char g_extracted_file[kPathCapacity];
std::atomic<bool> g_extracted_link_free{false};
std::atomic<bool> g_cleaning{false};
// The first signal's number: the work stops at the module's next report.
std::atomic<int> g_signal{0};

// Notes the first signal; true when one was noted before (the second asks
// not to wait).
bool NoteSignal(int signalNumber) {
  int none = 0;
  return !g_signal.compare_exchange_strong(none, signalNumber);
}

// The first character goes last: a handler that runs in between sees an empty
// path, never a new start on an old end (which could name another file).
bool CopyPath(char* to, const std::string& from) {
  if (from.empty() || from.size() + 1 > kPathCapacity) return false;
  std::memcpy(to + 1, from.c_str() + 1, from.size());
  std::atomic_thread_fence(std::memory_order_seq_cst);
  to[0] = from[0];
  return true;
}

// Once the archive is no longer what it was, the module is putting the new
// one in its place: overwritten in place (the last resort), the finished new
// archive in the temporary folder may be the only whole copy.
bool ArchiveChanged() {
  if (!g_archive[0]) return false;
  return os::FileChangedSince(g_archive, g_archive_before);
}

void CleanUp() {
  if (g_cleaning.exchange(true)) return;
  if (g_folder[0]) {
    if (!ArchiveChanged()) os::RemoveFolderContents(g_folder);
    os::RemoveFolder(g_folder);
  }
  for (char* side : g_side_files)
    if (side[0]) os::RemoveFile(side);
  if (g_extracted_file[0]) {
    // A folder swapped for a link since keeps what is behind it.
    if (g_extracted_link_free)
      os::RemoveFileLinkFree(g_extracted_file);
    else
      os::RemoveFile(g_extracted_file);
  }
}

// How a handler ends the process: with what the work left removed, and the
// status that tells the signal.
int CleanUpForExit() {
  CleanUp();
  return 128 + g_signal.load();
}

void RecordArchive(const std::string& archive) {
  g_archive[0] = '\0';
  g_archive_before = os::SnapshotFile(archive.c_str());
  CopyPath(g_archive, archive);
}

}  // namespace

InterruptCleanup::InterruptCleanup() {
  std::memset(g_side_files, 0, sizeof g_side_files);
  g_extracted_file[0] = '\0';
  g_archive[0] = '\0';
  g_folder[0] = '\0';
  folder_ = os::MakeTempFolder();
  if (!folder_.empty() && CopyPath(g_folder, folder_)) {
    os::PointTempAt(folder_);
  } else {
    folder_.clear();
  }
  os::InstallInterruptHandlers({NoteSignal, CleanUpForExit});
}

int InterruptCleanup::Signal() { return g_signal.load(); }

bool InterruptCleanup::StoppedTheCall(int result) {
  if (g_signal.load() == 0) return false;
  if (result == E_EABORTED) return true;
  g_signal.store(0);
  return false;
}

int InterruptExitStatus(int status) {
  const int signalNumber = g_signal.load();
  return signalNumber != 0 ? 128 + signalNumber : status;
}

InterruptCleanup::~InterruptCleanup() {
  // What the command said goes out first: a signal after the handlers are
  // gone ends the process the default way, without flushing stdio.
  std::fflush(stdout);
  os::RemoveInterruptHandlers();
  // Side files of a finished call are the module's business, and so is what
  // it left in the folder: only a finished new archive it could not put in
  // the old one's place (KeptFiles).
  std::memset(g_side_files, 0, sizeof g_side_files);
  g_extracted_file[0] = '\0';
  g_archive[0] = '\0';
  if (g_folder[0]) os::RemoveFolder(g_folder);
}

std::vector<std::string> InterruptCleanup::KeptFiles() const {
  std::vector<std::string> kept;
  std::error_code ec;
  if (folder_.empty()) return kept;
  for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    kept.push_back(it->path().string());
  }
  return kept;
}

void InterruptCleanup::WatchSideFilesOf(const std::string& archive) {
  RecordArchive(archive);
  std::error_code ec;
  for (int n = 0; n < kSideFiles; ++n) {
    const std::string side = archive + ".tvxnew" + (n == 0 ? std::string() : std::to_string(n + 1));
    g_side_files[n][0] = '\0';
    if (!std::filesystem::exists(std::filesystem::symlink_status(side, ec))) CopyPath(g_side_files[n], side);
  }
}

void InterruptCleanup::WatchExtractionTo(const std::string& target, bool absent, bool linkFree) {
  ExtractionDone();
  g_extracted_link_free = linkFree;
  if (absent) {
    CopyPath(g_extracted_file, target);
    return;
  }
  // A new name is written in place; an existing one is replaced through the
  // first free partial name, as the module picks it.
  std::error_code ec;
  for (int n = 0; n <= kSideFiles; ++n) {
    const std::string file =
        n == 0 ? target : target + ".tvxpart" + (n == 1 ? std::string() : std::to_string(n));
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
      CopyPath(g_extracted_file, file);
      return;
    }
  }
}

void InterruptCleanup::ExtractionDone() { g_extracted_file[0] = '\0'; }

}  // namespace tvx::cli
