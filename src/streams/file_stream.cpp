#include "streams/file_stream.h"

namespace tvx {

namespace {

// Moves to an absolute position of up to 4 GiB; a single seek from the begin
// takes only a signed 32-bit offset.
bool SeekTo(platform::File& file, uint32_t target) {
  constexpr uint32_t kMaxStep = 0x7FFFFFFFu;
  if (target <= kMaxStep) return file.Seek(static_cast<int32_t>(target), kFromBegin) == target;
  if (file.Seek(static_cast<int32_t>(kMaxStep), kFromBegin) != kMaxStep) return false;
  return file.Seek(static_cast<int32_t>(target - kMaxStep), kFromCurrent) == target;
}

}  // namespace

uint32_t FileStream::Seek(int32_t offset, SeekOrigin origin) {
  if (!file_.IsOpen()) return kStreamError;
  return file_.Seek(offset, origin);  // platform::kAllBits == kStreamError
}

uint32_t FileStream::Size() {
  if (!file_.IsOpen()) return 0;
  return file_.Size();
}

bool FileStream::SetSize(uint32_t n) {
  if (kind_ == Kind::kReadOnly || !file_.IsOpen()) return false;
  const uint32_t previous = file_.Seek(0, kFromCurrent);
  if (previous == kStreamError) return false;
  if (!SeekTo(file_, n) || !file_.SetEndHere()) return false;
  // The position ends as the smaller of the old position and n.
  return n <= previous || SeekTo(file_, previous);
}

uint32_t FileStream::Read(void* buffer, uint32_t count) {
  if (kind_ == Kind::kWriteOnly || count == 0) return 0;
  return file_.Read(buffer, count);
}

uint32_t FileStream::Write(const void* buffer, uint32_t count) {
  if (kind_ == Kind::kReadOnly || count == 0) return 0;
  const uint32_t written = file_.Write(buffer, count);
  // The file must end where this write ended, also after a failed write.
  // An uncut file may carry stale bytes, so a failed cut fails the write.
  if (kind_ == Kind::kWriteOnly && !file_.SetEndHere()) return 0;
  return written;
}

std::unique_ptr<FileStream> OpenReadFileStream(const std::string& path) {
  return std::make_unique<FileStream>(platform::File::Open(path, platform::File::Mode::kRead),
                                      FileStream::Kind::kReadOnly);
}

std::unique_ptr<FileStream> CreateWriteFileStream(const std::string& path) {
  return std::make_unique<FileStream>(
      platform::File::Open(path, platform::File::Mode::kCreateWrite), FileStream::Kind::kWriteOnly);
}

std::unique_ptr<FileStream> OpenReadWriteFileStream(const std::string& path) {
  return std::make_unique<FileStream>(
      platform::File::Open(path, platform::File::Mode::kReadWrite), FileStream::Kind::kReadWrite);
}

}  // namespace tvx
