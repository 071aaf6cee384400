// Streams over files. Every constructor returns a stream, also when the file
// could not be opened: then IsOpen() is false, reads and writes return 0, the
// size is 0 and every seek returns kStreamError.
#ifndef TOLVEX_STREAMS_FILE_STREAM_H
#define TOLVEX_STREAMS_FILE_STREAM_H

#include <memory>
#include <string>

#include "platform/platform.h"
#include "streams/byte_stream.h"

namespace tvx {

class FileStream : public ByteStream {
 public:
  enum class Kind { kReadOnly, kWriteOnly, kReadWrite };

  FileStream(platform::File file, Kind kind) : file_(std::move(file)), kind_(kind) {}

  uint32_t Seek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override;
  // Remembers the position p, moves to n, cuts there, and moves back to p when
  // n > p. False when the file refused.
  bool SetSize(uint32_t n) override;
  uint32_t Read(void* buffer, uint32_t count) override;    // 0 on a write-only stream
  // On a write-only stream the file is cut after the written bytes, so it
  // always ends where the last write ended. 0 on a read-only stream.
  uint32_t Write(const void* buffer, uint32_t count) override;

  bool IsOpen() const { return file_.IsOpen(); }
  intptr_t Handle() const { return file_.NativeHandle(); }

 private:
  platform::File file_;
  Kind kind_;
};

// An existing file, for reading; others may read it meanwhile.
std::unique_ptr<FileStream> OpenReadFileStream(const std::string& path);
// The file created anew, or emptied when it exists, for writing.
std::unique_ptr<FileStream> CreateWriteFileStream(const std::string& path);
// For reading and writing: an existing file keeps its contents, a missing one
// (or a path naming a directory) is created.
std::unique_ptr<FileStream> OpenReadWriteFileStream(const std::string& path);

}  // namespace tvx

#endif
