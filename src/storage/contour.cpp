#include "storage/contour.h"

#include <algorithm>
#include <string>

#include "storage/storage_error.h"

namespace atlor {

void TContour::Clear() {
  packed_.reset();
  nodes_.Clear();
  arcs_.Clear();
  point_count_ = 0;
}

void TContour::Assign(const TContour& other) {
  if (&other == this) return;
  Clear();
  if (other.packed_) {
    Unpack(*this, TPackedView{other.packed_->Points(), other.packed_->Commands()});
    return;
  }
  nodes_.Assign(other.nodes_);
  arcs_.Assign(other.arcs_);
  point_count_ = other.point_count_;
}

void TContour::Decode() {
  if (!packed_) return;
  // Unpack replaces the arrays only when the whole block decodes; the block stays alive (and
  // stays ours on failure) while it is read.
  std::unique_ptr<TPackedContour> block = std::move(packed_);
  try {
    Unpack(*this, TPackedView{block->Points(), block->Commands()});
  } catch (...) {
    packed_ = std::move(block);
    throw;
  }
}

int32_t TContour::PointCount() {
  Decode();
  return point_count_;
}

TRecArrayOf<TContourNode>& TContour::Nodes() {
  Decode();
  return nodes_;
}

TRecArrayOf<TContourArc>& TContour::Arcs() {
  Decode();
  return arcs_;
}

void TContour::SetPackedData(std::unique_ptr<TPackedContour> block) {
  Clear();
  packed_ = std::move(block);
}

int32_t TContour::RingStartBefore(int32_t before) const {
  for (int32_t i = std::min(before, nodes_.Count()) - 1; i >= 0; --i)
    if (nodes_[i].Kind == TNodeKind::nkMoveTo) return i;
  return nodes_.Count() > 0 ? 0 : -1;
}

int32_t TContour::AddNode(TNodeKind kind, const TGeoPoint& point, double bulge) {
  Decode();
  TContourNode node{kind, point, kNoArc};
  if (!HasOwnPoint(kind)) {
    const int32_t start = RingStartBefore(nodes_.Count());
    node.Point = start >= 0 ? TGeoPoint(nodes_[start].Point) : TGeoPoint{};
  }
  if (IsArcKind(kind)) {
    if (arcs_.Count() >= kMaxContourArcs)
      throw EStorageDataError("Слишком много дуг в контуре (не более " +
                              std::to_string(kMaxContourArcs) + ")");
    node.ArcIndex = static_cast<uint16_t>(arcs_.Add(TContourArc{bulge, TGeoPoint{}, 0, 0}));
  }
  if (HasOwnPoint(kind)) ++point_count_;
  const int32_t index = nodes_.Add(node);
  UpdateArc(index);
  return index;
}

void TContour::UpdateArc(int32_t index) {
  if (index < 1 || index >= nodes_.Count()) return;
  const TContourNode node = nodes_[index];
  if (!IsArcKind(node.Kind) || node.ArcIndex >= arcs_.Count()) return;
  TContourArc& arc = arcs_[node.ArcIndex];
  if (arc.Bulge == 0) return;
  const TContourNode prev = nodes_[index - 1];
  const bool after_close = !HasOwnPoint(prev.Kind);
  const bool to_ring_start = node.Kind == TNodeKind::nkCloseArc;
  TGeoPoint ring_start;
  if (after_close || to_ring_start) ring_start = nodes_[RingStartBefore(index)].Point;
  const TGeoPoint start = after_close ? ring_start : TGeoPoint(prev.Point);
  const TGeoPoint end = to_ring_start ? ring_start : TGeoPoint(node.Point);
  ArcFromBulge(start, end, arc.Bulge, arc.Center, arc.Sweep);
  arc.Radius = Distance(arc.Center, start);
}

bool TContour::GetBounds(TGeoRect& r) {
  Decode();
  const int32_t n = nodes_.Count();
  const TContourNode* nodes = nodes_.begin();
  // Points.
  bool found = false;
  TGeoRect bounds{};
  for (int32_t i = 0; i < n; ++i) {
    if (!HasOwnPoint(nodes[i].Kind)) continue;
    const TGeoPoint p = nodes[i].Point;
    if (!found) {
      bounds = TGeoRect{p.X, p.Y, p.X, p.Y};
      found = true;
    } else {
      IncludePoint(bounds, p);
    }
  }
  if (!found) return false;
  // Arcs: each from the preceding point, to its own point or back to the ring's start.
  if (arcs_.Count() > 0) {
    int32_t prev = -1;
    int32_t ring_start = -1;
    for (int32_t i = 0; i < n; ++i) {
      const TContourNode node = nodes[i];
      if (prev >= 0 && IsArcKind(node.Kind) && node.ArcIndex < arcs_.Count()) {
        const TContourArc& arc = arcs_[node.ArcIndex];
        const TGeoPoint end = node.Kind == TNodeKind::nkArcTo ? TGeoPoint(node.Point)
                                                               : TGeoPoint(nodes[ring_start].Point);
        const TGeoPoint start = nodes[prev].Point;
        const TGeoRect a = ArcBounds(start, end, arc.Center, arc.Bulge, arc.Sweep, arc.Radius);
        bounds = Union(bounds, a);
      }
      if (HasOwnPoint(node.Kind)) {
        if (node.Kind == TNodeKind::nkMoveTo || ring_start < 0) ring_start = i;
        prev = i;
      }
    }
  }
  r = bounds;
  return true;
}

}  // namespace atlor
