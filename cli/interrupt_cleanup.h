// Stopping add, delete, extract and test on SIGINT, SIGTERM or SIGHUP
// (Ctrl-C, Ctrl-Break or a closed console on Windows) the way the file
// manager's Cancel does: the signal is noted, the progress callback answers 0
// at the module's next report, the module stops and removes what it wrote of
// the unfinished work, the command returns, and the process exits with 128 +
// the signal's number (InterruptExitStatus).
//
// A second signal does not wait: what the first would have left is removed on
// the spot and the process exits at once. That is the module's temporary
// folder of tolvex's own (TMPDIR, or TMP and TEMP on Windows), a new
// archive's side file (<archive>.tvxnew) that did not exist before the call,
// and the file being extracted or its partial file.
#ifndef TOLVEX_CLI_INTERRUPT_CLEANUP_H
#define TOLVEX_CLI_INTERRUPT_CLEANUP_H

#include <string>
#include <vector>

namespace tvx::cli {

class InterruptCleanup {
 public:
  // Creates the private temporary folder below the system's one and points
  // the environment at it. Folder() is empty when it could not be made; the
  // module then uses the system's folder as before.
  InterruptCleanup();
  // Removes the folder when the module left nothing in it.
  ~InterruptCleanup();
  InterruptCleanup(const InterruptCleanup&) = delete;
  InterruptCleanup& operator=(const InterruptCleanup&) = delete;

  const std::string& Folder() const { return folder_; }

  // The number of the signal that asks to stop, 0 while none came.
  static int Signal();

  // After a call of the module while a signal was noted: whether the signal
  // stopped it (E_EABORTED). A call that finished all the same, the signal
  // having come after its last report, did its work: the signal is then
  // forgotten, so the command reports that work as done.
  static bool StoppedTheCall(int result);

  // What the module left in the folder after a failed call: a finished new
  // archive it could not put in the old one's place.
  std::vector<std::string> KeptFiles() const;

  // Before each PackFiles or DeleteFiles call: the archive's side files that
  // do not exist now are removed when a second signal cuts the call short, and
  // so is the folder's content unless the archive has changed since (it is
  // then being replaced, perhaps overwritten from the folder's new archive).
  void WatchSideFilesOf(const std::string& archive);

  // Around each extraction of a file: what the module will write for target
  // (target itself when it does not exist, else its first free .tvxpart
  // name) is removed when a second signal cuts the extraction short, so that
  // no cut file stays under a name of the archive's. absent: the caller has
  // just found target missing, so it is not asked again.
  // linkFree: the destination's path has no link (os::ResolvesWithoutLinks),
  // so the file is removed refusing links on the way.
  void WatchExtractionTo(const std::string& target, bool absent = false, bool linkFree = false);
  void ExtractionDone();

 private:
  std::string folder_;
};

// 128 + the signal's number after a signal asked to stop, else status.
int InterruptExitStatus(int status);

}  // namespace tvx::cli

#endif
