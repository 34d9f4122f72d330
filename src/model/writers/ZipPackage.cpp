#include "model/writers/ZipPackage.h"

#include <zlib.h>

#include <stdexcept>

namespace orolith {
namespace {

constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t DataDescriptorSignature = 0x08074b50;
constexpr std::uint32_t CentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t Zip64EndSignature = 0x06064b50;
constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t EndSignature = 0x06054b50;

constexpr std::uint16_t Zip64Field = 0x0001;
// The padding 3MF packages keep in a local header that may need a ZIP64 field later.
constexpr std::uint16_t PaddingField = 0x9999;
constexpr std::uint16_t Zip64FieldSize = 16;  // both sizes

constexpr std::uint16_t Version20 = 20;  // deflate
constexpr std::uint16_t Version45 = 45;  // ZIP64
constexpr std::uint16_t MadeOnUnix = 3 << 8;
constexpr std::uint16_t SizesInDescriptor = 1 << 3;
constexpr std::uint16_t Stored = 0;
constexpr std::uint16_t Deflated = 8;
constexpr std::uint32_t PlainFileMode = 0100644;
// 00:00 on 1 January 1980, the earliest time a zip can hold.
constexpr std::uint16_t DosTime = 0;
constexpr std::uint16_t DosDate = 1 << 5 | 1;

// Little-endian fields appended to a header.
class Fields {
 public:
  Fields& U16(std::uint16_t v) { return Le(v, 2); }
  Fields& U32(std::uint32_t v) { return Le(v, 4); }
  Fields& U64(std::uint64_t v) { return Le(v, 8); }
  Fields& Text(std::string_view text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  Fields& Append(const std::vector<unsigned char>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Fields& Zeros(std::size_t count) {
    bytes_.insert(bytes_.end(), count, 0);
    return *this;
  }
  std::vector<unsigned char>& Bytes() noexcept { return bytes_; }

 private:
  Fields& Le(std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) bytes_.push_back(static_cast<unsigned char>(v >> (8 * i)));
    return *this;
  }
  std::vector<unsigned char> bytes_;
};

// A 32-bit field, or the mark that says the ZIP64 record holds the value.
std::uint32_t Field32(std::uint64_t value, bool zip64) {
  return zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(value);
}

std::uint16_t NameLength(std::string_view name) {
  if (name.size() > 0xFFFF) throw std::length_error("zip part name too long");
  return static_cast<std::uint16_t>(name.size());
}

}  // namespace

ZipWriter::ZipWriter(PackageOutput& out, std::uint64_t zip64From)
    : out_(out), zip64From_(zip64From) {}

bool ZipWriter::SizesNeedZip64(const Entry& entry) const noexcept {
  return entry.size >= zip64From_ || entry.compressed >= zip64From_;
}

bool ZipWriter::LocalZip64(const Entry& entry) const noexcept {
  return SizesNeedZip64(entry) || (entry.flags & SizesInDescriptor) != 0;
}

std::vector<unsigned char> ZipWriter::LocalHeader(const Entry& entry) const {
  const bool zip64 = LocalZip64(entry);
  // A part streamed into a pipe leaves the fields to its data descriptor; its ZIP64 field, with
  // sizes of 0, tells a reader of the stream that the descriptor's sizes are 8 bytes wide.
  const bool later = (entry.flags & SizesInDescriptor) != 0;
  Fields f;
  f.U32(LocalHeaderSignature)
      .U16(zip64 ? Version45 : Version20)
      .U16(entry.flags)
      .U16(entry.method)
      .U16(DosTime)
      .U16(DosDate)
      .U32(later ? 0 : entry.crc)
      .U32(Field32(entry.compressed, zip64))
      .U32(Field32(entry.size, zip64))
      .U16(NameLength(entry.name))
      .U16(zip64 || entry.padded ? 4 + Zip64FieldSize : 0)
      .Text(entry.name);
  if (zip64) {
    f.U16(Zip64Field)
        .U16(Zip64FieldSize)
        .U64(later ? 0 : entry.size)
        .U64(later ? 0 : entry.compressed);
  } else if (entry.padded) {
    f.U16(PaddingField).U16(Zip64FieldSize).Zeros(Zip64FieldSize);
  }
  return std::move(f.Bytes());
}

void ZipWriter::Put(const std::vector<unsigned char>& bytes) {
  out_.Write(bytes.data(), bytes.size());
  offset_ += bytes.size();
}

void ZipWriter::AddStored(std::string_view name, std::string_view content) {
  if (streaming_) throw std::logic_error("zip part started inside another");
  Entry& entry = entries_.emplace_back();
  entry.name = name;
  entry.method = Stored;
  entry.crc = static_cast<std::uint32_t>(
      crc32_z(0, reinterpret_cast<const Bytef*>(content.data()), content.size()));
  entry.compressed = entry.size = content.size();
  entry.offset = offset_;
  Put(LocalHeader(entry));
  out_.Write(content.data(), content.size());
  offset_ += content.size();
}

void ZipWriter::BeginDeflated(std::string_view name) {
  if (streaming_) throw std::logic_error("zip part started inside another");
  Entry& entry = entries_.emplace_back();
  entry.name = name;
  entry.method = Deflated;
  entry.flags = out_.CanSeek() ? 0 : SizesInDescriptor;
  entry.offset = offset_;
  entry.padded = true;
  Put(LocalHeader(entry));
  streaming_ = true;
}

void ZipWriter::WriteDeflated(const void* data, std::size_t size) {
  out_.Write(data, size);
  offset_ += size;
  entries_.back().compressed += size;
}

void ZipWriter::EndDeflated(std::uint32_t crc, std::uint64_t size) {
  Entry& entry = entries_.back();
  entry.crc = crc;
  entry.size = size;
  streaming_ = false;
  if ((entry.flags & SizesInDescriptor) == 0) {
    const std::vector<unsigned char> header = LocalHeader(entry);
    out_.WriteAt(entry.offset, header.data(), header.size());
    return;
  }
  Fields f;
  f.U32(DataDescriptorSignature).U32(crc).U64(entry.compressed).U64(entry.size);
  Put(f.Bytes());
}

void ZipWriter::Finish() {
  if (streaming_) throw std::logic_error("zip archive ended inside a part");
  const std::uint64_t directory = offset_;
  bool anyZip64 = false;
  for (const Entry& entry : entries_) {
    const bool sizes = SizesNeedZip64(entry);
    const bool offset = entry.offset >= zip64From_;
    // Never below what the local header says it needs.
    const std::uint16_t version = sizes || offset || LocalZip64(entry) ? Version45 : Version20;
    anyZip64 = anyZip64 || sizes || offset;
    Fields extra;
    if (sizes) extra.U64(entry.size).U64(entry.compressed);
    if (offset) extra.U64(entry.offset);
    const auto extraSize = static_cast<std::uint16_t>(extra.Bytes().size());
    Fields f;
    f.U32(CentralHeaderSignature)
        .U16(MadeOnUnix | version)
        .U16(version)
        .U16(entry.flags)
        .U16(entry.method)
        .U16(DosTime)
        .U16(DosDate)
        .U32(entry.crc)
        .U32(Field32(entry.compressed, sizes))
        .U32(Field32(entry.size, sizes))
        .U16(NameLength(entry.name))
        .U16(extraSize > 0 ? 4 + extraSize : 0)
        .U16(0)  // comment
        .U16(0)  // disk
        .U16(0)  // internal attributes
        .U32(PlainFileMode << 16)
        .U32(Field32(entry.offset, offset))
        .Text(entry.name);
    if (extraSize > 0) f.U16(Zip64Field).U16(extraSize).Append(extra.Bytes());
    Put(f.Bytes());
  }
  const std::uint64_t directorySize = offset_ - directory;
  const bool zip64End = anyZip64 || directory >= zip64From_ || directorySize >= zip64From_;
  const auto count = static_cast<std::uint16_t>(entries_.size());
  Fields f;
  if (zip64End) {
    const std::uint64_t record = offset_;
    f.U32(Zip64EndSignature)
        .U64(44)  // what follows this field
        .U16(MadeOnUnix | Version45)
        .U16(Version45)
        .U32(0)
        .U32(0)
        .U64(count)
        .U64(count)
        .U64(directorySize)
        .U64(directory);
    f.U32(Zip64LocatorSignature).U32(0).U64(record).U32(1);
  }
  f.U32(EndSignature)
      .U16(0)
      .U16(0)
      .U16(count)
      .U16(count)
      .U32(Field32(directorySize, directorySize >= zip64From_))
      .U32(Field32(directory, directory >= zip64From_))
      .U16(0);
  Put(f.Bytes());
}

}  // namespace orolith
