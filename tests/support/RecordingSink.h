#pragma once

#include "model/mesh/FaceSink.h"
#include "model/writers/STL.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace orolith::test {

// A sink that keeps what it is given, in the order of its writes: every face, each chunk as
// it came, and which threads encoded and wrote it.
class RecordingSink : public FaceSink {
 public:
  struct Chunk {
    std::int32_t pieceLon;
    std::int32_t pieceLat;
    std::uint32_t pieceColumns;
    std::uint32_t pieceRows;
    std::vector<Vec3> vertices;
    std::vector<LatticePoint> lattice;
    std::vector<Triangle> triangles;
    bool encodedOnRunThread;
  };

  // Leaves the encoding thread's id in the chunk's bytes, for Write to read.
  void Encode(MeshChunk& chunk) const override {
    const std::size_t id = std::hash<std::thread::id>{}(std::this_thread::get_id());
    std::memcpy(chunk.Encoded.Resize(sizeof id), &id, sizeof id);
  }

  void Write(const MeshChunk& chunk) override {
    std::size_t id = 0;
    if (chunk.Encoded.Size() == sizeof id) std::memcpy(&id, chunk.Encoded.Data(), sizeof id);
    if (std::this_thread::get_id() != runThread) ++offRunThread;
    chunks.push_back({chunk.PieceLon, chunk.PieceLat, chunk.PieceColumns, chunk.PieceRows,
                      chunk.Vertices, chunk.Lattice, chunk.Triangles,
                      id == std::hash<std::thread::id>{}(runThread)});
    for (const Triangle& t : chunk.Triangles) {
      faces.AddFace(chunk.Vertices[t.A], chunk.Vertices[t.B], chunk.Vertices[t.C]);
    }
  }

  void Finish() override { ++finishes; }

  std::thread::id runThread = std::this_thread::get_id();
  std::vector<Chunk> chunks;
  TSTL faces;
  int offRunThread = 0;  // writes from another thread than the run's
  int finishes = 0;
};

}  // namespace orolith::test
