// A write-only stream that compresses into another stream as one zlib stream
// (RFC 1950: windowBits 15, memLevel 8, default strategy). zlib.h stays out of
// this header.
//
// Compressed bytes reach the destination only in whole blocks of
// kCompressionBufferSize while writing; only Finish() writes the rest and the
// Adler-32 trailer, and a stream destroyed unfinished writes nothing more. The
// destination is borrowed, must outlive the stream, and is put back at the
// stream's saved position if someone moved it.
#ifndef TOLVEX_STREAMS_DEFLATE_STREAM_H
#define TOLVEX_STREAMS_DEFLATE_STREAM_H

#include <memory>

#include "streams/byte_stream.h"

namespace tvx {

constexpr uint32_t kCompressionBufferSize = 65536;

class DeflateStream : public ByteStream {
 public:
  struct State;  // zlib state and the I/O buffer
  explicit DeflateStream(std::unique_ptr<State> state);
  ~DeflateStream() override;  // never writes; zlib's state is kept for the next stream

  // Only a seek by 0 from the current position works: it lands on the bytes
  // accepted so far.
  Placement TrySeek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override { return kUnknownSize; }
  bool SetSize(uint32_t) override { return false; }
  Transfer TryRead(void*, uint32_t) override { return Refused(platform::IoErrorKind::kCorrupt); }
  // All of count, or nothing (kIo) when zlib failed or the destination took
  // less than a whole block.
  Transfer TryWrite(const void* buffer, uint32_t count) override;

  // Ends the zlib stream and writes everything still pending. True when all of
  // it reached the destination. Further calls return the first answer.
  [[nodiscard]] bool Finish();
  // Compressed bytes handed to the destination so far.
  uint32_t BytesOut() const;

 private:
  std::unique_ptr<State> state_;
};

// CompressionLevel selects the zlib level: 0 -> 0, 1 -> 1, 2 -> -1 (default),
// 3 -> 9. The archive always uses 3. Null when zlib cannot start (no memory).
//
// inputSize, when the caller knows it, lets an input of at most
// kSmallDeflateInput bytes go through a compressor with a smaller hash table,
// which costs less to reset and gives the same bytes as memLevel 8 for such
// an input. That stream then refuses (kIo) anything beyond inputSize.
constexpr int kBestCompression = 3;
constexpr uint32_t kSmallDeflateInput = 1024;
std::unique_ptr<DeflateStream> NewDeflateStream(int compressionLevel, ByteStream& destination,
                                                uint32_t inputSize = kUnknownSize);

}  // namespace tvx

#endif
