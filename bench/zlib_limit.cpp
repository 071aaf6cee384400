#include "zlib_limit.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "file_tree.h"
#include "results.h"
#include "stopwatch.h"

namespace tvx::bench {
namespace {

struct Phase {
  double wall = 0;
  double cpu = 0;
  void Take(const Stopwatch& watch) {
    wall = watch.Wall();
    cpu = watch.Cpu();
  }
};

struct FileData {
  std::vector<uint8_t> content;  // read, later the inflated bytes
  std::vector<uint8_t> packed;   // deflated form, sized to fit
  uLong packedSize = 0;
  bool stored = false;           // deflating did not make it smaller
  uLong crc = 0;
};

// Zero-filled by resize: every page is touched before any clock runs.
void Allocate(std::vector<FileData>& files, const Tree& tree) {
  size_t f = 0;
  for (const TreeItem& item : tree.items) {
    if (item.folder) continue;
    files[f].content.resize(item.size);
    files[f].packed.resize(compressBound(static_cast<uLong>(item.size)));
    ++f;
  }
}

bool ReadFiles(const std::string& root, const Tree& tree, std::vector<FileData>& files) {
  size_t f = 0;
  for (const TreeItem& item : tree.items) {
    if (item.folder) continue;
    const int fd = open((root + "/" + item.relative).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ReadInto(fd, files[f++].content.data(), item.size);
    close(fd);
    if (!ok) return false;
  }
  return true;
}

// One compressor for all files, reset between them, as an archiver that
// packs many files needs no more than that.
bool DeflateAll(std::vector<FileData>& files, uint64_t& packedTotal) {
  packedTotal = 0;
  z_stream z{};
  if (deflateInit(&z, 9) != Z_OK) return false;
  bool ok = true;
  for (FileData& file : files) {
    if (file.content.empty()) continue;
    if (deflateReset(&z) != Z_OK) { ok = false; break; }
    z.next_in = file.content.data();
    z.avail_in = static_cast<uInt>(file.content.size());
    z.next_out = file.packed.data();
    z.avail_out = static_cast<uInt>(file.packed.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) { ok = false; break; }
    const uLong size = z.total_out;
    file.packedSize = size;
    file.stored = size >= file.content.size();
    packedTotal += file.stored ? file.content.size() : size;
  }
  deflateEnd(&z);
  return ok;
}

const uint8_t* PackedBytes(const FileData& file) { return file.stored ? file.content.data() : file.packed.data(); }
size_t PackedLength(const FileData& file) { return file.stored ? file.content.size() : file.packedSize; }

bool WritePacked(const std::string& path, const std::vector<FileData>& files) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (const FileData& file : files) ok = ok && WriteFrom(fd, PackedBytes(file), PackedLength(file));
  return close(fd) == 0 && ok;
}

bool ReadPacked(const std::string& path, std::vector<FileData>& files) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  for (FileData& file : files) {
    ok = ok && ReadInto(fd, const_cast<uint8_t*>(PackedBytes(file)), PackedLength(file));
  }
  close(fd);
  return ok;
}

// One decompressor for all files, reset between them.
bool InflateAll(std::vector<FileData>& files) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  bool ok = true;
  for (FileData& file : files) {
    if (file.content.empty() || file.stored) continue;
    if (inflateReset(&z) != Z_OK) { ok = false; break; }
    z.next_in = file.packed.data();
    z.avail_in = static_cast<uInt>(file.packedSize);
    z.next_out = file.content.data();
    z.avail_out = static_cast<uInt>(file.content.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out != file.content.size()) { ok = false; break; }
  }
  inflateEnd(&z);
  return ok;
}

bool WriteFiles(const std::string& dest, const Tree& tree, const std::vector<FileData>& files) {
  if (mkdir(dest.c_str(), 0755) != 0) return false;
  size_t f = 0;
  for (const TreeItem& item : tree.items) {
    const std::string path = dest + "/" + item.relative;
    if (item.folder) {
      if (mkdir(path.c_str(), 0755) != 0) return false;
      continue;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // Every extracted file gets its time back, as an archiver must.
    const timespec times[2] = {{item.modified, 0}, {item.modified, 0}};
    const bool ok = WriteFrom(fd, files[f].content.data(), files[f].content.size()) && futimens(fd, times) == 0;
    ++f;
    if (close(fd) != 0 || !ok) return false;
  }
  return true;
}

uLong Crc(const std::vector<uint8_t>& data) {
  return crc32(crc32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size()));
}

void Emit(const std::string& caseName, int round, const char* op, double wall, double cpu, uint64_t bytes) {
  EmitResult(Result{caseName, "limit", op, round, wall, cpu, bytes, 0});
}

bool Fail(const char* what) {
  std::fprintf(stderr, "limit: %s failed\n", what);
  return false;
}

}  // namespace

bool MeasureZlibLimit(const std::string& caseName, int round, const std::string& root, const std::string& scratch) {
  // The floor should be zlib's work alone: freed memory is kept rather than
  // handed back to the system and faulted in again.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  const Tree tree = ListTree(root);
  std::vector<FileData> files(tree.fileCount);
  Allocate(files, tree);
  const std::string packedPath = scratch + "/limit.bin";
  const std::string dest = scratch + "/limit-out";
  RemoveTree(dest);

  Phase read, deflate, write, readBack, inflate, writeFiles;
  uint64_t packedTotal = 0;
  { Stopwatch w; if (!ReadFiles(root, tree, files)) return Fail("read"); read.Take(w); }
  for (FileData& file : files) file.crc = Crc(file.content);
  { Stopwatch w; if (!DeflateAll(files, packedTotal)) return Fail("deflate"); deflate.Take(w); }
  { Stopwatch w; if (!WritePacked(packedPath, files)) return Fail("write"); write.Take(w); }
  // Wipe what the read-back must bring back, so nothing is reused by chance.
  for (FileData& file : files) std::memset(file.content.data(), 0, file.content.size());
  { Stopwatch w; if (!ReadPacked(packedPath, files)) return Fail("read back"); readBack.Take(w); }
  { Stopwatch w; if (!InflateAll(files)) return Fail("inflate"); inflate.Take(w); }
  { Stopwatch w; if (!WriteFiles(dest, tree, files)) return Fail("write files"); writeFiles.Take(w); }
  for (const FileData& file : files) {
    if (Crc(file.content) != file.crc) return Fail("round trip");
  }
  RemoveTree(dest);
  unlink(packedPath.c_str());

  Emit(caseName, round, "pack.read", read.wall, read.cpu, tree.totalBytes);
  Emit(caseName, round, "pack.deflate", deflate.wall, deflate.cpu, packedTotal);
  Emit(caseName, round, "pack.write", write.wall, write.cpu, packedTotal);
  Emit(caseName, round, "pack", read.wall + deflate.wall + write.wall, read.cpu + deflate.cpu + write.cpu,
       packedTotal);
  Emit(caseName, round, "test.read", readBack.wall, readBack.cpu, packedTotal);
  Emit(caseName, round, "test.inflate", inflate.wall, inflate.cpu, tree.totalBytes);
  Emit(caseName, round, "test", readBack.wall + inflate.wall, readBack.cpu + inflate.cpu, tree.totalBytes);
  Emit(caseName, round, "extract.write", writeFiles.wall, writeFiles.cpu, tree.totalBytes);
  Emit(caseName, round, "extract", readBack.wall + inflate.wall + writeFiles.wall,
       readBack.cpu + inflate.cpu + writeFiles.cpu, tree.totalBytes);
  return true;
}

}  // namespace tvx::bench
