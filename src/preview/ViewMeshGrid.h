#pragma once

#include "preview/ViewMesh.h"

#include <cstdint>
#include <functional>
#include <span>

// What the view's readers of the two model formats share; private to src/preview.
namespace orolith {

// Whether the triangle a, b, c (x, y, z each) looks straight down, as a solid's floor does.
bool FacesStraightDown(const float* a, const float* b, const float* c) noexcept;

// Rebuilds mesh from a height grid of about nodes nodes over its bounds, as a model beyond the
// budget is: feed hands the surface's points to the sink given it, x, y, z each, in batches,
// and returns false when it was stopped (mesh is then left as it was). mesh's bounds and Solid
// are set beforehand; its walls and floor follow Solid.
using PointSink = std::function<void(std::span<const float> xyz)>;
bool RebuildFromGrid(ViewMesh& mesh, std::uint64_t nodes,
                     const std::function<bool(const PointSink&)>& feed);

// The view's mesh of the 3MF package at path (ReadViewMesh).
ViewMesh ReadThreeMfViewMesh(const std::string& path, std::uint64_t triangleBudget,
                             const std::atomic<bool>* stop);

}  // namespace orolith
