#include "preview/ShadeCache.h"

#include <sys/stat.h>

#include <functional>
#include <utility>

namespace orolith {

std::optional<ShadeKey> ShadeKeyOf(const std::string& path, int side) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  ShadeKey key;
  key.Path = path;
  key.ModifiedNanoseconds =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  key.Size = static_cast<std::uint64_t>(info.st_size);
  key.Side = side;
  return key;
}

std::size_t ShadeCache::KeyHash::operator()(const ShadeKey& key) const noexcept {
  std::size_t h = std::hash<std::string>()(key.Path);
  for (const std::uint64_t part : {static_cast<std::uint64_t>(key.ModifiedNanoseconds), key.Size,
                                   static_cast<std::uint64_t>(key.Side)}) {
    h ^= std::hash<std::uint64_t>()(part) + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
  }
  return h;
}

std::shared_ptr<const TileShade> ShadeCache::Find(const ShadeKey& key) {
  const std::lock_guard lock(mutex_);
  const auto found = index_.find(key);
  if (found == index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return found->second->Shade;
}

void ShadeCache::Insert(const ShadeKey& key, std::shared_ptr<const TileShade> shade) {
  if (!shade || shade->Bytes() > maxBytes_) return;
  const std::lock_guard lock(mutex_);
  if (const auto found = index_.find(key); found != index_.end()) {
    bytes_ -= found->second->Shade->Bytes();
    entries_.erase(found->second);
    index_.erase(found);
  }
  bytes_ += shade->Bytes();
  entries_.push_front({key, std::move(shade)});
  index_.emplace(key, entries_.begin());
  while (bytes_ > maxBytes_) {
    const Entry& oldest = entries_.back();
    bytes_ -= oldest.Shade->Bytes();
    index_.erase(oldest.Key);
    entries_.pop_back();
  }
}

std::size_t ShadeCache::Bytes() const {
  const std::lock_guard lock(mutex_);
  return bytes_;
}

std::size_t ShadeCache::Count() const {
  const std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace orolith
