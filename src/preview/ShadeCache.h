#pragma once

#include "preview/Hillshade.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace orolith {

// Which picture of which file: a file replaced since (a download landing) has another time or
// size, and so another key.
struct ShadeKey {
  std::string Path;
  std::int64_t ModifiedNanoseconds = 0;
  std::uint64_t Size = 0;
  int Side = 0;

  friend bool operator==(const ShadeKey&, const ShadeKey&) = default;
};

// The key of path's file as it is now; nothing when there is no plain file there.
std::optional<ShadeKey> ShadeKeyOf(const std::string& path, int side);

// Hillshades kept in memory up to a byte budget, the least recently used going first. Safe to
// use from several threads.
class ShadeCache {
 public:
  explicit ShadeCache(std::size_t maxBytes) : maxBytes_(maxBytes) {}
  ShadeCache(const ShadeCache&) = delete;
  ShadeCache& operator=(const ShadeCache&) = delete;

  std::shared_ptr<const TileShade> Find(const ShadeKey& key);
  // A picture larger than the whole budget is not kept.
  void Insert(const ShadeKey& key, std::shared_ptr<const TileShade> shade);

  std::size_t Bytes() const;
  std::size_t Count() const;

 private:
  struct Entry {
    ShadeKey Key;
    std::shared_ptr<const TileShade> Shade;
  };
  struct KeyHash {
    std::size_t operator()(const ShadeKey& key) const noexcept;
  };

  const std::size_t maxBytes_;
  // Guards everything below.
  mutable std::mutex mutex_;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<ShadeKey, std::list<Entry>::iterator, KeyHash> index_;
  std::size_t bytes_ = 0;
};

}  // namespace orolith
