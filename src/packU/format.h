// Constants of the archive format.
//
// Layout, all integers little-endian, no padding:
//   header     "TOLVEX", uint32 version (written as 100), int32 entryCount
//   directory  entryCount records: uint16 nameLength, name bytes,
//              int32 time, unpackedSize, packedSize, dataOffset
//   data       the entries' bytes back to back; dataOffset counts from here
// An entry is deflated (one zlib stream) when packedSize < unpackedSize,
// stored otherwise. Names use '/', a trailing '/' marks a directory.
#ifndef TOLVEX_PACKU_FORMAT_H
#define TOLVEX_PACKU_FORMAT_H

#include <cstdint>

namespace tvx {

constexpr char kMagic[6] = {'T', 'O', 'L', 'V', 'E', 'X'};
constexpr uint32_t kMagicSize = 6;
constexpr uint32_t kFormatVersion = 100;
constexpr uint32_t kHeaderSize = 14;
constexpr uint32_t kRecordFixedSize = 18;  // a record without its name
constexpr uint32_t kMaxNameLength = 0xFFFF;
// Sizes and positions are read as signed 32-bit values: everything stays below 2 GiB.
constexpr uint32_t kMaxArchiveSize = 0x7FFFFFFF;

}  // namespace tvx

#endif
