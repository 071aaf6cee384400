// What this machine's System does the same way on every system: a file is the
// sole owner of one handle, handed on by moving and closed by its destructor;
// it checks a seek's target before it moves, repeats a read or write until it
// is whole, and remembers why the last call failed. Opening, closing, each
// single transfer and the questions a seek asks are the system's (posix.cpp,
// win32.cpp).
#include <cstring>
#include <string>
#include <utility>

#include "platform/native.h"

namespace tvx::platform {

NativeFile::~NativeFile() { Close(); }

NativeFile::NativeFile(NativeFile&& other) noexcept : handle_(other.handle_), lastError_(other.lastError_) {
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

namespace {

class BytesFile final : public SystemFile {
 public:
  explicit BytesFile(std::string bytes) : bytes_(std::move(bytes)) {}
  IoError LastError() const override { return lastError_; }
  uint32_t Read(void* buffer, uint32_t count) override {
    const size_t left = bytes_.size() - position_;
    const uint32_t got = left < count ? static_cast<uint32_t>(left) : count;
    if (got > 0) std::memcpy(buffer, bytes_.data() + position_, got);
    position_ += got;
    lastError_ = got < count ? IoError{IoErrorKind::kEnd, 0} : IoError();
    return got;
  }
  uint32_t Write(const void*, uint32_t) override { return Refuse(0); }
  uint32_t Seek(int32_t offset, SeekOrigin origin) override {
    int64_t target = offset;
    if (origin == kFromCurrent) target += static_cast<int64_t>(position_);
    if (origin == kFromEnd) target += static_cast<int64_t>(bytes_.size());
    if ((origin != kFromBegin && origin != kFromCurrent && origin != kFromEnd) || target < 0 ||
        target > kLastValidPosition) {
      return Refuse(kAllBits);
    }
    lastError_ = IoError();
    position_ = static_cast<size_t>(target) < bytes_.size() ? static_cast<size_t>(target) : bytes_.size();
    return static_cast<uint32_t>(target);
  }
  uint32_t Size() override { return static_cast<uint32_t>(bytes_.size()); }
  bool SetEndHere() override { return Refuse(false); }
  bool Flush() override { return Refuse(false); }

 private:
  template <typename T>
  T Refuse(T answer) {
    lastError_ = IoError{IoErrorKind::kAccess, 0};
    return answer;
  }
  std::string bytes_;
  size_t position_ = 0;
  IoError lastError_;
};

}  // namespace

std::unique_ptr<SystemFile> FileOfBytes(std::string bytes) { return std::make_unique<BytesFile>(std::move(bytes)); }

System& OsSystem() {
  static NativeSystem system;
  return system;
}

}  // namespace tvx::platform
