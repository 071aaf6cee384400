#include "streams/file_stream.h"

namespace tvx {

namespace {

// Moves to an absolute position of up to 4 GiB; a single seek from the begin
// takes only a signed 32-bit offset.
bool SeekTo(platform::SystemFile& file, uint32_t target) {
  constexpr uint32_t kMaxStep = 0x7FFFFFFFu;
  if (target <= kMaxStep) return file.Seek(static_cast<int32_t>(target), kFromBegin) == target;
  if (file.Seek(static_cast<int32_t>(kMaxStep), kFromBegin) != kMaxStep) return false;
  return file.Seek(static_cast<int32_t>(target - kMaxStep), kFromCurrent) == target;
}

}  // namespace

bool FileStream::MoveTo(uint64_t target) {
  if (target == position_) return true;
  if (target > kLastValidPosition || !SeekTo(*file_, static_cast<uint32_t>(target))) {
    position_ = kUnknown;  // a two-step seek may have stopped half-way
    return false;
  }
  position_ = target;
  return true;
}

void FileStream::Advance(uint32_t moved) {
  if (position_ != kUnknown) position_ += moved;
}

Placement FileStream::TrySeek(int32_t offset, SeekOrigin origin) {
  if (!IsOpen()) return NotPlaced();
  if (origin != kFromBegin && (origin != kFromCurrent || position_ == kUnknown)) {
    // The end, or a position lost to a failed seek: the system knows.
    const uint32_t moved = file_->Seek(offset, origin);
    if (moved == platform::kAllBits) {
      position_ = kUnknown;
      return NotPlaced();
    }
    position_ = moved;
    return Landed(moved);
  }
  // Refused targets leave the position where it was, as the file would.
  uint32_t target;
  if (!SeekTarget(offset, origin, position_, 0, target) || !MoveTo(target)) return NotPlaced();
  return Landed(target);
}

uint32_t FileStream::Size() {
  if (!IsOpen()) return 0;
  if (kind_ != Kind::kReadOnly) return file_->Size();
  return facts_.size < 0 ? 0 : static_cast<uint32_t>(facts_.size);  // the low 32 bits, as the file gives
}

bool FileStream::SetSize(uint32_t n) {
  if (kind_ == Kind::kReadOnly || !IsOpen()) return false;
  const Placement at = TryPosition();
  if (at.failed()) return false;
  const uint32_t previous = at.position;
  if (!MoveTo(n) || !file_->SetEndHere()) return false;
  writtenEnd_ = n;
  // The position ends as the smaller of the old position and n.
  return n <= previous || MoveTo(previous);
}

Transfer FileStream::TryRead(void* buffer, uint32_t count) {
  if (kind_ == Kind::kWriteOnly || count == 0 || !IsOpen()) return Moved(0, count, platform::IoErrorKind::kEnd);
  const uint32_t got = file_->Read(buffer, count);
  Advance(got);  // a read moves the file by exactly what arrived
  return Moved(got, count, platform::IoErrorKind::kEnd);
}

Transfer FileStream::TryWrite(const void* buffer, uint32_t count) {
  return Moved(Write(buffer, count), count, platform::IoErrorKind::kIo);
}

uint32_t FileStream::Write(const void* buffer, uint32_t count) {
  if (kind_ == Kind::kReadOnly || count == 0 || !IsOpen()) return 0;
  const uint32_t written = file_->Write(buffer, count);
  Advance(written);
  if (kind_ != Kind::kWriteOnly) return written;
  // The file must end where this write ended, also after a failed write. A
  // file written front to back already does; otherwise it is cut, and an uncut
  // file may carry stale bytes, so a failed cut fails the write.
  if (position_ == kUnknown || position_ < writtenEnd_) {
    if (!file_->SetEndHere()) return 0;
  }
  writtenEnd_ = position_;
  return written;
}

std::unique_ptr<FileStream> OpenReadFileStream(platform::System& system, const std::string& path) {
  platform::File::Facts facts;
  platform::IoError error;
  std::unique_ptr<platform::SystemFile> file = system.OpenFile(path, platform::File::Mode::kRead, &facts, &error);
  return std::unique_ptr<FileStream>(new FileStream(std::move(file), error, FileStream::Kind::kReadOnly, facts));
}

std::unique_ptr<FileStream> CreateWriteFileStream(platform::System& system, const std::string& path) {
  platform::IoError error;
  std::unique_ptr<platform::SystemFile> file = system.OpenFile(path, platform::File::Mode::kCreateWrite, nullptr, &error);
  return std::unique_ptr<FileStream>(new FileStream(std::move(file), error, FileStream::Kind::kWriteOnly));
}

std::unique_ptr<FileStream> CreateNewWriteFileStream(platform::System& system, const std::string& path,
                                                     bool replacing) {
  return CreateNewWriteFileStream(system, path,
                                  replacing ? platform::File::Mode::kCreatePrivate : platform::File::Mode::kCreateNew);
}

std::unique_ptr<FileStream> CreateNewWriteFileStream(platform::System& system, const std::string& path,
                                                     platform::File::Mode mode) {
  platform::IoError error;
  std::unique_ptr<platform::SystemFile> file = system.OpenFile(path, mode, nullptr, &error);
  return std::unique_ptr<FileStream>(new FileStream(std::move(file), error, FileStream::Kind::kWriteOnly));
}

std::unique_ptr<FileStream> OpenReadWriteFileStream(platform::System& system, const std::string& path) {
  platform::IoError error;
  std::unique_ptr<platform::SystemFile> file = system.OpenFile(path, platform::File::Mode::kReadWrite, nullptr, &error);
  return std::unique_ptr<FileStream>(new FileStream(std::move(file), error, FileStream::Kind::kReadWrite));
}

}  // namespace tvx
