#include "tiles/GdalFiles.h"

#include "base/Errors.h"
#include "base/Interrupt.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <cpl_vsi_virtual.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orolith::gdal {
namespace {

// GDAL's file systems that never leave this machine: memory, archives and pieces of local files.
constexpr std::array<std::string_view, 7> LocalPrefixes{
    "/vsimem/", "/vsizip/", "/vsitar/", "/vsigzip/", "/vsisubfile/", "/vsisparse/", "/vsicrypt/"};

// GDAL's names of the network file systems, without their closing "/" or "?".
std::vector<std::string>& NetworkStems() {
  static std::vector<std::string> stems;
  return stems;
}

// A VRT's sources may be VRTs in turn; these many levels are looked into.
constexpr int MaxSourceDepth = 16;

struct XmlFree {
  void operator()(CPLXMLNode* node) const noexcept { CPLDestroyXMLNode(node); }
};
using Xml = std::unique_ptr<CPLXMLNode, XmlFree>;

// The VRT fileName as a tree; nothing when it is no VRT. A name that is the XML itself is read
// as GDAL would read it.
Xml ParsedVrt(const std::string& fileName) {
  if (fileName.starts_with("<VRTDataset")) return Xml(CPLParseXMLString(fileName.c_str()));
  std::array<char, 1024> head{};
  VSILFILE* file = VSIFOpenL(fileName.c_str(), "rb");
  if (file == nullptr) return nullptr;
  const std::size_t read = VSIFReadL(head.data(), 1, head.size() - 1, file);
  VSIFCloseL(file);
  if (std::string_view(head.data(), read).find("<VRTDataset") == std::string_view::npos) {
    return nullptr;
  }
  return Xml(CPLParseXMLFile(fileName.c_str()));
}

void CheckSources(const std::string& fileName, const std::string& shownName, int depth,
                  std::vector<std::string>& seen) {
  if (depth > MaxSourceDepth || std::find(seen.begin(), seen.end(), fileName) != seen.end()) {
    return;
  }
  seen.push_back(fileName);
  const Xml vrt = ParsedVrt(fileName);
  std::vector<const CPLXMLNode*> open{vrt.get()};
  while (!open.empty()) {
    const CPLXMLNode* node = open.back();
    open.pop_back();
    if (node == nullptr) continue;
    open.push_back(node->psNext);
    if (node->eType != CXT_Element) continue;
    open.push_back(node->psChild);
    if (!EQUAL(node->pszValue, "SourceFilename") && !EQUAL(node->pszValue, "SourceDataset")) {
      continue;
    }
    const std::string source = CPLGetXMLValue(node, nullptr, "");
    // A raster in memory names an address of this process.
    if (NamesNetwork(source) || STARTS_WITH_CI(source.c_str(), "MEM:")) {
      throw CannotOpenFile(shownName, "Only local files are read: " + source);
    }
    const bool relative = CPLTestBool(CPLGetXMLValue(node, "relativeToVRT", "NO"));
    const std::string path =
        relative && !fileName.starts_with("<")
            ? CPLProjectRelativeFilename(CPLGetPath(fileName.c_str()), source.c_str())
            : source;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
      throw CannotOpenFile(shownName, std::string(NotARegularFile) + ": " + source);
    }
    CheckSources(path, shownName, depth + 1, seen);
  }
}

bool Stopped() noexcept {
  return InterruptSignal() != 0;
}

class OfflineFileSystem final : public VSIFilesystemHandler {
 public:
  VSIVirtualHandle* Open(const char* name, const char*, bool, CSLConstList) override {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", NetworkOff, name);
    errno = EACCES;
    return nullptr;
  }
  int Stat(const char*, VSIStatBufL*, int) override {
    errno = EACCES;
    return -1;
  }
};

// A local file as GDAL reads it, whose reads give nothing once a stop has been asked for: the
// driver fails, and the caller tells the stop from a failure.
class StoppableHandle final : public VSIVirtualHandle {
 public:
  explicit StoppableHandle(VSIVirtualHandle* inner) : inner_(inner) {}

  int Seek(vsi_l_offset offset, int whence) override { return inner_->Seek(offset, whence); }
  vsi_l_offset Tell() override { return inner_->Tell(); }
  size_t Read(void* buffer, size_t size, size_t count) override {
    return Stopped() ? 0 : inner_->Read(buffer, size, count);
  }
  int ReadMultiRange(int ranges, void** data, const vsi_l_offset* offsets,
                     const size_t* sizes) override {
    return Stopped() ? -1 : inner_->ReadMultiRange(ranges, data, offsets, sizes);
  }
  size_t Write(const void* buffer, size_t size, size_t count) override {
    return inner_->Write(buffer, size, count);
  }
  int Eof() override { return inner_->Eof(); }
  int Flush() override { return inner_->Flush(); }
  int Close() override { return inner_->Close(); }
  int Truncate(vsi_l_offset size) override { return inner_->Truncate(size); }
  void* GetNativeFileDescriptor() override { return inner_->GetNativeFileDescriptor(); }
  VSIRangeStatus GetRangeStatus(vsi_l_offset offset, vsi_l_offset length) override {
    return inner_->GetRangeStatus(offset, length);
  }
  bool HasPRead() const override { return inner_->HasPRead(); }
  size_t PRead(void* buffer, size_t size, vsi_l_offset offset) const override {
    return Stopped() ? 0 : inner_->PRead(buffer, size, offset);
  }

