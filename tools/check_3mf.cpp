// Reads 3MF packages with lib3mf, another maker's reader, as a slicer would:
//   check_3mf FILE...
// For each file one line: "FILE: N vertices, M triangles" and then one line for each warning
// lib3mf gives, or "FILE: " and lib3mf's error. Exits 0 when every file read without a warning,
// 1 otherwise, 2 on a usage error.

#include <Model/COM/NMR_DLLInterfaces.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace NMR;

struct Release {
  void operator()(PLib3MFBase* p) const noexcept { lib3mf_release(p); }
};
using Handle = std::unique_ptr<PLib3MFBase, Release>;

std::string LastError(PLib3MFBase* instance) {
  DWORD code = 0;
  LPCSTR message = nullptr;
  if (lib3mf_getlasterror(instance, &code, &message) != LIB3MF_OK || message == nullptr) {
    return "lib3mf error " + std::to_string(code);
  }
  return std::string(message) + " (" + std::to_string(code) + ")";
}

// Prints what lib3mf says of the file; true when it read it without a word.
bool Check(const char* file) {
  PLib3MFModel* model = nullptr;
  if (lib3mf_createmodel(&model) != LIB3MF_OK) {
    std::printf("%s: lib3mf makes no model\n", file);
    return false;
  }
  const Handle ownModel(model);
  PLib3MFModelReader* reader = nullptr;
  if (lib3mf_model_queryreader(model, "3mf", &reader) != LIB3MF_OK) {
    std::printf("%s: %s\n", file, LastError(model).c_str());
    return false;
  }
  const Handle ownReader(reader);
  const bool read = lib3mf_reader_readfromfileutf8(reader, file) == LIB3MF_OK;
  if (!read) std::printf("%s: %s\n", file, LastError(reader).c_str());

  bool clean = read;
  DWORD warnings = 0;
  lib3mf_reader_getwarningcount(reader, &warnings);
  for (DWORD i = 0; i < warnings; ++i) {
    DWORD code = 0;
    ULONG needed = 0;
    lib3mf_reader_getwarningutf8(reader, i, &code, nullptr, 0, &needed);
    std::vector<char> text(needed + 1, '\0');
    lib3mf_reader_getwarningutf8(reader, i, &code, text.data(), static_cast<ULONG>(text.size()),
                                 &needed);
    std::printf("%s: warning %lu: %s\n", file, static_cast<unsigned long>(code), text.data());
    clean = false;
  }
  if (!read) return false;

  PLib3MFModelResourceIterator* meshes = nullptr;
  if (lib3mf_model_getmeshobjects(model, &meshes) != LIB3MF_OK) {
    std::printf("%s: %s\n", file, LastError(model).c_str());
    return false;
  }
  const Handle ownMeshes(meshes);
  unsigned long vertices = 0;
  unsigned long triangles = 0;
  BOOL more = false;
  while (lib3mf_resourceiterator_movenext(meshes, &more) == LIB3MF_OK && more) {
    PLib3MFModelResource* mesh = nullptr;
    if (lib3mf_resourceiterator_getcurrent(meshes, &mesh) != LIB3MF_OK) break;
    const Handle ownMesh(mesh);
    DWORD count = 0;
    if (lib3mf_meshobject_getvertexcount(mesh, &count) == LIB3MF_OK) vertices += count;
    if (lib3mf_meshobject_gettrianglecount(mesh, &count) == LIB3MF_OK) triangles += count;
  }
  std::printf("%s: %lu vertices, %lu triangles\n", file, vertices, triangles);
  return clean;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: check_3mf FILE...\n");
    return 2;
  }
  bool clean = true;
  for (int i = 1; i < argc; ++i) clean = Check(argv[i]) && clean;
  return clean ? 0 : 1;
}
