#include "streams/deflate_stream.h"

#include <zlib.h>

#include <atomic>
#include <cstring>
#include <new>

namespace tvx {

struct DeflateStream::State {
  explicit State(ByteStream& dest) : destination(&dest) { std::memset(&z, 0, sizeof z); }
  ~State() {
    if (started) deflateEnd(&z);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // Puts the destination back where this stream last left it.
  void RestoreDestination() {
    if (destination->TryPosition().position != savedPosition) (void)destination->TrySetPosition(savedPosition);
  }
  // Hands the first n buffered bytes to the destination. False when it took fewer.
  bool Flush(uint32_t n) {
    const Transfer taken = destination->TryWrite(buffer, n);
    bytesOut += taken.count;
    if (taken.failed()) return false;
    savedPosition = destination->TryPosition().position;
    z.next_out = buffer;
    z.avail_out = kCompressionBufferSize;
    return true;
  }

  // Starts the stream over for a new destination, as a fresh deflateInit would.
  bool Restart(ByteStream& dest) {
    if (deflateReset(&z) != Z_OK) return false;
    destination = &dest;
    bytesOut = 0;
    finished = false;
    finishResult = false;
    z.next_in = nullptr;
    z.avail_in = 0;
    return true;
  }

  ByteStream* destination;
  int zlibLevel = 0;
  int memLevel = 0;
  uint32_t inputLimit = kUnknownSize;  // what the caller said it would write, at most
  uint32_t savedPosition = 0;
  uint32_t bytesOut = 0;
  z_stream z;
  bool started = false;   // deflateInit succeeded; deflateEnd still owed (by ~State)
  bool finished = false;  // Finish() ran; finishResult is its answer
  bool finishResult = false;
  Bytef buffer[kCompressionBufferSize];
};

namespace {

// One compressor outlives its stream and serves the next one: packing many
// small files would otherwise spend more on zlib's set-up and its allocation
// of some 270 KiB per file than on compressing them.
std::atomic<DeflateStream::State*> g_spare{nullptr};
// A second one for small inputs. Its reset clears 8 KiB of hash heads, not
// 64 KiB. For an input of at most kSmallDeflateInput bytes memLevel 5 finds
// the same matches as memLevel 8: every hash chain is shorter than the search
// limit (1,024 at level 9), so the colliding entries a smaller table adds are
// only skipped, and the symbol buffer (2,047) never splits the one block.
constexpr int kMemLevel = 8;  // deflateInit's own
constexpr int kSmallMemLevel = 5;
std::atomic<DeflateStream::State*> g_smallSpare{nullptr};
struct SpareRelease {
  ~SpareRelease() {
    delete g_spare.exchange(nullptr);
    delete g_smallSpare.exchange(nullptr);
  }
} g_spareRelease;

std::atomic<DeflateStream::State*>& SpareFor(int memLevel) {
  return memLevel == kSmallMemLevel ? g_smallSpare : g_spare;
}

}  // namespace

DeflateStream::DeflateStream(std::unique_ptr<State> state) : state_(std::move(state)) {}

// An unfinished stream is abandoned, not finished: a failure here could not
// be reported, and a caller that gives up on compressing wants no more bytes.
// Its compressor is kept for the next stream, which resets it first.
DeflateStream::~DeflateStream() {
  if (state_ && state_->started) delete SpareFor(state_->memLevel).exchange(state_.release());
}

Placement DeflateStream::TrySeek(int32_t offset, SeekOrigin origin) {
  if (offset != 0 || origin != kFromCurrent) return NotPlaced();
  return Landed(static_cast<uint32_t>(state_->z.total_in));
}

Transfer DeflateStream::TryWrite(const void* buffer, uint32_t count) {
  State& s = *state_;
  if (s.finished) return Refused(platform::IoErrorKind::kIo);
  if (count == 0) return Moved(0, 0, platform::IoErrorKind::kIo);
  if (s.inputLimit != kUnknownSize && count > s.inputLimit - s.z.total_in) return Refused(platform::IoErrorKind::kIo);
  // zlib never writes through next_in; its type just lacks the const.
  s.z.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
  s.z.avail_in = count;
  s.RestoreDestination();
  while (s.z.avail_in > 0) {
    if (deflate(&s.z, Z_NO_FLUSH) < 0) return Refused(platform::IoErrorKind::kIo);
    if (s.z.avail_out == 0 && !s.Flush(kCompressionBufferSize)) return Refused(platform::IoErrorKind::kIo);
  }
  return Moved(count, count, platform::IoErrorKind::kIo);
}

bool DeflateStream::Finish() {
  State& s = *state_;
  if (s.finished) return s.finishResult;
  s.finished = true;
  s.z.next_in = nullptr;
  s.z.avail_in = 0;
  s.RestoreDestination();
  bool ok = true;
  for (;;) {
    const int result = deflate(&s.z, Z_FINISH);
    if (result == Z_STREAM_END || s.z.avail_out != 0) {
      if (result != Z_STREAM_END) ok = false;  // zlib stopped without ending the stream
      break;
    }
    if (result < 0 || !s.Flush(kCompressionBufferSize)) {
      ok = false;
      break;
    }
  }
  const uint32_t pending = kCompressionBufferSize - s.z.avail_out;
  if (ok && pending > 0 && !s.Flush(pending)) ok = false;
  s.finishResult = ok;
  return ok;
}

uint32_t DeflateStream::BytesOut() const { return state_->bytesOut; }

std::unique_ptr<DeflateStream> NewDeflateStream(int compressionLevel, ByteStream& destination, uint32_t inputSize) {
  static const int kLevels[] = {0, 1, Z_DEFAULT_COMPRESSION, 9};
  if (compressionLevel < 0 || compressionLevel > 3) return nullptr;
  const int zlibLevel = kLevels[compressionLevel];
  // The search limits behind the small table's sameness are level 9's.
  const bool small = zlibLevel == 9 && inputSize <= kSmallDeflateInput;
  const int memLevel = small ? kSmallMemLevel : kMemLevel;
  std::unique_ptr<DeflateStream::State> state(SpareFor(memLevel).exchange(nullptr));
  if (state && (state->zlibLevel != zlibLevel || !state->Restart(destination))) state.reset();
  if (!state) {
    // Allocation failure is an answer here (null), not an exception.
    state.reset(new (std::nothrow) DeflateStream::State(destination));
    if (!state) return nullptr;
    if (deflateInit2(&state->z, zlibLevel, Z_DEFLATED, MAX_WBITS, memLevel, Z_DEFAULT_STRATEGY) < 0) return nullptr;
    state->started = true;
    state->zlibLevel = zlibLevel;
    state->memLevel = memLevel;
  }
  state->inputLimit = small ? inputSize : kUnknownSize;
  state->savedPosition = destination.TryPosition().position;
  state->z.next_out = state->buffer;
  state->z.avail_out = kCompressionBufferSize;
  return std::unique_ptr<DeflateStream>(new (std::nothrow) DeflateStream(std::move(state)));
}

}  // namespace tvx
