// A read-only stream that decompresses one zlib stream read from a source.
//
// Read returns the bytes delivered; it is short when the zlib stream ended
// (AtStreamEnd()) or the source ran out, and kStreamError when zlib found the
// data corrupt (bad header, bad deflate data, Adler-32 mismatch). Input left
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

  // Seek(0, kFromBegin) restarts from the source's position 0; forward seeks
  // decompress and discard; Seek(0, kFromCurrent) is the bytes delivered so
  // far. Anything else returns kStreamError.
  uint32_t Seek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override { return kStreamError; }
  bool SetSize(uint32_t) override { return false; }
  uint32_t Read(void* buffer, uint32_t count) override;
  uint32_t Write(const void*, uint32_t) override { return kStreamError; }

  // kCorrupt after kStreamError; after a short read, why the source ran out.
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
