#include "model/LatticeMesher.h"

#include "model/LatticeBlockMesher.h"
#include "model/LatticePiecePlan.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <thread>

namespace orolith {

using lattice::BlockMesher;
using lattice::GroupBlocks;
using lattice::MaxBlockPoints;

// The calling thread plans the piece and hands its blocks out in order; with more than one
// thread, workers mesh the blocks in a ring of slots, twice as many as workers, so that a slow
// block holds up the others only when the ring has gone round.
struct LatticeMesher::Impl {
  struct Slot {
    std::uint32_t block = 0;
    bool done = false;
    std::exception_ptr error;
    std::vector<LatticeSample> points;
    std::vector<LatticeTriangle> triangles;
    std::uint32_t removed = 0;
  };

  explicit Impl(const LatticeMeshOptions& o) : options(o) {
    options.BlockPoints =
        std::clamp<std::uint32_t>(options.BlockPoints, 2, (MaxBlockPoints - 1) / GroupBlocks + 1);
    options.Threads = std::max(1U, options.Threads);
    meshers.resize(options.Threads);
    for (BlockMesher& m : meshers) m.Reserve(GroupBlocks * (options.BlockPoints - 1) + 1);
    slots.resize(options.Threads > 1 ? 2 * options.Threads : 1);
    if (options.Threads > 1) {
      workers.reserve(options.Threads);
      for (unsigned i = 0; i < options.Threads; ++i) {
        workers.emplace_back([this, i](std::stop_token stop) { Work(stop, meshers[i]); });
      }
    }
  }

  void MeshBlock(BlockMesher& mesher, Slot& slot) const;
  void Work(const std::stop_token& stop, BlockMesher& mesher);
  void Start(Slot& slot);
  void WaitFor(const Slot& slot);
  void Drain();

  LatticeMeshOptions options;
  const LatticeHeights* heights = nullptr;
  lattice::PiecePlan plan;
  std::vector<float> line;           // a side of the outline
  std::vector<BlockMesher> meshers;  // one a thread
  std::vector<Slot> slots;
  std::mutex mutex;
  std::condition_variable_any queued;
  std::condition_variable finished;
  std::deque<Slot*> queue;            // waiting for a worker
  unsigned running = 0;               // slots a worker is meshing
  std::vector<std::jthread> workers;  // last: stopped and joined before all they use goes
};

void LatticeMesher::Impl::MeshBlock(BlockMesher& mesher, Slot& slot) const {
  const LatticeRect rect = plan.Rect(slot.block);
  float* out = mesher.Heights(rect.Columns, rect.Rows);
  heights->Fill(rect, out, rect.Columns);
  mesher.Mesh(plan.Sides(slot.block), options.MaxError);
  mesher.Output(rect, slot.points, slot.triangles);
  slot.removed = mesher.Removed();
}

void LatticeMesher::Impl::Work(const std::stop_token& stop, BlockMesher& mesher) {
  std::unique_lock lock(mutex);
  for (;;) {
    queued.wait(lock, stop, [this] { return !queue.empty(); });
    if (stop.stop_requested()) return;
    Slot& slot = *queue.front();
    queue.pop_front();
    ++running;
    lock.unlock();
    try {
      MeshBlock(mesher, slot);
    } catch (...) {
      slot.error = std::current_exception();
    }
    lock.lock();
    --running;
    slot.done = true;
    finished.notify_all();
  }
}

void LatticeMesher::Impl::Start(Slot& slot) {
  slot.done = false;
  slot.error = nullptr;
  if (workers.empty()) {
    try {
      MeshBlock(meshers.front(), slot);
    } catch (...) {
      slot.error = std::current_exception();
    }
    slot.done = true;
    return;
  }
  {
    const std::lock_guard lock(mutex);
    queue.push_back(&slot);
  }
  queued.notify_one();
}

void LatticeMesher::Impl::WaitFor(const Slot& slot) {
  if (workers.empty()) return;
  std::unique_lock lock(mutex);
  finished.wait(lock, [&] { return slot.done; });
}

// Nothing of this piece stays queued or in a worker's hands.
void LatticeMesher::Impl::Drain() {
  if (workers.empty()) return;
  std::unique_lock lock(mutex);
  queue.clear();
  finished.wait(lock, [this] { return running == 0; });
}

LatticeMesher::LatticeMesher(const LatticeMeshOptions& options)
    : impl_(std::make_unique<Impl>(options)) {}

LatticeMesher::~LatticeMesher() = default;

LatticeOutline LatticeMesher::Mesh(const LatticeHeights& heights, std::uint32_t columns,
                                   std::uint32_t rows, const BlockSink& onBlock,
                                   LatticeMeshStats* stats) {
  Impl& m = *impl_;
  if (columns == 0 || rows == 0) throw std::invalid_argument("lattice mesher: empty piece");
  m.heights = &heights;
  m.plan.Make(heights, columns, rows, m.options.BlockPoints, m.options.MaxError);

  // The outline's heights come a line of the lattice at a time, as its runs were simplified.
  LatticeOutline outline;
  const auto side = [&](const std::vector<std::uint32_t>& kept, const LatticeRect& along,
                        bool byColumn, std::vector<LatticeSample>& to) {
    m.line.resize(std::max(columns, rows) + 1);
    heights.Fill(along, m.line.data(), 1);
    for (const std::uint32_t k : kept) {
      to.push_back(byColumn ? LatticeSample{k, along.R0, m.line[k]}
                            : LatticeSample{along.Q0, k, m.line[k]});
    }
  };
  side(m.plan.South(), {0, 0, columns + 1, 1}, true, outline.South);
  side(m.plan.North(), {0, rows, columns + 1, 1}, true, outline.North);
  side(m.plan.West(), {0, 0, 1, rows + 1}, false, outline.West);
  side(m.plan.East(), {columns, 0, 1, rows + 1}, false, outline.East);

  LatticeMeshStats counted;
  const std::uint32_t blocks = m.plan.Blocks();
  counted.Blocks = blocks;
  const auto slotCount = static_cast<std::uint32_t>(m.slots.size());
  std::uint32_t next = 0;
  try {
    for (std::uint32_t emitted = 0; emitted < blocks; ++emitted) {
      while (next < blocks && next - emitted < slotCount) {
        Impl::Slot& slot = m.slots[next % slotCount];
        slot.block = next++;
        m.Start(slot);
      }
      Impl::Slot& slot = m.slots[emitted % slotCount];
      m.WaitFor(slot);
      if (slot.error) std::rethrow_exception(slot.error);
      counted.Triangles += slot.triangles.size();
      counted.Points += slot.points.size();
      counted.Removed += slot.removed;
      onBlock({slot.block, m.plan.Rect(slot.block), slot.points, slot.triangles});
    }
  } catch (...) {
    m.Drain();
    throw;
  }
  if (stats) *stats = counted;
  return outline;
}

}  // namespace orolith
