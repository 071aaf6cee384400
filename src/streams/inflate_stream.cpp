#include "streams/inflate_stream.h"

#include <zlib.h>

#include <atomic>
#include <cstring>
#include <new>

namespace tvx {

namespace {
constexpr uint32_t kSkipScratchSize = 4096;
}  // namespace

struct InflateStream::State {
  explicit State(ByteStream& src) : source(&src) { std::memset(&z, 0, sizeof z); }
  ~State() {
    if (started) inflateEnd(&z);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  ByteStream* source;
  uint32_t savedPosition = 0;
  z_stream z;
  bool started = false;  // inflateInit succeeded; inflateEnd still owed
  bool ended = false;    // zlib reported the end with a good checksum
  platform::IoError error;  // why the last read stopped short
  Bytef buffer[kCompressionBufferSize];
};

namespace {

// One decompressor outlives its stream and serves the next one, reset: many
// small entries would otherwise cost zlib's set-up and allocation each.
std::atomic<InflateStream::State*> g_spare{nullptr};
struct SpareRelease {
  ~SpareRelease() { delete g_spare.exchange(nullptr); }
} g_spareRelease;

}  // namespace

InflateStream::InflateStream(std::unique_ptr<State> state) : state_(std::move(state)) {}

// The decompressor is kept for the next stream (State ends zlib when dropped).
InflateStream::~InflateStream() {
  if (state_ && state_->started) delete g_spare.exchange(state_.release());
}

bool InflateStream::AtStreamEnd() const { return state_->ended; }

platform::IoError InflateStream::LastError() const { return state_->error; }

namespace {

Transfer Corrupt(platform::IoError& error) {
  error = platform::IoError{platform::IoErrorKind::kCorrupt, 0};
  return Transfer{0, error};
}

}  // namespace

Transfer InflateStream::TryRead(void* buffer, uint32_t count) {
  State& s = *state_;
  s.error = platform::IoError();
  if (count == 0) return Transfer{};
  s.z.next_out = static_cast<Bytef*>(buffer);
  s.z.avail_out = count;
  if (s.source->TryPosition().position != s.savedPosition) (void)s.source->TrySetPosition(s.savedPosition);
  while (s.z.avail_out > 0) {
    // Whatever follows the end of the zlib stream is not ours to decode.
    if (s.ended) return Moved(count - s.z.avail_out, count, platform::IoErrorKind::kEnd);
    if (s.z.avail_in == 0) {
      // Short pieces are normal: the source's end or failure shows as nothing read.
      const Transfer got = s.source->TryRead(s.buffer, kCompressionBufferSize);
      if (got.count == 0) {
        if (got.error.kind == platform::IoErrorKind::kCorrupt) return Corrupt(s.error);
        s.error = got.error;  // the source ran out early: its end, or a failed read
        return Moved(count - s.z.avail_out, count, platform::IoErrorKind::kEnd);
      }
      s.z.next_in = s.buffer;
      s.z.avail_in = got.count;
      s.savedPosition = s.source->TryPosition().position;
    }
    const uInt inBefore = s.z.avail_in;
    const uInt outBefore = s.z.avail_out;
    const int result = inflate(&s.z, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      s.ended = true;
    } else if (result == Z_NEED_DICT || (result < 0 && result != Z_BUF_ERROR)) {
      return Corrupt(s.error);
    } else if (s.z.avail_in == inBefore && s.z.avail_out == outBefore) {
      // With input and room for output, no progress means zlib is stuck on
      // the data: treat it as corrupt rather than spin.
      return Corrupt(s.error);
    }
  }
  return Transfer{count, platform::IoError()};
}

Placement InflateStream::TrySeek(int32_t offset, SeekOrigin origin) {
  State& s = *state_;
  const uint32_t delivered = static_cast<uint32_t>(s.z.total_out);
  if (offset == 0 && origin == kFromCurrent) return Landed(delivered);
  if (offset == 0 && origin == kFromBegin) {
    if (inflateReset(&s.z) != Z_OK) return NotPlaced();
    s.z.next_in = s.buffer;
    s.z.avail_in = 0;
    s.ended = false;
    s.savedPosition = 0;
    (void)s.source->TrySetPosition(0);
    return Landed(0);
  }
  uint32_t skip;
  if (origin == kFromCurrent && offset > 0) {
    skip = static_cast<uint32_t>(offset);
  } else if (origin == kFromBegin && offset > 0 && static_cast<uint32_t>(offset) > delivered) {
    skip = static_cast<uint32_t>(offset) - delivered;
  } else {
    return NotPlaced();  // backwards, from the end, or a restart elsewhere than 0
  }
  Bytef scratch[kSkipScratchSize];
  while (skip > 0) {
    const uint32_t want = skip < kSkipScratchSize ? skip : kSkipScratchSize;
    const Transfer got = TryRead(scratch, want);
    if (got.error.kind == platform::IoErrorKind::kCorrupt) return NotPlaced();
    if (got.count < want) break;  // the data ended first
    skip -= got.count;
  }
  return Landed(static_cast<uint32_t>(s.z.total_out));
}

std::unique_ptr<InflateStream> NewInflateStream(ByteStream& source) {
  std::unique_ptr<InflateStream::State> state(g_spare.exchange(nullptr));
  if (state && inflateReset(&state->z) != Z_OK) state.reset();
  if (state) {
    state->source = &source;
    state->ended = false;
    state->error = platform::IoError();
  } else {
    state.reset(new (std::nothrow) InflateStream::State(source));
    if (!state) return nullptr;
    if (inflateInit(&state->z) < 0) return nullptr;
    state->started = true;
  }
  state->savedPosition = source.TryPosition().position;
  state->z.next_in = state->buffer;
  state->z.avail_in = 0;
  return std::unique_ptr<InflateStream>(new (std::nothrow) InflateStream(std::move(state)));
}

}  // namespace tvx
