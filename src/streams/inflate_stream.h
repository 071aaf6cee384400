// A read-only stream that decompresses one zlib stream read from a source.
//
// A read answers the bytes delivered; it is short when the zlib stream ended
// (AtStreamEnd()) or the source ran out, and moves nothing with kCorrupt when
// zlib found the data corrupt (bad header, bad deflate data, Adler-32 mismatch). Input left
// after the end of the zlib stream is ignored; a read never loops on it.
// The source is borrowed and is read in blocks of kCompressionBufferSize, so it
// may be consumed past the end of the compressed data.
#ifndef TOLVEX_STREAMS_INFLATE_STREAM_H
#define TOLVEX_STREAMS_INFLATE_STREAM_H

#include <memory>

#include "streams/byte_stream.h"
#include "streams/deflate_stream.h"

namespace tvx {

class InflateStream : public ByteStream {
 public:
  struct State;
  explicit InflateStream(std::unique_ptr<State> state);
  ~InflateStream() override;

  // A seek to 0 restarts from the source's position 0; forward seeks
  // decompress and discard; the current position is the bytes delivered so
  // far. Anything else fails.
  Placement TrySeek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override { return kUnknownSize; }
  bool SetSize(uint32_t) override { return false; }
  Transfer TryRead(void* buffer, uint32_t count) override;
  Transfer TryWrite(const void*, uint32_t) override { return Refused(platform::IoErrorKind::kIo); }

  // kCorrupt after corrupt data; after a short read, why the source ran out.
  platform::IoError LastError() const override;

  // True once zlib has reported the end of the stream with its checksum good.
  bool AtStreamEnd() const;

 private:
  std::unique_ptr<State> state_;
};

// Null when zlib cannot start (no memory).
std::unique_ptr<InflateStream> NewInflateStream(ByteStream& source);

}  // namespace tvx

#endif
