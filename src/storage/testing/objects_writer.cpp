#include "storage/testing/objects_writer.h"

#include <cmath>

#include "core/exception.h"
#include "storage/contour_codec.h"
#include "storage/map_object.h"

namespace atlor::fixtures {
namespace {

void PutPoint(TWriteBuffer& out, const TGeoPoint& p) {
  out.PutDouble(p.X);
  out.PutDouble(p.Y);
}

// A point on the arc from s to e with the given bulge: the middle of the arc.
TGeoPoint ArcMiddle(const TGeoPoint& s, const TGeoPoint& e, double bulge) {
  const double dx = e.X - s.X;
  const double dy = e.Y - s.Y;
  return TGeoPoint{(s.X + e.X) / 2 + bulge * dy / 2, (s.Y + e.Y) / 2 - bulge * dx / 2};
}

}  // namespace

Bytes EncodeGeneric(TContour& contour, int version) {
  TWriteBuffer out;
  if (version >= kStorageVersionPacked) {
    WriteContour(contour, out);
    return out.Take();
  }
  const TRecArrayOf<TContourNode>& nodes = contour.Nodes();
  const TRecArrayOf<TContourArc>& arcs = contour.Arcs();
  std::vector<int32_t> starts;
  for (int32_t i = 0; i < nodes.Count(); ++i) {
    if (nodes[i].Kind == TNodeKind::nkMoveTo) starts.push_back(i);
    ATLOR_ASSERT(i > 0 || nodes[i].Kind == TNodeKind::nkMoveTo, "ring without move-to");
  }
  starts.push_back(nodes.Count());
  const int rings = static_cast<int>(starts.size()) - 1;
  const bool closed = rings > 0 && !HasOwnPoint(nodes[starts[1] - 1].Kind);
  out.PutU8(closed ? 1 : 0);
  out.PutI16(static_cast<int16_t>(rings));
  for (int r = 0; r < rings; ++r) {
    const int32_t first = starts[r];
    int32_t end = starts[r + 1];
    double ring_bulge = 0;
    if (closed) {
      const TContourNode last = nodes[end - 1];
      ATLOR_ASSERT(!HasOwnPoint(last.Kind), "every ring closed alike");
      if (last.Kind == TNodeKind::nkCloseArc) ring_bulge = arcs[last.ArcIndex].Bulge;
      --end;
    }
    const TGeoPoint first_point = nodes[first].Point;
    const int vertices = end - first - 1;
    if (version >= kStorageVersionRingHeader) {
      out.PutI16(static_cast<int16_t>(vertices + 1));
      out.PutU8(ring_bulge != 0 ? 'a' : 's');
      if (ring_bulge != 0) out.PutDouble(ring_bulge);
      PutPoint(out, first_point);
    } else {
      ATLOR_ASSERT(ring_bulge == 0, "no closing arc before version 260");
      PutPoint(out, first_point);
      out.PutI16(static_cast<int16_t>(vertices));
    }
    TGeoPoint current = first_point;
    for (int32_t i = first + 1; i < end; ++i) {
      const TContourNode node = nodes[i];
      const TGeoPoint p = node.Point;
      if (node.Kind == TNodeKind::nkArcTo) {
        const double bulge = arcs[node.ArcIndex].Bulge;
        out.PutU8('a');
        if (version >= kStorageVersionRingHeader) {
          out.PutDouble(bulge);
        } else {
          PutPoint(out, ArcMiddle(current, p, bulge));
        }
      } else {
        ATLOR_ASSERT(node.Kind == TNodeKind::nkLineTo, "only lines and arcs inside a ring");
        out.PutU8('s');
      }
      PutPoint(out, p);
      current = p;
    }
  }
  return out.Take();
}

Bytes EncodeLineStyle(const std::vector<TGeoPoint>& points, bool closed, int version) {
  TWriteBuffer out;
  out.PutI16(static_cast<int16_t>(points.size()));
  for (const TGeoPoint& p : points) PutPoint(out, p);
  if (version >= kStorageVersionClosedFlag) out.PutU8(closed ? 1 : 0);
  return out.Take();
}

Bytes EncodePointStyle(const TGeoPoint& p) {
  TWriteBuffer out;
  PutPoint(out, p);
  return out.Take();
}

Bytes EncodeCircleStyle(const TGeoPoint& center, double radius) {
  TWriteBuffer out;
  PutPoint(out, center);
  out.PutDouble(radius);
  return out.Take();
}

Bytes EncodeStyle7Record(const TGeoPoint& origin, double scale, double angle, double a, double b,
                         double c, double d) {
  TWriteBuffer out;
  PutPoint(out, origin);
  out.PutDouble(scale);
  out.PutU8(0);
  out.PutU8(0);
  for (const double v : {angle, a, b, c, d}) out.PutDouble(v);
  return out.Take();
}

Bytes EncodePacked(const Bytes& points, const Bytes& commands) {
  TWriteBuffer out;
  out.PutI32(static_cast<int32_t>(points.size()));
  out.PutBytes(points);
  out.PutI32(static_cast<int32_t>(commands.size()));
  out.PutBytes(commands);
  return out.Take();
}

void PutHeader(TWriteBuffer& out, int version, int16_t count, bool with_header) {
  if (with_header) {
    out.PutU16(kSectorObjectsMagic);
    out.PutU16(static_cast<uint16_t>(version));
  }
  out.PutI16(count);
}

Bytes EncodeObjects(int version, const std::vector<TFixtureObject>& objects, bool with_header) {
  TWriteBuffer out;
  PutHeader(out, version, static_cast<int16_t>(objects.size()), with_header);
  for (const TFixtureObject& object : objects) {
    object.Id.Store(out.Grow(TObjectId::kStoredSize));
    for (const double v : {object.Bounds.X1, object.Bounds.Y1, object.Bounds.X2, object.Bounds.Y2})
      out.PutDouble(v);
    if (version < kStorageVersionNoExtra)
      for (size_t i = 0; i < kObjectExtraSize; ++i) out.PutU8(0xEE);
    out.PutI16(static_cast<int16_t>(object.Shapes.size()));
    for (const TFixtureShape& shape : object.Shapes) {
      if (version < kStorageVersionNoStyleCode) out.PutI16(static_cast<int16_t>(shape.Style));
      out.PutBytes(shape.Contour);
      shape.StyleId.Store(out.Grow(TObjectId::kStoredSize));
    }
  }
  return out.Take();
}

void MakePolygon(TContour& contour, std::mt19937& rng, const TGeoPoint& center, double radius,
                 int vertices, bool with_arcs, bool close_with_arc) {
  std::uniform_real_distribution<double> jitter(0.7, 1.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_real_distribution<double> bulge(-0.4, 0.4);
  const double step = 2 * 3.14159265358979323846 / vertices;
  for (int i = 0; i < vertices; ++i) {
    const double r = radius * jitter(rng);
    const TGeoPoint p{center.X + r * std::cos(i * step), center.Y + r * std::sin(i * step)};
    if (i == 0)
      contour.MoveTo(p);
    else if (with_arcs && unit(rng) < 0.2)
      contour.ArcTo(p, bulge(rng));
    else
      contour.LineTo(p);
  }
  if (with_arcs && close_with_arc && unit(rng) < 0.3)
    contour.CloseArc(bulge(rng));
  else
    contour.ClosePath();
}

Bytes MakeSectorValue(int version, int objects, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> vertex_count(5, 200);
  std::uniform_real_distribution<double> coord(0, 100000);
  std::uniform_real_distribution<double> size(10, 500);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const bool style_codes = version < kStorageVersionNoStyleCode;
  std::vector<TFixtureObject> list;
  list.reserve(static_cast<size_t>(objects));
  for (int i = 0; i < objects; ++i) {
    TFixtureObject object;
    object.Id = FormatId(static_cast<int64_t>(seed % 0xFFFF) + 1, i + 1);
    const TGeoPoint center{coord(rng), coord(rng)};
    const double radius = size(rng);
    object.Bounds = unit(rng) < 0.2 ? TGeoRect{} : TGeoRect{center.X - radius, center.Y - radius,
                                                             center.X + radius, center.Y + radius};
    const int shapes = unit(rng) < 0.8 ? 1 : 2;
    for (int s = 0; s < shapes; ++s) {
      TFixtureShape shape;
      shape.StyleId = FormatId(1, 100 + s);
      const double kind = unit(rng);
      if (style_codes && kind < 0.05) {
        shape.Style = kStylePoint;
        shape.Contour = EncodePointStyle(center);
      } else if (style_codes && kind < 0.10) {
        shape.Style = kStyleCircle;
        shape.Contour = EncodeCircleStyle(center, radius);
      } else if (style_codes && kind < 0.20) {
        shape.Style = unit(rng) < 0.5 ? kStyleOpenLine : kStyleClosedLine;
        std::vector<TGeoPoint> points;
        const int n = vertex_count(rng);
        for (int k = 0; k < n; ++k)
          points.push_back({center.X + radius * unit(rng), center.Y + radius * unit(rng)});
        shape.Contour = EncodeLineStyle(points, shape.Style == kStyleClosedLine, version);
      } else if (style_codes && kind < 0.25) {
        shape.Style = kStyleRectangle;
        if (version < kStorageVersionNoExtra) {
          shape.Contour = EncodeStyle7Record(center, 1.5, unit(rng), 0, 0, radius, radius / 2);
        } else {
          TContour c;
          c.MoveTo(center);
          c.MoveTo({center.X + radius, center.Y});
          c.MoveTo({center.X + radius, center.Y + radius});
          c.MoveTo({center.X, center.Y + radius});
          shape.Contour = EncodeGeneric(c, version);
        }
      } else {
        shape.Style = kStyleGeneric;
        TContour c;
        const bool arcs = unit(rng) < 0.3;
        // Before 260 arcs go as three points and a closing arc cannot be stored.
        MakePolygon(c, rng, center, radius, vertex_count(rng), arcs,
                    version >= kStorageVersionRingHeader);
        shape.Contour = EncodeGeneric(c, version);
      }
      object.Shapes.push_back(std::move(shape));
    }
    list.push_back(std::move(object));
  }
  return EncodeObjects(version, list, version != kStorageVersionHeaderless);
}

}  // namespace atlor::fixtures
