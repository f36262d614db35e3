// Stored encodings of a contour. All integers little-endian, doubles IEEE 754 binary64, Int16
// and Int32 signed; a point is two doubles X, Y (16 bytes).
//
// Packed encoding (read and written; versions 262 and later):
//
//   Int32 P            length of the point block in bytes
//   P bytes            one point for every node of kinds 0..2, in node order
//   Int32 C            length of the command block in bytes
//   C bytes            runs:
//                        kinds 0, 1, 2: kind byte, count byte N (1..255), and for kind 2 the N
//                                       bulges (doubles); the N nodes take the next N points
//                        kind 3:        kind byte; one node, no point
//                        kind 4:        kind byte and one bulge; one node, no point
//
// Ring encoding (read only; versions below 262):
//
//   byte Closed        non-zero: every ring ends with a closing node
//   Int16 RingCount
//   per ring, from version 260:   Int16 N (vertices including the first), byte H, a double
//                                 ring bulge when H = 'a', the first point
//            before version 260:  the first point, Int16 N (vertices after the first)
//   per vertex:        byte V; 's': a point (line to it); 'a': from version 260 a bulge and
//                      the end point, before it a point on the arc and the end point; any
//                      other byte: nothing more (the vertex adds no node)
//
// Style forms (the contour of a shape with a style code):
//
//   1, 2   Int16 N, N points, then from version 257 a Closed byte (before it style 2 is closed)
//   4      one point
//   5      centre point and radius (double): a circle of two half circles
//   6      the generic encoding of the version (packed or ring)
//   7      from version 261 the generic encoding; before it a 66-byte record: origin (0..15),
//          scale (16..23), two unused bytes (24, 25), angle (26..33), doubles a, b, c, d
//          (34, 42, 50, 58); either way, four points become a closed rectangle

#include "storage/contour_codec.h"

#include <limits>
#include <string>

#include "storage/storage_error.h"

