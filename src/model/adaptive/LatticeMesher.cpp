#include "model/adaptive/LatticeMesher.h"

#include "base/OrderedPipeline.h"
#include "model/adaptive/BlockMesher.h"
#include "model/adaptive/LatticePiecePlan.h"

#include <algorithm>
#include <stdexcept>

namespace orolith {

using lattice::BlockMesher;
using lattice::GroupBlocks;
using lattice::MaxBlockPoints;

// The calling thread hands out blocks that are done; meanwhile it meshes blocks itself.
constexpr auto Caller = OrderedPipeline::Owner::Helps;

// The calling thread plans the piece; the blocks then go through an ordered pipeline, meshed on
// its threads and handed out in order on the calling thread. Finished blocks wait in a few slots
// a thread for their turn, so that a thread the system holds back stops the others only when
// every slot is taken.
struct LatticeMesher::Impl {
  struct Slot {
    std::uint32_t block = 0;
    std::vector<LatticeSample> points;
    std::vector<LatticeTriangle> triangles;
    std::uint32_t removed = 0;
  };

  explicit Impl(const LatticeMeshOptions& o)
      : options(Clamped(o)),
        meshers(OrderedPipeline::MakingThreads(options.Threads, Caller)),
        slots(options.Threads > 1 ? SlotsPerThread * options.Threads : 1),
        pipeline(
            options.Threads, Caller, slots.size(),
            [this](unsigned thread, std::size_t slot) { MeshBlock(meshers[thread], slot); },
            [this](std::size_t slot) { HandOut(slot); }) {
    for (BlockMesher& m : meshers) m.Reserve(GroupBlocks * (options.BlockPoints - 1) + 1);
  }

  static LatticeMeshOptions Clamped(LatticeMeshOptions o) {
    o.BlockPoints =
        std::clamp<std::uint32_t>(o.BlockPoints, 2, (MaxBlockPoints - 1) / GroupBlocks + 1);
    o.Threads = std::max(1U, o.Threads);
    return o;
  }

  MeshedBlock Handed(std::size_t slot) const {
    const Slot& s = slots[slot];
    return {s.block, static_cast<unsigned>(slot), plan.Rect(s.block), s.points, s.triangles};
  }

  void MeshBlock(BlockMesher& mesher, std::size_t slot) {
    Slot& s = slots[slot];
    const LatticeRect rect = plan.Rect(s.block);
    float* out = mesher.Heights(rect.Columns, rect.Rows);
    heights->Fill(rect, out, rect.Columns);
    mesher.Mesh(plan.Sides(s.block), options.MaxError);
    mesher.Output(rect, s.points, s.triangles);
    s.removed = mesher.Removed();
    if (*made) (*made)(Handed(slot));
  }

  void HandOut(std::size_t slot) {
    Slot& s = slots[slot];
    counted.Triangles += s.triangles.size();
    counted.Points += s.points.size();
    counted.Removed += s.removed;
    (*onBlock)(Handed(slot));
    // A slot keeps room for the most a base block needs; a joined block's more goes again, so
    // that the slots never hold many joined blocks' worth.
    const std::size_t points = static_cast<std::size_t>(options.BlockPoints) * options.BlockPoints;
    if (s.points.capacity() > points) std::vector<LatticeSample>().swap(s.points);
    if (s.triangles.capacity() > 2 * points) std::vector<LatticeTriangle>().swap(s.triangles);
  }

  static constexpr unsigned SlotsPerThread = 4;
  LatticeMeshOptions options;
  // The piece being meshed: set before its blocks go through the pipeline, read by its threads.
  const LatticeHeights* heights = nullptr;
  const BlockMade* made = nullptr;
  const BlockSink* onBlock = nullptr;
  LatticeMeshStats counted;
  lattice::PiecePlan plan;
  std::vector<float> line;           // a side of the outline
  std::vector<BlockMesher> meshers;  // one a thread, the calling thread's first
  std::vector<Slot> slots;
  OrderedPipeline pipeline;  // last: no block in flight once it goes
};

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

  m.made = &made;
  m.onBlock = &onBlock;
  m.counted = {};
  m.counted.Blocks = m.plan.Blocks();
  m.pipeline.Run(m.counted.Blocks, [&m](std::size_t index, std::size_t slot) {
    m.slots[slot].block = static_cast<std::uint32_t>(index);
  });
  if (stats) *stats = m.counted;
  return outline;
}

}  // namespace orolith
