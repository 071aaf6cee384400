// Generated inputs: the same bytes on every run.
#ifndef TOLVEX_BENCH_GENERATE_H
#define TOLVEX_BENCH_GENERATE_H

#include <cstdint>
#include <string>

namespace tvx::bench {

// folders x filesPerFolder files of fileSize bytes each: short text lines with
// numbers, so they deflate a little, as small real files do.
bool GenerateSmallTree(const std::string& root, int folders, int filesPerFolder, int fileSize);

// A file of exactly size bytes mixing slices of real text (taken from the
// files under textRoot, sorted by name, up to 8 MiB) with pseudo-random
// bytes and numeric records. Prints its CRC-32 to stderr.
bool GenerateMixedFile(const std::string& path, uint64_t size, const std::string& textRoot);

}  // namespace tvx::bench

#endif
