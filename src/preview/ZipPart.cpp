#include "preview/ZipPart.h"

#include "base/Errors.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace orolith {
namespace {

constexpr std::uint32_t EndSignature = 0x06054b50;
constexpr std::uint32_t Zip64EndSignature = 0x06064b50;
constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t CentralSignature = 0x02014b50;
constexpr std::uint32_t LocalSignature = 0x04034b50;
constexpr std::size_t EndBytes = 22;
constexpr std::size_t LocatorBytes = 20;
constexpr std::size_t Zip64EndBytes = 56;
constexpr std::size_t CentralBytes = 46;
constexpr std::size_t LocalBytes = 30;
// A package's directory names a handful of parts; one far larger is no 3MF package.
constexpr std::uint64_t MaxDirectoryBytes = 16 << 20;
constexpr std::size_t Piece = 256 << 10;

std::uint64_t Little(const unsigned char* p, int bytes) noexcept {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

bool SameName(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

struct EndInflate {
  void operator()(z_stream* z) const noexcept { inflateEnd(z); }
};

struct Directory {
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
};

// Where the central directory lies, from the end record (and its ZIP64 form where the plain
// fields are full).
Directory FindDirectory(const ReadOnlyFile& file, const std::string& path) {
  const std::uint64_t size = file.Size();
  if (size < EndBytes) throw CannotReadFile(path, "The file is not a zip package");
  const std::uint64_t tail = std::min<std::uint64_t>(size, EndBytes + 0xFFFF + LocatorBytes);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(tail));
  file.ReadAt(bytes.data(), bytes.size(), size - tail);
  for (std::size_t at = bytes.size() - EndBytes + 1; at-- > 0;) {
    const unsigned char* end = &bytes[at];
    if (Little(end, 4) != EndSignature) continue;
    Directory found{Little(end + 16, 4), Little(end + 12, 4)};
    if ((found.Offset == 0xFFFFFFFF || found.Size == 0xFFFFFFFF) && at >= LocatorBytes &&
        Little(end - LocatorBytes, 4) == Zip64LocatorSignature) {
      unsigned char zip64[Zip64EndBytes];
      const std::uint64_t record = Little(end - LocatorBytes + 8, 8);
      if (record > size - Zip64EndBytes) break;
      file.ReadAt(zip64, sizeof zip64, record);
      if (Little(zip64, 4) != Zip64EndSignature) break;
      found = {Little(zip64 + 48, 8), Little(zip64 + 40, 8)};
    }
    if (found.Offset > size || found.Size > size - found.Offset) break;
    return found;
  }
  throw CannotReadFile(path, "The file is not a zip package");
}

}  // namespace

ZipPart::ZipPart(const std::string& path, std::string_view name) : path_(path), file_(path) {
  const Directory directory = FindDirectory(file_, path_);
  if (directory.Size > MaxDirectoryBytes) {
    throw CannotReadFile(path_, "The zip package's directory is too large");
  }
  std::vector<unsigned char> entries(static_cast<std::size_t>(directory.Size));
  file_.ReadAt(entries.data(), entries.size(), directory.Offset);
  for (std::size_t at = 0; at + CentralBytes <= entries.size();) {
    const unsigned char* entry = &entries[at];
    if (Little(entry, 4) != CentralSignature) break;
    const auto nameBytes = static_cast<std::size_t>(Little(entry + 28, 2));
    const auto extraBytes = static_cast<std::size_t>(Little(entry + 30, 2));
    const auto commentBytes = static_cast<std::size_t>(Little(entry + 32, 2));
    const std::size_t next = at + CentralBytes + nameBytes + extraBytes + commentBytes;
    if (next > entries.size()) break;
    const std::string_view entryName(reinterpret_cast<const char*>(entry + CentralBytes),
                                     nameBytes);
    if (!SameName(entryName, name)) {
      at = next;
      continue;
    }
    const auto method = Little(entry + 10, 2);
    std::uint64_t compressed = Little(entry + 20, 4);
    std::uint64_t local = Little(entry + 42, 4);
    // The ZIP64 field holds, in this order, those of the sizes and the offset that are full.
    const unsigned char* extra = entry + CentralBytes + nameBytes;
    for (std::size_t e = 0; e + 4 <= extraBytes;) {
      const auto id = Little(extra + e, 2);
      const auto length = static_cast<std::size_t>(Little(extra + e + 2, 2));
      if (id == 0x0001) {
        std::size_t field = e + 4;
        const auto take = [&](std::uint64_t& value) {
          if (value != 0xFFFFFFFF || field + 8 > e + 4 + length) return;
          value = Little(extra + field, 8);
          field += 8;
        };
        std::uint64_t uncompressed = Little(entry + 24, 4);
        take(uncompressed);
        take(compressed);
        take(local);
      }
      e += 4 + length;
    }
    if (method != 0 && method != 8) {
      throw CannotReadFile(path_, "The 3MF model is compressed in a way the view can't read");
    }
    unsigned char header[LocalBytes];
    if (local > file_.Size() - LocalBytes) break;
    file_.ReadAt(header, sizeof header, local);
    if (Little(header, 4) != LocalSignature) break;
    dataOffset_ = local + LocalBytes + Little(header + 26, 2) + Little(header + 28, 2);
    if (dataOffset_ > file_.Size() || compressed > file_.Size() - dataOffset_) break;
    compressedSize_ = compressed;
    deflated_ = method == 8;
    return;
  }
  throw CannotReadFile(path_, "The file is not a 3MF package: it has no " + std::string(name));
}

bool ZipPart::Read(const Take& take, const std::atomic<bool>* stop) const {
  return deflated_ ? ReadDeflated(take, stop) : ReadStored(take, stop);
}

bool ZipPart::ReadStored(const Take& take, const std::atomic<bool>* stop) const {
  std::vector<char> in(Piece);
  for (std::uint64_t done = 0; done < compressedSize_;) {
    if (stop != nullptr && stop->load()) return false;
    const auto bytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(Piece, compressedSize_ - done));
    file_.ReadAt(in.data(), bytes, dataOffset_ + done);
    if (!take(in.data(), bytes)) break;
    done += bytes;
  }
  return true;
}

bool ZipPart::ReadDeflated(const Take& take, const std::atomic<bool>* stop) const {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  const std::unique_ptr<z_stream, EndInflate> owned(&z);
  std::vector<unsigned char> in(Piece);
  std::vector<unsigned char> out(Piece);
  std::uint64_t read = 0;
  for (int result = Z_OK; result != Z_STREAM_END;) {
    if (stop != nullptr && stop->load()) return false;
    if (z.avail_in == 0) {
      const auto bytes =
          static_cast<std::size_t>(std::min<std::uint64_t>(Piece, compressedSize_ - read));
      if (bytes == 0) throw CannotReadFile(path_, "The 3MF model ends early");
      file_.ReadAt(in.data(), bytes, dataOffset_ + read);
      read += bytes;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(bytes);
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    result = inflate(&z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) {
      throw CannotReadFile(path_, "The 3MF model is damaged: it can't be inflated");
    }
    if (!take(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out)) break;
  }
  return true;
}

}  // namespace orolith
