#include "model/adaptive/LatticeMesher.h"

#include "model/adaptive/BlockMesher.h"
#include "model/adaptive/LatticePiecePlan.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <thread>

namespace orolith {

using lattice::BlockMesher;
using lattice::GroupBlocks;
using lattice::MaxBlockPoints;

// The calling thread plans the piece, meshes blocks itself and hands them out in order; the
// other threads take the next block to mesh on their own, so that no block waits for a thread
// to be woken to start it. Finished blocks wait in a ring of slots for their turn, a few per
// thread, so that a thread that the system holds back stops the others only when the ring has
// gone round.
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
    slots.resize(options.Threads > 1 ? SlotsPerThread * options.Threads : 1);
    workers.reserve(options.Threads - 1);
    for (unsigned i = 1; i < options.Threads; ++i) {
      workers.emplace_back([this, i](std::stop_token stop) { Work(stop, meshers[i]); });
    }
  }

  void MeshBlock(BlockMesher& mesher, Slot& slot) const;
  MeshedBlock Handed(const Slot& slot) const {
    return {slot.block, static_cast<unsigned>(&slot - slots.data()), plan.Rect(slot.block),
            slot.points, slot.triangles};
  }
  // With the lock held: the next block to mesh may start.
  bool MayStart() const {
    return next < blocks && next - emitted < static_cast<std::uint32_t>(slots.size());
  }
  // Meshes the next block, taking the lock off meanwhile.
  void MeshNext(std::unique_lock<std::mutex>& lock, BlockMesher& mesher);
  void Work(const std::stop_token& stop, BlockMesher& mesher);
  // Until no other thread meshes a block of this piece.
  void Drain();
  // A slot keeps room for the most a base block needs; a joined block's more goes again, so
  // that the ring never holds many joined blocks' worth.
  void Trim(Slot& slot) const {
    const std::size_t points = static_cast<std::size_t>(options.BlockPoints) * options.BlockPoints;
    if (slot.points.capacity() > points) std::vector<LatticeSample>().swap(slot.points);
    if (slot.triangles.capacity() > 2 * points) std::vector<LatticeTriangle>().swap(slot.triangles);
  }

  static constexpr std::uint32_t SlotsPerThread = 4;
  LatticeMeshOptions options;
  const LatticeHeights* heights = nullptr;
  const BlockMade* made = nullptr;
  lattice::PiecePlan plan;
  std::vector<float> line;           // a side of the outline
  std::vector<BlockMesher> meshers;  // one a thread, the calling thread's first
  std::vector<Slot> slots;
  std::mutex mutex;
  std::condition_variable_any startable;  // MayStart() may have become true
  std::condition_variable finished;       // a slot is done, or a worker stopped meshing
  std::uint32_t blocks = 0;               // of the piece
  std::uint32_t next = 0;                 // the next block to start
  std::uint32_t emitted = 0;              // blocks handed out
  unsigned running = 0;                   // blocks the workers are meshing
  std::vector<std::jthread> workers;      // last: stopped and joined before all they use goes
};

void LatticeMesher::Impl::MeshBlock(BlockMesher& mesher, Slot& slot) const {
  const LatticeRect rect = plan.Rect(slot.block);
  float* out = mesher.Heights(rect.Columns, rect.Rows);
  heights->Fill(rect, out, rect.Columns);
  mesher.Mesh(plan.Sides(slot.block), options.MaxError);
  mesher.Output(rect, slot.points, slot.triangles);
  slot.removed = mesher.Removed();
  if (*made) (*made)(Handed(slot));
}

void LatticeMesher::Impl::MeshNext(std::unique_lock<std::mutex>& lock, BlockMesher& mesher) {
  Slot& slot = slots[next % slots.size()];
  slot.block = next++;
  slot.done = false;
  slot.error = nullptr;
  lock.unlock();
  try {
    MeshBlock(mesher, slot);
  } catch (...) {
    slot.error = std::current_exception();
  }
  lock.lock();
  slot.done = true;
}

void LatticeMesher::Impl::Work(const std::stop_token& stop, BlockMesher& mesher) {
  std::unique_lock lock(mutex);
  for (;;) {
    startable.wait(lock, stop, [this] { return MayStart(); });
    if (stop.stop_requested()) return;
    ++running;
    MeshNext(lock, mesher);
    --running;
    finished.notify_all();
  }
}

void LatticeMesher::Impl::Drain() {
  std::unique_lock lock(mutex);
  next = blocks;
  finished.wait(lock, [this] { return running == 0; });
}

LatticeMesher::LatticeMesher(const LatticeMeshOptions& options)
    : impl_(std::make_unique<Impl>(options)) {}

LatticeMesher::~LatticeMesher() = default;

unsigned LatticeMesher::Slots() const noexcept {
  return static_cast<unsigned>(impl_->slots.size());
}

LatticeOutline LatticeMesher::Mesh(const LatticeHeights& heights, std::uint32_t columns,
                                   std::uint32_t rows, const BlockSink& onBlock,
                                   LatticeMeshStats* stats, const BlockMade& made) {
  Impl& m = *impl_;
  if (columns == 0 || rows == 0) throw std::invalid_argument("lattice mesher: empty piece");
  m.heights = &heights;
  m.made = &made;
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
  counted.Blocks = m.plan.Blocks();
  {
    const std::lock_guard lock(m.mutex);
    m.blocks = counted.Blocks;
    m.next = 0;
    m.emitted = 0;
    // A piece that ended in an exception may have left finished slots behind.
    for (Impl::Slot& slot : m.slots) slot.done = false;
  }
  m.startable.notify_all();
  try {
    std::unique_lock lock(m.mutex);
    while (m.emitted < m.blocks) {
      Impl::Slot& slot = m.slots[m.emitted % m.slots.size()];
      // While the block whose turn it is is not done, this thread meshes the next ones too.
      while (!slot.done || slot.block != m.emitted) {
        if (m.MayStart()) {
          m.MeshNext(lock, m.meshers.front());
        } else {
          m.finished.wait(lock);
        }
      }
      lock.unlock();
      if (slot.error) std::rethrow_exception(slot.error);
      counted.Triangles += slot.triangles.size();
      counted.Points += slot.points.size();
      counted.Removed += slot.removed;
      onBlock(m.Handed(slot));
      m.Trim(slot);
      lock.lock();
      slot.done = false;
      ++m.emitted;
      m.startable.notify_all();
    }
  } catch (...) {
    m.Drain();
    throw;
  }
  if (stats) *stats = counted;
  return outline;
}

}  // namespace orolith
