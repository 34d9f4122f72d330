#pragma once

#include "model/mesh/FaceSink.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace orolith {

// One chunk of a tile's piece on its way through the pipeline: a band of neighbouring cell
// columns, or whatever unit a mesher cuts a piece into.
struct Band {
  std::size_t Index = 0;            // among the tile's bands, in output order
  std::vector<std::uint8_t> Input;  // what the mesher's Prepare made for its Mesh
  MeshChunk Mesh;

 private:
  friend class BandPipeline;
  bool done_ = false;         // guarded by the pipeline's mutex
  std::exception_ptr error_;  // what Mesh or Encode threw, for the run's thread
};

// What the pipeline runs: one way of meshing a tile's piece, band by band.
class BandMesher {
 public:
  // On the run's thread, band after band in output order (band.Index is set): the part of
  // the work that must follow that order, such as random draws, and room for the faces.
  virtual void Prepare(Band& band) = 0;
  // Fills band.Mesh. On meshing thread worker (0 .. threads - 1), at the same time as other
  // workers mesh other bands; reads only what stays put while the tile's bands are in flight.
  // An exception is carried to the run's thread.
  virtual void Mesh(unsigned worker, Band& band) = 0;

 protected:
  ~BandMesher() = default;
};

// Meshes a tile's bands on worker threads and hands them to the sink in order. The run's
// thread prepares bands in order and queues them; a worker meshes a band and encodes it for
// the sink; the run's thread waits for the oldest band in flight, writes it and prepares the
// next. With one thread, the run's thread meshes each band itself. A fixed number of bands
// circulate (two a thread and one more), so memory does not grow with the region.
//
// Invariants:
// - Bands reach the sink in output order, one at a time, from the run's thread: Prepare
//   draws in that order and the sink numbers what it writes in that order, so the file is
//   the same bytes with any number of threads.
// - mutex_ guards queue_, meshing_ and each band's done_. A band belongs to one thread at a
//   time: the run's thread until it queues the band and again once it sees done_, a worker
//   from taking it off the queue until it sets done_. Each hand-over goes through the mutex,
//   which makes what one thread wrote to the band visible to the other.
// - No band is in flight outside Run: it returns, or throws, only once every band it started
//   is written or abandoned. So mesher_ and the mesher's state for a tile (the tile, the
//   piece's lattice) are written without the lock only between runs; a worker reads them only
//   while it holds a band it took off the queue under the mutex.
// - free_ and inFlight_ belong to the run's thread alone.
// - queued_ is a condition_variable_any because idle workers wait on it with their jthread's
//   stop token, so that the destructor's stop request wakes them; finished_ has only the
//   run's thread waiting on it.
// - workers_ is the last member: destroyed first, it stops and joins the workers before
//   anything they use goes.
class BandPipeline {
 public:
  // threads meshing threads, 1 for none but the run's own; the faces go to sink.
  BandPipeline(unsigned threads, FaceSink& sink);
  BandPipeline(const BandPipeline&) = delete;
  BandPipeline& operator=(const BandPipeline&) = delete;

  // Meshes bands 0 .. count - 1 of the tile the mesher is set up for and writes them to the
  // sink in order, calling written(band) on this thread after each. When anything throws
  // (the mesher, the sink, written), the bands not yet started are dropped and those being
  // meshed are waited for before the exception leaves.
  void Run(BandMesher& mesher, std::size_t count, const std::function<void(const Band&)>& written);

 private:
  void Start(Band& band);
  void MeshAndEncode(unsigned worker, Band& band) noexcept;
  void WaitFor(Band& band);
  void Abandon() noexcept;
  void Work(const std::stop_token& stop, unsigned worker);

  FaceSink& sink_;
  BandMesher* mesher_ = nullptr;
  std::vector<Band> bands_;
  std::vector<Band*> free_;
  std::deque<Band*> inFlight_;  // started, in output order
  std::mutex mutex_;
  std::condition_variable_any queued_;
  std::condition_variable finished_;
  std::deque<Band*> queue_;  // waiting for a worker
  unsigned meshing_ = 0;     // bands the workers hold
  std::vector<std::jthread> workers_;
};

// Meshing threads for a run that asks for requested: 0 for one a processor this process may
// run on, at most four.
unsigned MeshingThreads(unsigned requested);

}  // namespace orolith
