#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/geometry.h"
#include "storage/rec_array.h"

// The in-memory contour of a shape: rings of vertices joined by straight segments and circular
// arcs, kept as nodes and arcs in record arrays. A contour read in the packed encoding keeps
// the block as read and decodes it only when its vertices are first needed.
namespace atlor {

enum class TNodeKind : uint8_t {
  nkMoveTo = 0,    // starts a ring at Point
  nkLineTo = 1,    // straight segment from the previous vertex to Point
  nkArcTo = 2,     // circular arc from the previous vertex to Point
  nkClose = 3,     // straight segment back to the ring's first vertex
  nkCloseArc = 4,  // circular arc back to the ring's first vertex
};

constexpr uint8_t kMaxNodeKind = 4;
// Nodes of these kinds carry a point of their own (and count in PointCount).
inline bool HasOwnPoint(TNodeKind kind) { return static_cast<uint8_t>(kind) <= 2; }
inline bool IsArcKind(TNodeKind kind) {
  return kind == TNodeKind::nkArcTo || kind == TNodeKind::nkCloseArc;
}

constexpr uint16_t kNoArc = 0xFFFF;
// ArcIndex is 16 bits with 0xFFFF meaning none: a contour holds at most this many arcs.
constexpr int32_t kMaxContourArcs = 0xFFFF;

#pragma pack(push, 2)
// The point of a node, laid out as a TGeoPoint but aligned to 2 bytes like the node record
// itself, so that it is never accessed as a misaligned TGeoPoint. Converts both ways by value.
struct TNodePoint {
  double X;
  double Y;
  TNodePoint() = default;
  TNodePoint(const TGeoPoint& p) : X(p.X), Y(p.Y) {}
  operator TGeoPoint() const { return TGeoPoint{X, Y}; }
};

// One vertex (20-byte record). For kinds 3 and 4 Point is the ring's first vertex.
struct TContourNode {
  TNodeKind Kind;
  TNodePoint Point;
  uint16_t ArcIndex;  // into the contour's arcs for kinds 2 and 4, kNoArc otherwise
};
#pragma pack(pop)
static_assert(alignof(TContourNode) == 2);
static_assert(sizeof(TContourNode) == 20);

// One arc (40-byte record).
struct TContourArc {
  double Bulge;
  TGeoPoint Center;
  double Sweep;  // radians, signed
  double Radius;
};
static_assert(sizeof(TContourArc) == 40);

// A packed block as read: the Int32 point-block length, the point block, the Int32
// command-block length and the command block, byte for byte.
struct TPackedContour {
  std::vector<uint8_t> Raw;
  size_t PointsSize = 0;
  size_t CommandsSize = 0;

  std::span<const uint8_t> Points() const { return {Raw.data() + 4, PointsSize}; }
  std::span<const uint8_t> Commands() const {
    return {Raw.data() + 8 + PointsSize, CommandsSize};
  }
};

// The two blocks of a packed contour, wherever they are held.
struct TPackedView {
  std::span<const uint8_t> Points;
  std::span<const uint8_t> Commands;
};

class TContour;
// Decodes a packed block into contour's nodes and arcs (replacing them) and discards its
// packed block. Raises EContourError, leaving the contour as it was, when the commands ask for
// more points than the block holds, a count or bulge is cut off, or a kind is above 4.
void Unpack(TContour& contour, const TPackedView& block);

class TContour {
 public:
  TContour() = default;
  TContour(const TContour&) = delete;
  TContour& operator=(const TContour&) = delete;

  // Discards the packed block, the nodes and the arcs.
  void Clear();
  // Becomes a copy of other (decoding other's packed block into this one, if it has one).
  void Assign(const TContour& other);

  // Queries that need the vertices decode a packed block first (EContourError if damaged).
  int32_t PointCount();
  TRecArrayOf<TContourNode>& Nodes();
  TRecArrayOf<TContourArc>& Arcs();
  // Bounds of all points and arcs; false (r untouched) without any point.
  bool GetBounds(TGeoRect& r);

  // The arrays as they are, without decoding: empty while a packed block is held.
  const TRecArrayOf<TContourNode>& StoredNodes() const { return nodes_; }
  const TRecArrayOf<TContourArc>& StoredArcs() const { return arcs_; }

  // Appends a node; for kinds 2 and 4 also an arc with bulge (its circle is computed from the
  // segment). Returns the node's index.
  int32_t AddNode(TNodeKind kind, const TGeoPoint& point, double bulge = 0);
  int32_t MoveTo(const TGeoPoint& p) { return AddNode(TNodeKind::nkMoveTo, p); }
  int32_t LineTo(const TGeoPoint& p) { return AddNode(TNodeKind::nkLineTo, p); }
  int32_t ArcTo(const TGeoPoint& p, double bulge) { return AddNode(TNodeKind::nkArcTo, p, bulge); }
  int32_t ClosePath() { return AddNode(TNodeKind::nkClose, TGeoPoint{}); }
  int32_t CloseArc(double bulge) { return AddNode(TNodeKind::nkCloseArc, TGeoPoint{}, bulge); }
  // Recomputes the circle of the arc of node index from its segment.
  void UpdateArc(int32_t index);

  bool HasPackedData() const { return packed_ != nullptr; }
  const TPackedContour* PackedData() const { return packed_.get(); }
  // Clears the contour and keeps block as its packed data, undecoded.
  void SetPackedData(std::unique_ptr<TPackedContour> block);
  // Hands the packed block over (none left).
  std::unique_ptr<TPackedContour> ReleasePackedData() { return std::move(packed_); }
  // Decodes the packed block, if any, and discards it. EContourError when it is damaged; the
  // block is then kept.
  void Decode();

 private:
  friend void Unpack(TContour& contour, const TPackedView& block);

  // Index of the first vertex of the ring that node `before` belongs to: the last move-to
  // before it, else node 0; -1 for an empty contour.
  int32_t RingStartBefore(int32_t before) const;

  int32_t point_count_ = 0;
  TRecArrayOf<TContourNode> nodes_;
  TRecArrayOf<TContourArc> arcs_;
  std::unique_ptr<TPackedContour> packed_;
};

}  // namespace atlor
