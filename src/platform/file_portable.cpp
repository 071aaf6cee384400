// What File does the same way on every system: it is the sole owner of one
// handle, handed on by moving and closed by its destructor; it checks a
// seek's target before it moves, and repeats a read or write until it is
// whole. Opening, closing, each single transfer and the questions a seek asks
// are the system's (posix.cpp, win32.cpp).
#include "platform/platform.h"

namespace tvx::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

UpdateLock::~UpdateLock() { Release(); }

UpdateLock::UpdateLock(UpdateLock&& other) noexcept : handle_(other.handle_), identity_(other.identity_) {
  other.handle_ = -1;
}

UpdateLock& UpdateLock::operator=(UpdateLock&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = other.handle_;
    identity_ = other.identity_;
    other.handle_ = -1;
  }
  return *this;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

// A disk file usually delivers everything in one call; the loop covers pipes,
// signals and reads beyond the system's largest single transfer.
uint32_t File::Read(void* buffer, uint32_t count) {
  if (!IsOpen()) return 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const uint32_t got = ReadOnce(bytes + done, count - done);
    if (got == 0) break;  // end of file, or an error after `done` bytes
    done += got;
  }
  return done;
}

uint32_t File::Write(const void* buffer, uint32_t count) {
  if (!IsOpen()) return 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const uint32_t put = WriteOnce(bytes + done, count - done);
    if (put == 0) break;  // the disk refused the rest: report what made it
    done += put;
  }
  return done;
}

uint32_t File::Seek(int32_t offset, SeekOrigin origin) {
  if (!IsOpen()) return kAllBits;
  // The target is computed first so that a refused seek leaves the position
  // (SetFilePointer alone would move beyond 4 GiB and report the low half).
  int64_t start = 0;
  switch (origin) {
    case kFromBegin:
      break;
    case kFromCurrent:
      if (!PositionNow(&start)) return kAllBits;
      break;
    case kFromEnd:
      if (!SizeNow(&start)) return kAllBits;
      break;
    default:
      return kAllBits;
  }
  const int64_t target = start + offset;
  if (target < 0 || target > kLastValidPosition) return kAllBits;
  return MoveTo(static_cast<uint32_t>(target)) ? static_cast<uint32_t>(target) : kAllBits;
}

}  // namespace tvx::platform
