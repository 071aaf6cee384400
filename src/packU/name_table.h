// A set of names in one flat table, for matching many thousands of entry
// names at a time (deleting, replacing): a lookup is a hash and a compare or
// two, and the whole set is one allocation, not one per name.
#ifndef TOLVEX_PACKU_NAME_TABLE_H
#define TOLVEX_PACKU_NAME_TABLE_H

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tvx {

// The table holds ids of the caller's names, never copies of them:
// nameOf(id) gives the name back (a std::string_view), and must give the same
// one for as long as the table is used. Each slot keeps a part of its name's
// hash beside the id, so a name that is not in the set is told from the taken
// slots by those alone, without reading their names.
template <typename NameOf>
class NameTable {
 public:
  NameTable(size_t count, NameOf nameOf) : nameOf_(nameOf) {
    // Two thirds full at most; the probes of one lookup mostly share a cache line.
    slots_.assign(count + count / 2 + 16, Slot{kFree, 0});
  }

  void Insert(std::string_view name, uint32_t id) {
    const uint64_t hash = Hash(name);
    size_t at = Home(hash);
    for (; slots_[at].id != kFree; at = Next(at)) {
      if (slots_[at].tag == Tag(hash) && nameOf_(slots_[at].id) == name) return;
    }
    slots_[at] = Slot{id, Tag(hash)};
    empty_ = false;
  }

  bool Contains(std::string_view name) const {
    if (empty_) return false;
    const uint64_t hash = Hash(name);
    for (size_t at = Home(hash); slots_[at].id != kFree; at = Next(at)) {
      if (slots_[at].tag == Tag(hash) && nameOf_(slots_[at].id) == name) return true;
    }
    return false;
  }

  bool empty() const { return empty_; }

 private:
  static constexpr uint32_t kFree = 0xFFFFFFFFu;

  struct Slot {
    uint32_t id;   // the caller's, or kFree
    uint32_t tag;  // the low half of the name's hash
  };

  // The high half picks the slot (any table size), the low half is the tag.
  size_t Home(uint64_t hash) const { return static_cast<size_t>(((hash >> 32) * slots_.size()) >> 32); }
  static uint32_t Tag(uint64_t hash) { return static_cast<uint32_t>(hash); }
  size_t Next(size_t at) const { return at + 1 == slots_.size() ? 0 : at + 1; }

  // Eight bytes a step, then mixed so that both halves depend on all of
  // them: the names of large archives are short, and a general-purpose hash
  // was most of a lookup.
  static uint64_t Hash(std::string_view name) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t hash = name.size() * kMultiplier;
    size_t at = 0;
    for (; name.size() - at >= 8; at += 8) {
      uint64_t word;
      std::memcpy(&word, name.data() + at, 8);
      hash = (hash ^ word) * kMultiplier;
      hash ^= hash >> 29;
    }
    uint64_t tail = 0;
    if (at < name.size()) std::memcpy(&tail, name.data() + at, name.size() - at);
    hash = (hash ^ tail) * 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 32;
    hash *= 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 29);
  }

  NameOf nameOf_;
  std::vector<Slot> slots_;  // at least a third of them free
  bool empty_ = true;
};

}  // namespace tvx

#endif
