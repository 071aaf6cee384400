// Streams over files, opened through a System. Every factory returns a stream, also when the file could
// not be opened: then IsOpen() is false, reads and writes move nothing, the size is
// 0 and every seek fails, all with the reason the file could not be opened.
//
// A stream is the only user of its file, so it remembers the file's position
// (and a read-only stream its size) instead of asking the system each time: in
// archives of many small entries those questions cost more than the data.
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

  Placement TrySeek(int32_t offset, SeekOrigin origin) override;
  // A read-only stream gives the size the file had when it was opened: it is
  // not expected to change under it.
  uint32_t Size() override;
  // Remembers the position p, moves to n, cuts there, and moves back to p when
  // n > p. False when the file refused.
  bool SetSize(uint32_t n) override;
  Transfer TryRead(void* buffer, uint32_t count) override;    // nothing on a write-only stream
  // On a write-only stream the file always ends where the last write ended: a
  // write that ends before the file's end cuts it there, and a failed cut
  // fails the write. Nothing on a read-only stream.
  Transfer TryWrite(const void* buffer, uint32_t count) override;

  // A read-only stream's file as it was opened: full size and last-write time.
  const platform::File::Facts& OpenedFacts() const { return facts_; }

  // Makes what was written durable. False when the system refused.
  bool Flush() { return file_ != nullptr && file_->Flush(); }
  // Sets the file's last write (a wall-clock time) once it is written.
  bool TakeAccessOf(const std::string& path) { return file_ != nullptr && file_->TakeAccessOf(path); }
  bool SetModifiedWallClockTime(int64_t wallClockSeconds) {
    return file_ != nullptr && file_->SetModifiedWallClockTime(wallClockSeconds);
  }

  bool IsOpen() const { return file_ != nullptr; }
  // A stream that could not be opened tells why.
  platform::IoError LastError() const override { return file_ ? file_->LastError() : openError_; }

 private:
  friend std::unique_ptr<FileStream> OpenReadFileStream(platform::System& system, const std::string& path);
  friend std::unique_ptr<FileStream> CreateWriteFileStream(platform::System& system, const std::string& path);
  friend std::unique_ptr<FileStream> CreateNewWriteFileStream(platform::System& system, const std::string& path,
                                                              platform::File::Mode mode);
  friend std::unique_ptr<FileStream> OpenReadWriteFileStream(platform::System& system, const std::string& path);

  // A write-only stream starts on an empty file.
  FileStream(std::unique_ptr<platform::SystemFile> file, const platform::IoError& openError, Kind kind,
             const platform::File::Facts& facts = platform::File::Facts())
      : file_(std::move(file)), openError_(openError), kind_(kind), facts_(facts) {}

  // Moves the file to target when it is not there already.
  bool MoveTo(uint64_t target);
  // The bytes written.
  uint32_t Write(const void* buffer, uint32_t count);
  // After a read or write of `moved` bytes.
  void Advance(uint32_t moved);

  static constexpr uint64_t kUnknown = ~uint64_t{0};

  std::unique_ptr<platform::SystemFile> file_;  // null when it could not be opened
  platform::IoError openError_;
  Kind kind_;
  uint64_t position_ = 0;        // kUnknown when a failed seek left it in doubt
  uint64_t writtenEnd_ = 0;      // write-only: where the file ends
  platform::File::Facts facts_;  // read-only: taken when it was opened
};

// An existing file, for reading; others may read it meanwhile.
std::unique_ptr<FileStream> OpenReadFileStream(platform::System& system, const std::string& path);
// The file created anew, or emptied when it exists, for writing.
std::unique_ptr<FileStream> CreateWriteFileStream(platform::System& system, const std::string& path);
// A file that did not exist, created for writing; not open when anything
// (a file, a folder) already has that name. replacing: it is to take another
// file's place, and is owner-only until given that file's mode.
std::unique_ptr<FileStream> CreateNewWriteFileStream(platform::System& system, const std::string& path,
                                                     bool replacing = false);
// The same in one of the modes that create a new file (kCreateNew, kCreatePrivate, kCreateNewLinkFree).
std::unique_ptr<FileStream> CreateNewWriteFileStream(platform::System& system, const std::string& path,
                                                     platform::File::Mode mode);
// For reading and writing: an existing file keeps its contents, a missing one
// (or a path naming a directory) is created.
std::unique_ptr<FileStream> OpenReadWriteFileStream(platform::System& system, const std::string& path);

}  // namespace tvx

#endif
