// What this machine's System does the same way on every system: a file is the
// sole owner of one handle, handed on by moving and closed by its destructor;
// it checks a seek's target before it moves, repeats a read or write until it
// is whole, and remembers why the last call failed. Opening, closing, each
// single transfer and the questions a seek asks are the system's (posix.cpp,
// win32.cpp).
#include "platform/native.h"

#include <utility>

namespace tvx::platform {

NativeFile::~NativeFile() { Close(); }

NativeFile::NativeFile(NativeFile&& other) noexcept : handle_(other.handle_), lastError_(other.lastError_) {
#ifdef _WIN32
  path_ = std::move(other.path_);
#endif
  other.handle_ = -1;
}

void NativeFile::Start() {
  lastError_ = IoError();
  ClearSystemError();
}

void NativeFile::Failed(IoErrorKind withoutCode) {
  lastError_ = LastSystemError();
  if (!lastError_.failed()) lastError_.kind = withoutCode;
}

// A disk file usually delivers everything in one call; the loop covers pipes,
// signals and reads beyond the system's largest single transfer.
uint32_t NativeFile::Read(void* buffer, uint32_t count) {
  Start();
  auto* bytes = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  while (IsOpen() && done < count) {
    const uint32_t got = ReadOnce(bytes + done, count - done);
    if (got == 0) break;  // end of file, or an error after `done` bytes
    done += got;
  }
  if (done < count) Failed(IoErrorKind::kEnd);
  return done;
}

uint32_t NativeFile::Write(const void* buffer, uint32_t count) {
  Start();
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  uint32_t done = 0;
  while (IsOpen() && done < count) {
    const uint32_t put = WriteOnce(bytes + done, count - done);
    if (put == 0) break;  // the disk refused the rest: report what made it
    done += put;
  }
  if (done < count) Failed(IoErrorKind::kDiskFull);
  return done;
}

uint32_t NativeFile::Seek(int32_t offset, SeekOrigin origin) {
  Start();
  const uint32_t moved = SeekTo(offset, origin);
  if (moved == kAllBits) Failed(IoErrorKind::kIo);
  return moved;
}

uint32_t NativeFile::SeekTo(int32_t offset, SeekOrigin origin) {
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

bool NativeFile::SetEndHere() {
  Start();
  const bool ok = IsOpen() && EndHere();
  if (!ok) Failed(IoErrorKind::kIo);
  return ok;
}

bool NativeFile::Flush() {
  Start();
  const bool ok = IsOpen() && Sync();
  if (!ok) Failed(IoErrorKind::kIo);
  return ok;
}

std::unique_ptr<SystemFile> NativeSystem::OpenFile(const std::string& path, File::Mode mode, File::Facts* facts,
                                                   IoError* error) {
  ClearSystemError();
  NativeFile file = NativeFile::Open(path, mode, facts);
  if (!file.IsOpen()) {
    if (error != nullptr) {
      *error = LastSystemError();
      if (!error->failed()) error->kind = IoErrorKind::kIo;  // refused without a code: a folder, say
    }
    return nullptr;
  }
  return std::make_unique<NativeFile>(std::move(file));
}

System& OsSystem() {
  static NativeSystem system;
  return system;
}

}  // namespace tvx::platform