 private:
  std::unique_ptr<VSIVirtualHandle> inner_;
};

// GDAL's own way to the local disk, wrapped.
class LocalFileSystem final : public VSIFilesystemHandler {
 public:
  explicit LocalFileSystem(VSIFilesystemHandler* inner) : inner_(inner) {}
  LocalFileSystem(const LocalFileSystem&) = delete;
  LocalFileSystem& operator=(const LocalFileSystem&) = delete;

  VSIVirtualHandle* Open(const char* name, const char* access, bool setError,
                         CSLConstList options) override {
    struct stat info {};
    if (::stat(name, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
      if (setError) CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", name, NotARegularFile);
      errno = EINVAL;
      return nullptr;
    }
    VSIVirtualHandle* handle = inner_->Open(name, access, setError, options);
    return handle == nullptr ? nullptr : new StoppableHandle(handle);
  }
  int Stat(const char* name, VSIStatBufL* info, int flags) override {
    return inner_->Stat(name, info, flags);
  }
  int Unlink(const char* name) override { return inner_->Unlink(name); }
  int Mkdir(const char* name, long mode) override { return inner_->Mkdir(name, mode); }
  int Rmdir(const char* name) override { return inner_->Rmdir(name); }
  char** ReadDirEx(const char* name, int maxFiles) override {
    return inner_->ReadDirEx(name, maxFiles);
  }
  char** SiblingFiles(const char* name) override { return inner_->SiblingFiles(name); }
  int Rename(const char* from, const char* to) override { return inner_->Rename(from, to); }
  int IsCaseSensitive(const char* name) override { return inner_->IsCaseSensitive(name); }
  GIntBig GetDiskFreeSpace(const char* name) override { return inner_->GetDiskFreeSpace(name); }
  int SupportsSparseFiles(const char* name) override { return inner_->SupportsSparseFiles(name); }
  VSIDIR* OpenDir(const char* name, int depth, const char* const* options) override {
    return inner_->OpenDir(name, depth, options);
  }
  bool IsLocal(const char* name) override { return inner_->IsLocal(name); }
  bool SupportsSequentialWrite(const char* name, bool temporary) override {
    return inner_->SupportsSequentialWrite(name, temporary);
  }
  bool SupportsRandomWrite(const char* name, bool temporary) override {
    return inner_->SupportsRandomWrite(name, temporary);
  }

 private:
  // GDAL's own, which no longer holds it.
  std::unique_ptr<VSIFilesystemHandler> inner_;
};

}  // namespace

void InstallFileSystems() {
  // GDAL deletes the handlers it holds when it ends, each once whatever its prefixes; the ones
  // replaced stay reachable here.
  static auto* replaced = new std::vector<VSIFilesystemHandler*>;
  auto* offline = new OfflineFileSystem;
  const auto install = [&](const std::string& prefix) {
    VSIFilesystemHandler* old = VSIFileManager::GetHandler(prefix.c_str());
    if (std::find(replaced->begin(), replaced->end(), old) == replaced->end()) {
      replaced->push_back(old);
    }
    VSIFileManager::InstallHandler(prefix, offline);
  };
  char** prefixes = VSIFileManager::GetPrefixes();
  std::vector<std::string> network;
  for (char** p = prefixes; p != nullptr && *p != nullptr; ++p) {
    const std::string_view prefix(*p);
    if (std::find(LocalPrefixes.begin(), LocalPrefixes.end(), prefix) == LocalPrefixes.end()) {
      network.emplace_back(prefix);
    }
  }
  CSLDestroy(prefixes);
  for (const std::string& prefix : network) {
    NetworkStems().push_back(prefix.substr(0, prefix.size() - 1));
    install(prefix);
    // "/vsicurl?url=..." has a handler of its own that the list leaves out.
    if (prefix.ends_with('/')) install(prefix.substr(0, prefix.size() - 1) + "?");
  }
  VSIFileManager::InstallHandler("", new LocalFileSystem(VSIFileManager::GetHandler("/")));
}

bool NamesNetwork(const std::string& name) {
  if (name.find("://") != std::string::npos) return true;
  return std::any_of(NetworkStems().begin(), NetworkStems().end(),
                     [&](const std::string& stem) { return name.find(stem) != std::string::npos; });
}

void RequireLocalSources(const std::string& fileName, const std::string& shownName) {
  std::vector<std::string> seen;
  CheckSources(fileName, shownName, 0, seen);
}

}  // namespace orolith::gdal