namespace atlor {
namespace {

constexpr size_t kPointSize = 2 * kDoubleSize;
constexpr uint8_t kRunCountMax = 255;
constexpr uint8_t kVertexLine = 's';
constexpr uint8_t kVertexArc = 'a';

int g_storage_version = kStorageVersionCurrent;

TGeoPoint ReadPoint(TReadCursor& in) {
  const double x = in.ReadDouble();
  const double y = in.ReadDouble();
  return TGeoPoint{x, y};
}

TGeoPoint PointAt(const uint8_t* p) { return TGeoPoint{DecodeDouble(p), DecodeDouble(p + 8)}; }

// A count or length that cannot be right: the value is damaged.
[[noreturn]] void Damaged(const char* what, int64_t value, const TReadCursor& in) {
  throw EStorageDataError(std::string("Запорчены данные: ") + what + " " + std::to_string(value),
                          in.Position());
}

int32_t ReadLength32(TReadCursor& in, const char* what) {
  const int32_t n = in.ReadI32();
  if (n < 0) Damaged(what, n, in);
  return n;
}

int16_t ReadCount16(TReadCursor& in, const char* what) {
  const int16_t n = in.ReadI16();
  if (n < 0) Damaged(what, n, in);
  return n;
}

[[noreturn]] void BadBlock(const std::string& what, size_t offset) {
  throw EContourError("Ошибка в упакованном контуре: " + what, offset);
}

void ReadRings(TContour& contour, TReadCursor& in, int version) {
  const bool closed = in.ReadU8() != 0;
  const int16_t rings = ReadCount16(in, "число колец");
  for (int r = 0; r < rings; ++r) {
    double ring_bulge = 0;
    int vertices;
    TGeoPoint first;
    if (version >= kStorageVersionRingHeader) {
      vertices = ReadCount16(in, "число вершин кольца") - 1;
      if (in.ReadU8() == kVertexArc) ring_bulge = in.ReadDouble();
      first = ReadPoint(in);
      contour.MoveTo(first);
    } else {
      first = ReadPoint(in);
      contour.MoveTo(first);
      vertices = ReadCount16(in, "число вершин кольца");
    }
    TGeoPoint current = first;
    for (int i = 0; i < vertices; ++i) {
      const uint8_t v = in.ReadU8();
      if (v == kVertexLine) {
        current = ReadPoint(in);
        contour.LineTo(current);
      } else if (v == kVertexArc) {
        double bulge = 0;
        TGeoPoint end;
        if (version >= kStorageVersionRingHeader) {
          bulge = in.ReadDouble();
          end = ReadPoint(in);
        } else {
          const TGeoPoint mid = ReadPoint(in);
          end = ReadPoint(in);
          if (!BulgeFrom3Points(current, mid, end, bulge)) bulge = 0;
        }
        current = end;
        if (bulge != 0)
          contour.ArcTo(end, bulge);
        else
          contour.LineTo(end);
      }
      // Any other vertex byte stands for nothing.
    }
    if (closed) {
      if (ring_bulge != 0)
        contour.CloseArc(ring_bulge);
      else
        contour.ClosePath();
    }
  }
}

void ReadStyle7(TContour& contour, TReadCursor& in, int version) {
  TContour t;
  if (version >= kStorageVersionNoExtra) {
    ReadContour(t, in, version);
  } else {
    const uint8_t* rec = in.ReadBytes(kStyle7RecordSize).data();
    const TGeoPoint origin = PointAt(rec);
    const double s = DecodeDouble(rec + 16);
    const double angle = DecodeDouble(rec + 26);
    const double a = DecodeDouble(rec + 34);
    const double b = DecodeDouble(rec + 42);
    const double c = DecodeDouble(rec + 50);
    const double d = DecodeDouble(rec + 58);
    const TAxes f = MakeAxesAngle(origin, angle);
    t.MoveTo(origin);
    t.MoveTo(ToWorld(f, TGeoPoint{a * s, b * s}));
    t.MoveTo(ToWorld(f, TGeoPoint{c * s, b * s}));
    t.MoveTo(ToWorld(f, TGeoPoint{a * s, d * s}));
  }
  int32_t point_count;
  try {
    point_count = t.PointCount();
  } catch (const EContourError&) {
    // Like any packed contour that does not decode, it is dropped with its shape once the
    // shape has been read; the value around it is intact.
    contour.SetPackedData(t.ReleasePackedData());
    return;
  }
  if (point_count != 4) {
    contour.Assign(t);
    return;
  }
  TGeoPoint p[3];
  int found = 0;
  for (const TContourNode& node : t.Nodes()) {
    if (!HasOwnPoint(node.Kind)) continue;
    p[found++] = node.Point;
    if (found == 3) break;
  }
  const TAxes f = MakeAxes(p[0], p[1]);
  const TGeoPoint q = ToWorld(f, TGeoPoint{ToLocal(f, p[1]).X, ToLocal(f, p[2]).Y});
  contour.MoveTo(p[2]);
  contour.LineTo(q);
  contour.LineTo(p[1]);
  contour.LineTo(p[0]);
  contour.ClosePath();
}

}  // namespace

int StorageVersion() { return g_storage_version; }
void SetStorageVersion(int version) { g_storage_version = version; }

void WriteContour(const TContour& contour, TWriteBuffer& out) {
  if (const TPackedContour* packed = contour.PackedData()) {
    out.PutBytes(packed->Raw);
    return;
  }
  const TRecArrayOf<TContourNode>& nodes = contour.StoredNodes();
  const TRecArrayOf<TContourArc>& arcs = contour.StoredArcs();
  int64_t points = 0;
  for (const TContourNode& node : nodes)
    if (HasOwnPoint(node.Kind)) ++points;
  const int64_t points_size = points * static_cast<int64_t>(kPointSize);
  if (points_size > std::numeric_limits<int32_t>::max())
    throw EStorageWriteError("Слишком много точек в контуре: " + std::to_string(points));

  out.PutI32(static_cast<int32_t>(points_size));
  uint8_t* p = out.Grow(static_cast<size_t>(points_size));
  for (const TContourNode& node : nodes) {
    if (!HasOwnPoint(node.Kind)) continue;
    const TGeoPoint pt = node.Point;
    EncodeDouble(p, pt.X);
    EncodeDouble(p + 8, pt.Y);
    p += kPointSize;
  }

  const size_t length_at = out.Size();
  out.PutI32(0);
  const size_t commands_at = out.Size();
  bool in_run = false;
  TNodeKind run_kind = TNodeKind::nkMoveTo;
  uint8_t run_count = 0;
  size_t count_at = 0;
  for (const TContourNode& node : nodes) {
    const TNodeKind kind = node.Kind;
    if (!in_run || kind != run_kind || !HasOwnPoint(run_kind) || run_count == kRunCountMax) {
      out.PutU8(static_cast<uint8_t>(kind));
      in_run = true;
      run_kind = kind;
      run_count = 0;
      if (HasOwnPoint(kind)) {
        count_at = out.Size();
        out.PutU8(0);
      }
    }
    if (HasOwnPoint(kind)) out.PatchU8(count_at, ++run_count);
    if (IsArcKind(kind))
      out.PutDouble(node.ArcIndex < arcs.Count() ? arcs[node.ArcIndex].Bulge : 0.0);
  }
  const size_t commands_size = out.Size() - commands_at;
  if (commands_size > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw EStorageWriteError("Слишком много узлов в контуре: " + std::to_string(nodes.Count()));
  out.PatchI32(length_at, static_cast<int32_t>(commands_size));
}

TPackedView ReadPackedView(TReadCursor& in) {
  TPackedView view;
  const int32_t points_size = ReadLength32(in, "длина блока точек");
  view.Points = in.ReadBytes(static_cast<size_t>(points_size));
  const int32_t commands_size = ReadLength32(in, "длина блока команд");
  view.Commands = in.ReadBytes(static_cast<size_t>(commands_size));
  return view;
}

void ReadContour(TContour& contour, TReadCursor& in, int version) {
  contour.Clear();
  if (version >= kStorageVersionPacked) {
    const TPackedView view = ReadPackedView(in);
    auto block = std::make_unique<TPackedContour>();
    block->PointsSize = view.Points.size();
    block->CommandsSize = view.Commands.size();
    block->Raw.resize(8 + view.Points.size() + view.Commands.size());
    uint8_t* raw = block->Raw.data();
    EncodeFixed32(raw, static_cast<uint32_t>(view.Points.size()));
    if (!view.Points.empty()) std::memcpy(raw + 4, view.Points.data(), view.Points.size());
    raw += 4 + view.Points.size();
    EncodeFixed32(raw, static_cast<uint32_t>(view.Commands.size()));
    if (!view.Commands.empty()) std::memcpy(raw + 4, view.Commands.data(), view.Commands.size());
    contour.SetPackedData(std::move(block));
  } else {
    ReadRings(contour, in, version);
  }
}

void ReadContour(TContour& contour, TReadCursor& in) {
  ReadContour(contour, in, StorageVersion());
}

void Unpack(TContour& contour, const TPackedView& block) {
  const uint8_t* cmd = block.Commands.data();
  const size_t size = block.Commands.size();

  // First pass: check every run against the block and count nodes, points and arcs.
  int64_t nodes = 0;
  int64_t points = 0;
  int64_t arcs = 0;
  bool have_last = false;
  size_t pos = 0;
  while (pos < size) {
    const size_t run_at = pos;
    const uint8_t kind = cmd[pos++];
    if (kind > kMaxNodeKind) BadBlock("вид узла " + std::to_string(kind), run_at);
    if (HasOwnPoint(static_cast<TNodeKind>(kind))) {
      if (pos >= size) BadBlock("обрезано число узлов", run_at);
      const size_t n = cmd[pos++];
      if (kind == static_cast<uint8_t>(TNodeKind::nkArcTo)) {
        if (size - pos < n * kDoubleSize) BadBlock("обрезаны выпуклости дуг", run_at);
        for (size_t i = 0; i < n; ++i, pos += kDoubleSize) {
          if (have_last && DecodeDouble(cmd + pos) != 0) ++arcs;
          have_last = true;
        }
      } else if (n > 0) {
        have_last = true;
      }
      nodes += static_cast<int64_t>(n);
      points += static_cast<int64_t>(n);
    } else {
      if (kind == static_cast<uint8_t>(TNodeKind::nkCloseArc)) {
        if (size - pos < kDoubleSize) BadBlock("обрезана выпуклость дуги", run_at);
        if (have_last && DecodeDouble(cmd + pos) != 0) ++arcs;
        pos += kDoubleSize;
      }
      ++nodes;
    }
  }
  const size_t available = block.Points.size() / kPointSize;
  if (points > static_cast<int64_t>(available))
    BadBlock("узлов с точками " + std::to_string(points) + ", точек " + std::to_string(available),
             size);
  if (arcs > kMaxContourArcs) BadBlock("слишком много дуг: " + std::to_string(arcs), size);
  if (nodes > std::numeric_limits<int32_t>::max()) BadBlock("слишком много узлов", size);

  // Second pass: nothing can fail any more.
  TRecArrayOf<TContourNode> new_nodes;
  TRecArrayOf<TContourArc> new_arcs;
  new_nodes.SetCapacity(static_cast<int32_t>(nodes));
  new_arcs.SetCapacity(static_cast<int32_t>(arcs));
  const uint8_t* next_point = block.Points.data();
  const TGeoPoint first_point = available > 0 ? PointAt(next_point) : TGeoPoint{};
  TGeoPoint ring_start = first_point;
  TGeoPoint last{};
  have_last = false;
  const auto add_arc = [&](const TGeoPoint& from, const TGeoPoint& to, double bulge) {
    TContourArc arc{bulge, TGeoPoint{}, 0, 0};
    ArcFromBulge(from, to, bulge, arc.Center, arc.Sweep);
    arc.Radius = Distance(arc.Center, to);
    return static_cast<uint16_t>(new_arcs.Add(arc));
  };
  pos = 0;
  while (pos < size) {
    const auto kind = static_cast<TNodeKind>(cmd[pos++]);
    if (HasOwnPoint(kind)) {
      const size_t n = cmd[pos++];
      for (size_t i = 0; i < n; ++i) {
        const TGeoPoint point = PointAt(next_point);
        next_point += kPointSize;
        TContourNode node{kind, point, kNoArc};
        if (kind == TNodeKind::nkArcTo) {
          const double bulge = DecodeDouble(cmd + pos);
          pos += kDoubleSize;
          if (have_last && bulge != 0)
            node.ArcIndex = add_arc(last, point, bulge);
          else
            node.Kind = TNodeKind::nkLineTo;
        } else if (kind == TNodeKind::nkMoveTo) {
          ring_start = point;
        }
        last = point;
        have_last = true;
        new_nodes.Add(node);
      }
    } else {
      TContourNode node{kind, ring_start, kNoArc};
      if (kind == TNodeKind::nkCloseArc) {
        const double bulge = DecodeDouble(cmd + pos);
        pos += kDoubleSize;
        if (have_last && bulge != 0)
          node.ArcIndex = add_arc(last, ring_start, bulge);
        else
          node.Kind = TNodeKind::nkClose;
      }
      new_nodes.Add(node);
    }
  }

  contour.nodes_.Swap(new_nodes);
  contour.arcs_.Swap(new_arcs);
  contour.point_count_ = static_cast<int32_t>(points);
  contour.packed_.reset();
}

void ReadByStyle(TContour& contour, int style_code, TReadCursor& in, int version) {
  contour.Clear();
  switch (style_code) {
    case kStyleOpenLine:
    case kStyleClosedLine: {
      const int16_t n = ReadCount16(in, "число точек");
      for (int i = 0; i < n; ++i) contour.LineTo(ReadPoint(in));
      const bool closed = version >= kStorageVersionClosedFlag ? in.ReadU8() != 0
                                                                : style_code == kStyleClosedLine;
      if (closed) contour.ClosePath();
      break;
    }
    case kStylePoint:
      contour.MoveTo(ReadPoint(in));
      break;
    case kStyleCircle: {
      const TGeoPoint c = ReadPoint(in);
      const double r = in.ReadDouble();
      contour.MoveTo(TGeoPoint{c.X - r, c.Y});
      contour.ArcTo(TGeoPoint{c.X + r, c.Y}, 1);
      contour.CloseArc(1);
      break;
    }
    case kStyleGeneric:
      ReadContour(contour, in, version);
      break;
    case kStyleRectangle:
      ReadStyle7(contour, in, version);
      break;
    default:
      break;  // nothing stored, the contour stays empty
  }
}

void ReadByStyle(TContour& contour, int style_code, TReadCursor& in) {
  ReadByStyle(contour, style_code, in, StorageVersion());
}

}  // namespace atlor
