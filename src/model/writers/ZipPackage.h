#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// Where the bytes of a package go, in order. WriteAt reaches back into what was written, and
// is called only when CanSeek.
class PackageOutput {
 public:
  virtual ~PackageOutput() = default;
  virtual void Write(const void* data, std::size_t size) = 0;
  virtual bool CanSeek() const = 0;
  virtual void WriteAt(std::uint64_t offset, const void* data, std::size_t size) = 0;
};

// The first size or offset that a plain zip field can't hold: from here on the ZIP64 records
// carry it.
inline constexpr std::uint64_t PlainZipLimit = 0xFFFFFFFF;

// Writes a zip archive (an OPC package) part by part, never reading back: small parts whole
// and stored, one large part deflated as it is made. The large part's header gets its CRC and
// sizes afterwards where the output can seek; a pipe gets them in a data descriptor after the
// data instead. The package stays a plain zip unless a size or an offset needs ZIP64: the large
// part's header keeps 20 bytes of padding (extra field 0x9999) that become its ZIP64 field
// when needed. A part streamed into a pipe may pass 4 GiB before anyone knows: its header
// always has the ZIP64 field (sizes 0, version 4.5), and its data descriptor 8-byte sizes, as
// the zip format asks of a descriptor after a header with that field.
class ZipWriter {
 public:
  // zip64From: sizes and offsets from this value on are written as ZIP64 (tests lower it to
  // take that path with small parts). Every part is stamped 1 January 1980, 00:00, so that an
  // archive depends on its parts alone.
  explicit ZipWriter(PackageOutput& out, std::uint64_t zip64From = PlainZipLimit);

  void AddStored(std::string_view name, std::string_view content);
  // A deflated part: raw deflate data (no zlib header) through WriteDeflated, then the CRC-32
  // and the size of what was deflated. No other part may start in between.
  void BeginDeflated(std::string_view name);
  void WriteDeflated(const void* data, std::size_t size);
  void EndDeflated(std::uint32_t crc, std::uint64_t size);
  // The central directory and its end records; the archive is complete.
  void Finish();

  std::uint64_t Size() const noexcept { return offset_; }

 private:
  struct Entry {
    std::string name;
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;  // of its local header
    bool padded = false;       // its local header has room for a ZIP64 field
  };

  bool SizesNeedZip64(const Entry& entry) const noexcept;
  // The local header has a ZIP64 field.
  bool LocalZip64(const Entry& entry) const noexcept;
  std::vector<unsigned char> LocalHeader(const Entry& entry) const;
  void Put(const std::vector<unsigned char>& bytes);

  PackageOutput& out_;
  std::uint64_t zip64From_;
  std::vector<Entry> entries_;
  std::uint64_t offset_ = 0;
  bool streaming_ = false;  // a deflated part is open
};

}  // namespace orolith
