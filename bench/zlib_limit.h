// The floor Tolvex is measured against: raw zlib at level 9 on each file, in
// memory, plus the plain reads and writes any packer of these files must do.
#ifndef TOLVEX_BENCH_ZLIB_LIMIT_H
#define TOLVEX_BENCH_ZLIB_LIMIT_H

#include <string>

namespace tvx::bench {

// Packs the tree at root the raw way, then unpacks it again, and emits one
// result per phase and one per whole operation (op pack, test, extract):
//   pack    = read every file + compress2(level 9) each + write the packed
//             bytes to one file in scratch
//   test    = read that file back + uncompress each
//   extract = test + create the folders and write every file under scratch
// Buffers are allocated and touched before the clocks start. False when a
// step fails or the round trip does not reproduce the files.
bool MeasureZlibLimit(const std::string& caseName, int round, const std::string& root, const std::string& scratch);

}  // namespace tvx::bench

#endif
