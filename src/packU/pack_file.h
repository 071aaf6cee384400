// Writing one file's content into an archive being built.
#ifndef TOLVEX_PACKU_PACK_FILE_H
#define TOLVEX_PACKU_PACK_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "packU/status.h"
#include "packU/work_progress.h"
#include "platform/platform.h"
#include "streams/byte_stream.h"

namespace tvx {

struct PackedContent {
  int32_t unpackedSize = 0;  // bytes read from the file
  int32_t packedSize = 0;    // bytes written to the archive
  int64_t wallClock = platform::kNoWallClock;  // the opened file's last write (FileWallClockTime)
  platform::FileStamp stamp;       // the opened file's size and last write; size -1 when not opened
};

// Sources read ahead while they were looked at (System::LookAtSource), in the
// order they are packed. While one lives, PackFileContent on its thread takes
// the next of them when it packs that file, instead of opening it again; any
// other file it opens as always. One per pack, on the stack of its thread.
class ReadAheadSources {
 public:
  ReadAheadSources();
  ~ReadAheadSources();
  ReadAheadSources(const ReadAheadSources&) = delete;
  ReadAheadSources& operator=(const ReadAheadSources&) = delete;

  // Both are borrowed and must outlive this; readAhead is emptied when taken.
  void Add(const std::string& path, platform::ReadAhead& readAhead);
  // The next source read ahead, when it is path's (read false otherwise).
  platform::ReadAhead Take(const std::string& path);

 private:
  struct Source {
    const std::string* path;
    platform::ReadAhead* readAhead;
  };
  std::vector<Source> sources_;
  size_t next_ = 0;
  ReadAheadSources* outer_;  // the one this thread used before
};

// Writes the file at sourcePath (opened through system) to output at its current position: deflated at
// level 9 when that is strictly shorter than the file, else stored. The output
// ends right after the bytes written (a longer compressed attempt is cut
// away). A file that cannot be opened gives an empty entry when it has no
// size (it vanished, or is empty) and kReadFailed otherwise. The file's size is
// taken when it is opened, and all of those bytes must arrive; so is its time. Output positions
// must stay within maxEnd (kTooLarge otherwise). The bytes read are reported
// to meter piece by piece as they are worked on, all but the last piece,
// which the caller reports once the file is closed (a host may look at it
// then); kCancelled when it says stop.
Status PackFileContent(platform::System& system, const std::string& sourcePath, ByteStream& output, uint32_t maxEnd,
                       EntryMeter& meter, PackedContent& result);

}  // namespace tvx

#endif
