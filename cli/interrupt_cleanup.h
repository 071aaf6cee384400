// What an interrupted `add` leaves behind, removed on the way out: the module
// gets a temporary folder of tolvex's own (TMPDIR, or TMP and TEMP on
// Windows), and a new archive's side file (<archive>.tvxnew) that did not
// exist before the call. On SIGINT, SIGTERM or SIGHUP (Ctrl-C, Ctrl-Break or
// a closed console on Windows) both go and the process exits with 128 + the
// signal's number.
#ifndef TOLVEX_CLI_INTERRUPT_CLEANUP_H
#define TOLVEX_CLI_INTERRUPT_CLEANUP_H

#include <string>

namespace tvx::cli {

class InterruptCleanup {
 public:
  // Creates the private temporary folder below the system's one and points
  // the environment at it. Folder() is empty when it could not be made; the
  // module then uses the system's folder as before.
  InterruptCleanup();
  // Removes the folder with whatever is left in it.
  ~InterruptCleanup();
  InterruptCleanup(const InterruptCleanup&) = delete;
  InterruptCleanup& operator=(const InterruptCleanup&) = delete;

  const std::string& Folder() const { return folder_; }

  // Before each PackFiles call: the archive's side files that do not exist
  // now are removed when the call is interrupted.
  void WatchSideFilesOf(const std::string& archive);

 private:
  std::string folder_;
};

}  // namespace tvx::cli

#endif
