// What File does the same way on every system: it is the sole owner of one
// handle, handed on by moving and closed by its destructor, and it checks a
// seek's target before it moves. Opening, closing, the I/O and the questions
// a seek asks are the system's (posix.cpp, win32.cpp).
#include "platform/platform.h"

namespace tvx::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
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
