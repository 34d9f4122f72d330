#include "model/mesh/FaceSink.h"

namespace orolith {

FaceBatch::FaceBatch(FaceSink& sink) : sink_(sink) {
  chunk_.Vertices.reserve(3 * BatchFaces);
  chunk_.Triangles.reserve(BatchFaces);
}

void FaceBatch::Flush() {
  if (chunk_.Triangles.empty()) return;
  chunk_.Lattice.assign(chunk_.Vertices.size(), LatticePoint{});
  count_ += chunk_.Triangles.size();
  sink_.Encode(chunk_);
  sink_.Write(chunk_);
  chunk_.Clear();
}

}  // namespace orolith
