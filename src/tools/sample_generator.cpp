#include "tools/sample_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <set>

#include "core/encoding.h"
#include "storage/byte_stream.h"
#include "storage/contour.h"
#include "storage/contour_codec.h"
#include "storage/layers_sectors.h"
#include "storage/map_object.h"
#include "storage/schema.h"
#include "storage/testing/objects_writer.h"

namespace atlor::sample {

using fixtures::TFixtureObject;
using fixtures::TFixtureShape;

namespace {

// ---------------------------------------------------------------------------------------------
// Random numbers. Own generator and distributions (not those of the standard library, whose
// results differ between implementations), so that a seed means the same database everywhere.

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A seed for one purpose: the run's seed and up to two numbers (layer, object ...).
uint64_t SubSeed(uint64_t seed, uint64_t a, uint64_t b) {
  uint64_t state = seed;
  uint64_t s = SplitMix(state);
  state = s ^ (a * 0xD1B54A32D192ED03ull);
  s = SplitMix(state);
  state = s ^ (b * 0x8CB92BA72F3D8DD7ull);
  return SplitMix(state);
}

class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next() { return SplitMix(state_); }
  // [0, 1)
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Unit(); }
  // lo..hi, both included.
  int Int(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Chance(double p) { return Unit() < p; }
  // Roughly normal around 0 with standard deviation ~ 0.5.
  double Bell() { return Unit() + Unit() + Unit() - 1.5; }

 private:
  uint64_t state_;
};

// Purposes of sub-seeds (second argument of SubSeed together with the layer).
constexpr uint64_t kLayerParamsSeed = 0xFFFF'FFFF'0000'0001ull;
constexpr uint64_t kPlacementSeed = 0xFFFF'FFFF'0000'0002ull;
constexpr uint64_t kDamageSeed = 0xFFFF'FFFF'0000'0003ull;
constexpr uint64_t kIdentitySeed = 0xFFFF'FFFF'0000'0004ull;

// A braced globally unique identifier text made from a seed: "{XXXXXXXX-XXXX-XXXX-XXXX-
// XXXXXXXXXXXX}" with the version and variant bits of a random identifier.
std::string GuidText(uint64_t seed) {
  TRandom rng(seed);
  const uint64_t hi = (rng.Next() & ~0xF000ull) | 0x4000ull;
  const uint64_t lo = (rng.Next() & ~(3ull << 62)) | (2ull << 62);
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}",
                static_cast<unsigned>(hi >> 32), static_cast<unsigned>((hi >> 16) & 0xFFFF),
                static_cast<unsigned>(hi & 0xFFFF), static_cast<unsigned>(lo >> 48),
                static_cast<unsigned long long>(lo & 0xFFFF'FFFF'FFFFull));
  return text;
}

// ---------------------------------------------------------------------------------------------
// The geometry of map objects, independent of any encoding.

enum class TShapeKind : uint8_t { kPolygon, kPolyline, kCircle, kPoint, kRectangle };

// Styles of a layer, by the kind of shape that uses them.
constexpr int kAreaStyle = 0;
constexpr int kLineStyle = 1;
constexpr int kSymbolStyle = 2;
constexpr int kLayerStyles = 3;
constexpr const char* kStyleNames[kLayerStyles] = {"Заливка", "Линия", "Знак"};

struct TModelNode {
  TNodeKind Kind;
  TGeoPoint Point;
  double Bulge;
};

struct TModelShape {
  TShapeKind Kind = TShapeKind::kPoint;
  int Style = kSymbolStyle;
  std::vector<TModelNode> Nodes;  // the shape as a generic contour
  bool HasArcs = false;
  int Rings = 1;
  // Circle.
  TGeoPoint Center;
  double Radius = 0;
  // Rectangle: corner P0, the corners P1 (along the angle) and P2 (across it), and Q.
  TGeoPoint Corners[4];
  double Width = 0, Height = 0, Angle = 0;
};

struct TModelObject {
  std::vector<TModelShape> Shapes;
  TGeoRect Bounds;
};

struct TLayerParams {
  TGeoRect Extent;
  TGeoPoint Clusters[4];
};

// The shape as a contour. Rings before version 260 cannot close with an arc: there the closing
// arc becomes an arc back to the ring's first point and a closing line of no length.
void BuildContour(const TModelShape& shape, TContour& contour,
                  int version = kStorageVersionCurrent) {
  contour.Clear();
  TGeoPoint ring_start;
  for (const TModelNode& node : shape.Nodes) {
    if (node.Kind == TNodeKind::nkMoveTo) ring_start = node.Point;
    if (node.Kind == TNodeKind::nkCloseArc && version < kStorageVersionRingHeader) {
      contour.ArcTo(ring_start, node.Bulge);
      contour.ClosePath();
      continue;
    }
    contour.AddNode(node.Kind, node.Point, node.Bulge);
  }
}

TGeoRect ModelBounds(const TModelShape& shape) {
  TContour contour;
  BuildContour(shape, contour);
  TGeoRect r;
  contour.GetBounds(r);
  return r;
}

constexpr double kTwoPi = 6.283185307179586476925286766559;

// One closed ring of `vertices` vertices around center; some sides arcs when with_arcs.
void AddRing(TModelShape& shape, TRandom& rng, const TGeoPoint& center, double radius,
             int vertices, bool with_arcs, bool close_with_arc) {
  const double step = kTwoPi / vertices;
  const double turn = rng.Uniform(0, kTwoPi);
  for (int i = 0; i < vertices; ++i) {
    const double r = radius * rng.Uniform(0.7, 1.0);
    const double a = turn + i * step;
    const TGeoPoint p{center.X + r * std::cos(a), center.Y + r * std::sin(a)};
    if (i == 0) {
      shape.Nodes.push_back({TNodeKind::nkMoveTo, p, 0});
    } else if (with_arcs && rng.Chance(0.25)) {
      shape.Nodes.push_back({TNodeKind::nkArcTo, p, rng.Uniform(0.1, 0.5) * (rng.Chance(0.5) ? 1 : -1)});
      shape.HasArcs = true;
    } else {
      shape.Nodes.push_back({TNodeKind::nkLineTo, p, 0});
    }
  }
  if (close_with_arc) {
    shape.Nodes.push_back({TNodeKind::nkCloseArc, TGeoPoint{}, rng.Uniform(0.1, 0.4)});
    shape.HasArcs = true;
  } else {
    shape.Nodes.push_back({TNodeKind::nkClose, TGeoPoint{}, 0});
  }
}

TModelShape MakePolygon(TRandom& rng, const TGeoPoint& center, double radius) {
  TModelShape shape;
  shape.Kind = TShapeKind::kPolygon;
  shape.Style = kAreaStyle;
  const bool arcs = rng.Chance(0.4);
  const bool close_arc = arcs && rng.Chance(0.3);
  AddRing(shape, rng, center, radius, rng.Int(4, 32), arcs, close_arc);
  if (rng.Chance(0.15)) {
    AddRing(shape, rng, center, radius * 0.35, rng.Int(3, 12), false, false);
    shape.Rings = 2;
  }
  return shape;
}

TModelShape MakePolyline(TRandom& rng, const TGeoPoint& center, double radius) {
  TModelShape shape;
  shape.Kind = TShapeKind::kPolyline;
  shape.Style = kLineStyle;
  const int n = rng.Int(2, 24);
  const bool arcs = rng.Chance(0.6);
  double heading = rng.Uniform(0, kTwoPi);
  const double step = 2 * radius / n;
  TGeoPoint p{center.X + rng.Uniform(-0.5, 0.5) * radius,
              center.Y + rng.Uniform(-0.5, 0.5) * radius};
  shape.Nodes.push_back({TNodeKind::nkMoveTo, p, 0});
  for (int i = 1; i < n; ++i) {
    heading += rng.Uniform(-0.8, 0.8);
    p = TGeoPoint{p.X + step * std::cos(heading), p.Y + step * std::sin(heading)};
    if (arcs && rng.Chance(0.3)) {
      shape.Nodes.push_back({TNodeKind::nkArcTo, p, rng.Uniform(0.1, 0.6) * (rng.Chance(0.5) ? 1 : -1)});
      shape.HasArcs = true;
    } else {
      shape.Nodes.push_back({TNodeKind::nkLineTo, p, 0});
    }
  }
  return shape;
}

TModelShape MakeCircle(const TGeoPoint& center, double radius) {
  TModelShape shape;
  shape.Kind = TShapeKind::kCircle;
  shape.Style = kAreaStyle;
  shape.Center = center;
  shape.Radius = radius;
  shape.HasArcs = true;
  // As the circle style reads: two half circles.
  shape.Nodes.push_back({TNodeKind::nkMoveTo, {center.X - radius, center.Y}, 0});
  shape.Nodes.push_back({TNodeKind::nkArcTo, {center.X + radius, center.Y}, 1});
  shape.Nodes.push_back({TNodeKind::nkCloseArc, TGeoPoint{}, 1});
  return shape;
}

TModelShape MakePoint(const TGeoPoint& p) {
  TModelShape shape;
  shape.Kind = TShapeKind::kPoint;
  shape.Style = kSymbolStyle;
  shape.Center = p;
  shape.Nodes.push_back({TNodeKind::nkMoveTo, p, 0});
  return shape;
}

TModelShape MakeRectangle(TRandom& rng, const TGeoPoint& center, double radius) {
  TModelShape shape;
  shape.Kind = TShapeKind::kRectangle;
  shape.Style = kAreaStyle;
  shape.Width = radius * rng.Uniform(0.5, 2.0);
  shape.Height = radius * rng.Uniform(0.3, 1.5);
  shape.Angle = rng.Chance(0.5) ? 0.0 : rng.Uniform(0, kTwoPi / 2);
  const TGeoPoint u{std::cos(shape.Angle), std::sin(shape.Angle)};
  const TGeoPoint v{-u.Y, u.X};
  const double w = shape.Width, h = shape.Height;
  const TGeoPoint p0{center.X - w / 2 * u.X - h / 2 * v.X, center.Y - w / 2 * u.Y - h / 2 * v.Y};
  const TGeoPoint p1{p0.X + w * u.X, p0.Y + w * u.Y};
  const TGeoPoint p2{p0.X + h * v.X, p0.Y + h * v.Y};
  const TGeoPoint q{p1.X + h * v.X, p1.Y + h * v.Y};
  shape.Corners[0] = p0;
  shape.Corners[1] = p1;
  shape.Corners[2] = p2;
  shape.Corners[3] = q;
  // The order the rectangle style reads into: P2, Q, P1, P0, closed.
  shape.Nodes.push_back({TNodeKind::nkMoveTo, p2, 0});
  shape.Nodes.push_back({TNodeKind::nkLineTo, q, 0});
  shape.Nodes.push_back({TNodeKind::nkLineTo, p1, 0});
  shape.Nodes.push_back({TNodeKind::nkLineTo, p0, 0});
  shape.Nodes.push_back({TNodeKind::nkClose, TGeoPoint{}, 0});
  return shape;
}

void FinishBounds(TModelObject& object) {
  bool first = true;
  for (const TModelShape& shape : object.Shapes) {
    const TGeoRect r = ModelBounds(shape);
    object.Bounds = first ? r : Union(object.Bounds, r);
    first = false;
  }
}

// The object number `index` of a layer: the same for the same seed, layer and index.
TModelObject GenerateObject(uint64_t seed, const TLayerParams& layer) {
  TRandom rng(seed);
  const double size_pick = rng.Unit();
  const double radius = size_pick < 0.03   ? rng.Uniform(2000, 15000)
                        : size_pick < 0.25 ? rng.Uniform(400, 2000)
                                           : rng.Uniform(5, 400);
  TGeoPoint center;
  const TGeoRect& e = layer.Extent;
  if (rng.Chance(0.5)) {
    const TGeoPoint c = layer.Clusters[rng.Int(0, 3)];
    const double spread = (e.X2 - e.X1) / 15;
    center = TGeoPoint{c.X + rng.Bell() * spread, c.Y + rng.Bell() * spread};
  } else {
    center = TGeoPoint{rng.Uniform(e.X1, e.X2), rng.Uniform(e.Y1, e.Y2)};
  }
  TModelObject object;
  const double kind = rng.Unit();
  if (kind < 0.35)
    object.Shapes.push_back(MakePolygon(rng, center, radius));
  else if (kind < 0.60)
    object.Shapes.push_back(MakePolyline(rng, center, radius));
  else if (kind < 0.75)
    object.Shapes.push_back(MakeRectangle(rng, center, radius));
  else if (kind < 0.87)
    object.Shapes.push_back(MakeCircle(center, radius * rng.Uniform(0.3, 1.0)));
  else
    object.Shapes.push_back(MakePoint(center));
  if (rng.Chance(0.12)) {
    // A label point or a small circle next to the main shape.
    const TGeoPoint near{center.X + rng.Uniform(-0.3, 0.3) * radius,
                         center.Y + rng.Uniform(-0.3, 0.3) * radius};
    if (rng.Chance(0.7))
      object.Shapes.push_back(MakePoint(near));
    else
      object.Shapes.push_back(MakeCircle(near, radius * 0.1 + 1));
  }
  FinishBounds(object);
  return object;
}

// A small polygon object at p (the extra objects of the damage kinds).
TModelObject SmallObject(TRandom& rng, const TGeoPoint& p, double radius) {
  TModelObject object;
  TModelShape shape;
  shape.Kind = TShapeKind::kPolygon;
  shape.Style = kAreaStyle;
  AddRing(shape, rng, p, radius, rng.Int(6, 12), false, false);
  object.Shapes.push_back(std::move(shape));
  FinishBounds(object);
  return object;
}

// ---------------------------------------------------------------------------------------------
// Encoding in a format version.

std::vector<TGeoPoint> OwnPoints(const TModelShape& shape) {
  std::vector<TGeoPoint> points;
  for (const TModelNode& node : shape.Nodes)
    if (HasOwnPoint(node.Kind)) points.push_back(node.Point);
  return points;
}

TFixtureShape EncodeShape(const TModelShape& shape, int version, const TObjectId& style_id) {
  TFixtureShape out;
  out.StyleId = style_id;
  const bool style_codes = version < kStorageVersionNoStyleCode;
  if (style_codes) {
    switch (shape.Kind) {
      case TShapeKind::kPoint:
        out.Style = kStylePoint;
        out.Contour = fixtures::EncodePointStyle(shape.Center);
        return out;
      case TShapeKind::kCircle:
        out.Style = kStyleCircle;
        out.Contour = fixtures::EncodeCircleStyle(shape.Center, shape.Radius);
        return out;
      case TShapeKind::kPolygon:
        if (!shape.HasArcs && shape.Rings == 1) {
          out.Style = kStyleClosedLine;
          out.Contour = fixtures::EncodeLineStyle(OwnPoints(shape), true, version);
          return out;
        }
        break;
      case TShapeKind::kPolyline:
        if (!shape.HasArcs) {
          out.Style = kStyleOpenLine;
          out.Contour = fixtures::EncodeLineStyle(OwnPoints(shape), false, version);
          return out;
        }
        break;
      case TShapeKind::kRectangle: {
        out.Style = kStyleRectangle;
        if (version < kStorageVersionNoExtra) {
          // The fixed record: in the frame at P0 turned by Angle - t, with tan t = h / w, the
          // corners P1 = (w cos t, w sin t) and P2 = (-h sin t, h cos t) share their y.
          const double t = std::atan2(shape.Height, shape.Width);
          const double a = shape.Width * std::cos(t), b = shape.Width * std::sin(t);
          const double c = -shape.Height * std::sin(t), d = shape.Height * std::cos(t);
          out.Contour =
              fixtures::EncodeStyle7Record(shape.Corners[0], 1.0, shape.Angle - t, a, b, c, d);
        } else {
          // Four corners as moves: P0, P1, P2 and the fourth.
          TContour corners;
          for (const TGeoPoint& p : shape.Corners) corners.MoveTo(p);
          out.Contour = fixtures::EncodeGeneric(corners, version);
        }
        return out;
      }
    }
  }
  out.Style = kStyleGeneric;
  TContour contour;
  BuildContour(shape, contour, version);
  out.Contour = fixtures::EncodeGeneric(contour, version);
  return out;
}

// The bounds of a shape as the program reads it back.
TGeoRect DecodedBounds(const TFixtureShape& shape, int version) {
  TContour contour;
  TReadCursor in(shape.Contour);
  ReadByStyle(contour, version >= kStorageVersionNoStyleCode ? kStyleGeneric : shape.Style, in,
              version);
  TGeoRect r;
  contour.GetBounds(r);
  return r;
}

TFixtureObject EncodeObject(const TModelObject& model, const TObjectId& id, int version,
                            const TObjectId (&styles)[kLayerStyles]) {
  TFixtureObject object;
  object.Id = id;
  bool first = true;
  for (const TModelShape& shape : model.Shapes) {
    TFixtureShape encoded = EncodeShape(shape, version, styles[shape.Style]);
    const TGeoRect r = DecodedBounds(encoded, version);
    object.Bounds = first ? r : Union(object.Bounds, r);
    first = false;
    object.Shapes.push_back(std::move(encoded));
  }
  return object;
}

fixtures::Bytes EncodeValue(int version, const std::vector<TFixtureObject>& objects) {
  return fixtures::EncodeObjects(version, objects, version != kStorageVersionHeaderless);
}

// ---------------------------------------------------------------------------------------------
// The plan: every row before anything is written.

struct TExtra {
  TDamageKind Kind;
  std::string IdText;       // as written (invalid for kBadId)
  TModelObject Model;       // id, truncated, contour (its sound shape)
  int DuplicateOf = -1;     // duplicate: the layer's object number
};

struct TPlanSector {
  TGeoRect Bounds;
  int Children[4] = {-1, -1, -1, -1};
  int Depth = 0;
  bool Chain = false;  // deep trees: on the path split down to the bottom
  std::vector<int> Objects;
  int Version = kStorageVersionCurrent;
  TObjectId Id;
  bool HeaderDamaged = false;
  bool Damaged = false;               // chosen for a damage kind
  std::vector<TExtra> Middle;         // after the sound objects
  std::optional<TExtra> Last;         // ends the value
};

struct TPlanLayer {
  int Index = 0;
  TObjectId Id;
  TObjectId PlaneId;
  std::string Name;
  TTreeShape Tree = TTreeShape::kGood;
  TLayerParams Params;
  TObjectId Styles[kLayerStyles];
  std::vector<TObjectId> ObjectIds;
  std::vector<TGeoRect> ObjectBounds;
  std::vector<int> ObjectSector;
  std::vector<TPlanSector> Sectors;
};

struct TPlanMap {
  TObjectId AreaId, Id;
  std::string AreaName, Name;
};

constexpr int kSplitThreshold = 256;
constexpr int kDeepFullDepth = 3;
constexpr int kDeepChainDepth = 12;

int AddSector(std::vector<TPlanSector>& sectors, const TGeoRect& bounds, int depth) {
  TPlanSector s;
  s.Bounds = bounds;
  s.Depth = depth;
  sectors.push_back(std::move(s));
  return static_cast<int>(sectors.size()) - 1;
}

void SplitSector(std::vector<TPlanSector>& sectors, int index) {
  const TGeoRect bounds = sectors[static_cast<size_t>(index)].Bounds;
  const int depth = sectors[static_cast<size_t>(index)].Depth;
  for (int q = 0; q < 4; ++q) {
    const int child = AddSector(sectors, QuadrantOf(bounds, q), depth + 1);
    sectors[static_cast<size_t>(index)].Children[q] = child;
  }
}

// The child of sector that holds r wholly (the later quadrant wins on a shared edge), or -1.
int ChildHolding(const std::vector<TPlanSector>& sectors, int sector, const TGeoRect& r) {
  for (int q = 3; q >= 0; --q) {
    const int child = sectors[static_cast<size_t>(sector)].Children[q];
    if (child >= 0 && Contains(sectors[static_cast<size_t>(child)].Bounds, r)) return child;
  }
  return -1;
}

// True when r fits one of the quadrants of sector.
bool FitsQuadrant(const TGeoRect& sector, const TGeoRect& r) {
  for (int q = 0; q < 4; ++q)
    if (Contains(QuadrantOf(sector, q), r)) return true;
  return false;
}

// A value holds at most 32767 objects. A sector holding more (in the order of the list, so
// that the children of a split come after it) keeps the objects that fit none of its quadrants
// and fills up with others in turn; the rest go down into its quadrants (split for that when it
// is a leaf), which are relieved the same way.
void RelieveOverfullSectors(TPlanLayer& layer) {
  std::vector<TPlanSector>& sectors = layer.Sectors;
  for (size_t i = 0; i < sectors.size(); ++i) {
    if (static_cast<int>(sectors[i].Objects.size()) <= kMaxSectorObjects) continue;
    if (sectors[i].Children[0] < 0) SplitSector(sectors, static_cast<int>(i));
    std::vector<int> objects;
    objects.swap(sectors[i].Objects);
    std::vector<int> movable;
    for (const int object : objects) {
      if (FitsQuadrant(sectors[i].Bounds, layer.ObjectBounds[static_cast<size_t>(object)]))
        movable.push_back(object);
      else
        sectors[i].Objects.push_back(object);
    }
    for (const int object : movable) {
      if (static_cast<int>(sectors[i].Objects.size()) < kMaxSectorObjects) {
        sectors[i].Objects.push_back(object);
        continue;
      }
      const int child =
          ChildHolding(sectors, static_cast<int>(i), layer.ObjectBounds[static_cast<size_t>(object)]);
      sectors[static_cast<size_t>(child)].Objects.push_back(object);
    }
  }
}

// Everything in the root, as far as one value holds it.
void BuildRootTree(TPlanLayer& layer) {
  const int root = AddSector(layer.Sectors, layer.Params.Extent, 0);
  for (int i = 0; i < static_cast<int>(layer.ObjectBounds.size()); ++i)
    layer.Sectors[static_cast<size_t>(root)].Objects.push_back(i);
  RelieveOverfullSectors(layer);
}

void BuildGoodTree(TPlanLayer& layer) {
  std::vector<TPlanSector>& sectors = layer.Sectors;
  const int root = AddSector(sectors, layer.Params.Extent, 0);
  for (int i = 0; i < static_cast<int>(layer.ObjectBounds.size()); ++i)
    sectors[static_cast<size_t>(root)].Objects.push_back(i);
  for (size_t i = 0; i < sectors.size(); ++i) {
    if (static_cast<int>(sectors[i].Objects.size()) <= kSplitThreshold) continue;
    TGeoRect quadrants[4];
    for (int q = 0; q < 4; ++q) quadrants[q] = QuadrantOf(sectors[i].Bounds, q);
    const bool can_split = std::any_of(
        sectors[i].Objects.begin(), sectors[i].Objects.end(), [&](int object) {
          const TGeoRect& r = layer.ObjectBounds[static_cast<size_t>(object)];
          return std::any_of(std::begin(quadrants), std::end(quadrants),
                             [&](const TGeoRect& quadrant) { return Contains(quadrant, r); });
        });
    if (!can_split) continue;
    SplitSector(sectors, static_cast<int>(i));
    std::vector<int> objects;
    objects.swap(sectors[i].Objects);
    for (const int object : objects) {
      const int child =
          ChildHolding(sectors, static_cast<int>(i), layer.ObjectBounds[static_cast<size_t>(object)]);
      sectors[static_cast<size_t>(child >= 0 ? child : static_cast<int>(i))].Objects.push_back(object);
    }
  }
}

void BuildDeepTree(TPlanLayer& layer, uint64_t seed) {
  std::vector<TPlanSector>& sectors = layer.Sectors;
  const int root = AddSector(sectors, layer.Params.Extent, 0);
  sectors[static_cast<size_t>(root)].Chain = true;
  for (size_t i = 0; i < sectors.size(); ++i) {
    const bool chain = sectors[i].Chain;
    const int depth = sectors[i].Depth;
    if (depth < kDeepFullDepth || (chain && depth < kDeepChainDepth)) {
      SplitSector(sectors, static_cast<int>(i));
      sectors[static_cast<size_t>(sectors[i].Children[0])].Chain = chain;
    }
  }
  // Each object into one of the sectors holding it, picked at random from the root down.
  TRandom rng(SubSeed(seed, static_cast<uint64_t>(layer.Index), kPlacementSeed));
  std::vector<int> path;
  for (int i = 0; i < static_cast<int>(layer.ObjectBounds.size()); ++i) {
    const TGeoRect& r = layer.ObjectBounds[static_cast<size_t>(i)];
    path.assign(1, root);
    for (int child = ChildHolding(sectors, root, r); child >= 0;
         child = ChildHolding(sectors, child, r))
      path.push_back(child);
    const int pick = path[static_cast<size_t>(rng.Int(0, static_cast<int>(path.size()) - 1))];
    sectors[static_cast<size_t>(pick)].Objects.push_back(i);
  }
  RelieveOverfullSectors(layer);
}

TTreeShape LayerTree(TTreeShape asked, int layer) {
  if (asked != TTreeShape::kMixed) return asked;
  static constexpr TTreeShape kCycle[3] = {TTreeShape::kRoot, TTreeShape::kDeep, TTreeShape::kGood};
  return kCycle[layer % 3];
}

std::string SectorCountError(const TPlanLayer& layer, const TPlanSector& sector, int count) {
  return "В секторе " + sector.Id.Str() + " слоя \"" + layer.Name + "\" (дерево " +
         std::string(TreeShapeName(layer.Tree)) + ") оказалось бы " + std::to_string(count) +
         " объектов, а в одном секторе помещается не более " + std::to_string(kMaxSectorObjects) +
         ": уменьшите --objects, увеличьте --layers или выберите другое дерево";
}

class TIdIssuer {
 public:
  TObjectId Next() { return FormatId(kSampleIdGroup, ++number_); }
  TObjectId Last() const { return FormatId(kSampleIdGroup, number_); }
  int64_t LastNumber() const { return number_; }

 private:
  int64_t number_ = kSampleFirstIdNumber;
};

struct TPlan {
  std::vector<TPlanMap> Maps;
  std::vector<TPlanLayer> Layers;
  std::vector<TDamageReport> Damage;
  TObjectId LastId;
  int64_t LastNumber = 0;
  int Objects = 0;
  int Sectors = 0;
};

// The objects a sector's value will announce.
int Load(const TPlanSector& sector) {
  return static_cast<int>(sector.Objects.size() + sector.Middle.size()) + (sector.Last ? 1 : 0);
}

// Picks the sector for one damage kind: the first layer from `start` on (in turn) that has a
// suitable sector not yet chosen, its fullest one; for the header kind, which loses what the
// sector holds, the emptiest sector of all layers (the first found from `start` on). Returns
// {layer, sector} or {-1, -1}.
std::pair<int, int> PickDamageSector(const TPlan& plan, TDamageKind kind, int start) {
  const int layers = static_cast<int>(plan.Layers.size());
  const bool header = kind == TDamageKind::kHeader;
  // Room for the extra object (and for a duplicate's copy in the root).
  const int room = header ? 0 : kind == TDamageKind::kDuplicate ? 2 : 1;
  std::pair<int, int> best{-1, -1};
  int best_load = 0;
  for (int step = 0; step < layers; ++step) {
    const int l = (start + step) % layers;
    const TPlanLayer& layer = plan.Layers[static_cast<size_t>(l)];
    for (int s = 0; s < static_cast<int>(layer.Sectors.size()); ++s) {
      const TPlanSector& sector = layer.Sectors[static_cast<size_t>(s)];
      if (sector.Damaged) continue;
      if (kind == TDamageKind::kBadContour && sector.Version < kStorageVersionPacked) continue;
      if (kind == TDamageKind::kDuplicate && sector.Objects.empty()) continue;
      if (header && !sector.Middle.empty()) continue;  // a root holding a duplicate's copy
      const int load = Load(sector);
      if (load + room > kMaxSectorObjects) continue;
      if (best.first < 0 || (header ? load < best_load : load > best_load)) {
        best = {l, s};
        best_load = load;
      }
    }
    if (best.first >= 0 && !header) break;
  }
  return best;
}

void PlanDamage(TPlan& plan, const TSampleOptions& options, TIdIssuer& ids) {
  if (options.Damage.empty()) return;
  TRandom rng(SubSeed(options.Seed, 0, kDamageSeed));
  for (size_t k = 0; k < options.Damage.size(); ++k) {
    const TDamageKind kind = options.Damage[k];
    const auto [l, s] =
        PickDamageSector(plan, kind, static_cast<int>(k % plan.Layers.size()));
    if (l < 0) {
      std::string why = "Нет сектора для повреждения \"" + std::string(DamageKindName(kind)) + "\"";
      if (kind == TDamageKind::kBadContour)
        why += ": нужен сектор версии 262 или новее (укажите такую версию в --versions)";
      else if (kind == TDamageKind::kDuplicate)
        why += ": нужен сектор с объектами";
      else
        why += ": каждому повреждению нужен свой сектор (увеличьте --layers или выберите "
               "другое дерево)";
      throw ESampleOptionsError(why);
    }
    TPlanLayer& layer = plan.Layers[static_cast<size_t>(l)];
    TPlanSector& sector = layer.Sectors[static_cast<size_t>(s)];
    sector.Damaged = true;

    TDamageReport report;
    report.Kind = kind;
    report.LayerId = layer.Id;
    report.SectorId = sector.Id;
    report.Version = sector.Version;
    const std::string sector_text = sector.Id.Str();
    const TGeoPoint centre = Center(sector.Bounds);
    const double radius =
        std::max(1.0, std::min(50.0, (sector.Bounds.X2 - sector.Bounds.X1) / 8));
    TExtra extra{kind, std::string(), TModelObject(), -1};
    switch (kind) {
      case TDamageKind::kHeader:
        sector.HeaderDamaged = true;
        report.LostObjects = static_cast<int>(sector.Objects.size());
        report.ExpectedLog.push_back("Ошибка. Ошибка при загрузке заголовка сектора " + sector_text);
        break;
      case TDamageKind::kBadId: {
        // Lower-case letters: not an identifier (a last digit becomes a letter first).
        std::string text = ids.Next().Str();
        if (text.back() >= '0' && text.back() <= '9') text.back() = static_cast<char>('A' + (text.back() - '0') % 6);
        for (char& c : text)
          if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        extra.IdText = text;
        extra.Model = SmallObject(rng, centre, radius);
        report.ObjectId = text;
        report.ExpectedLog.push_back("Ошибка. Не могу загрузить сектор " + sector_text +
                                     ". Потерянно 1 объектов");
        sector.Last = std::move(extra);
        break;
      }
      case TDamageKind::kTruncated:
        extra.IdText = ids.Next().Str();
        extra.Model = SmallObject(rng, centre, radius);
        report.ObjectId = extra.IdText;
        report.ExpectedLog.push_back("Ошибка. Не могу загрузить сектор " + sector_text +
                                     ". Потерянно 1 объектов");
        sector.Last = std::move(extra);
        break;
      case TDamageKind::kBadContour:
        extra.IdText = ids.Next().Str();
        extra.Model = SmallObject(rng, centre, radius);
        report.ObjectId = extra.IdText;
        report.ExpectedLog.push_back("Ошибка в контуре (стиль " + layer.Styles[kAreaStyle].Str() +
                                     "), объекта " + extra.IdText + ". Контур потерян");
        sector.Middle.push_back(std::move(extra));
        break;
      case TDamageKind::kNoShapes:
        extra.IdText = ids.Next().Str();
        extra.Model = SmallObject(rng, centre, radius);  // its bounds only
        report.ObjectId = extra.IdText;
        report.ExpectedLog.push_back("Ошибка. Объект " + extra.IdText +
                                     " не содержит ни одного контура");
        report.ExpectedLog.push_back("Объект " + extra.IdText + " не загружен");
        sector.Middle.push_back(std::move(extra));
        break;
      case TDamageKind::kDuplicate: {
        const int object = sector.Objects.front();
        extra.DuplicateOf = object;
        extra.IdText = layer.ObjectIds[static_cast<size_t>(object)].Str();
        report.ObjectId = extra.IdText;
        sector.Middle.push_back(extra);
        if (s != 0 && !layer.Sectors[0].HeaderDamaged &&
            Load(layer.Sectors[0]) < kMaxSectorObjects) {
          layer.Sectors[0].Middle.push_back(extra);
          report.OtherSectorId = layer.Sectors[0].Id;
        }
        break;
      }
    }
    plan.Damage.push_back(std::move(report));
  }
}

TLayerParams MakeLayerParams(uint64_t seed, int layer) {
  TLayerParams params;
  params.Extent = kSampleExtent;
  TRandom rng(SubSeed(seed, static_cast<uint64_t>(layer), kLayerParamsSeed));
  const TGeoRect& e = params.Extent;
  for (TGeoPoint& c : params.Clusters)
    c = TGeoPoint{rng.Uniform(e.X1 + (e.X2 - e.X1) / 10, e.X2 - (e.X2 - e.X1) / 10),
                  rng.Uniform(e.Y1 + (e.Y2 - e.Y1) / 10, e.Y2 - (e.Y2 - e.Y1) / 10)};
  return params;
}

uint64_t ObjectSeed(uint64_t seed, int layer, int object) {
  return SubSeed(seed, static_cast<uint64_t>(layer), static_cast<uint64_t>(object));
}

void Tell(const TSampleOptions& options, const std::string& text) {
  if (options.Progress) options.Progress(text);
}

TPlan MakePlan(const TSampleOptions& options) {
  TPlan plan;
  TIdIssuer ids;

  for (int m = 0; m < options.Maps; ++m) {
    TPlanMap map;
    map.AreaId = ids.Next();
    map.Id = ids.Next();
    map.AreaName = "Район " + std::to_string(m + 1);
    map.Name = "Карта " + std::to_string(m + 1);
    plan.Maps.push_back(std::move(map));
  }
  for (int l = 0; l < options.Layers; ++l) {
    TPlanLayer layer;
    layer.Index = l;
    layer.Id = ids.Next();
    layer.PlaneId = plan.Maps[static_cast<size_t>(l % options.Maps)].Id;
    layer.Name = "Слой " + std::to_string(l + 1);
    layer.Tree = LayerTree(options.Tree, l);
    layer.Params = MakeLayerParams(options.Seed, l);
    plan.Layers.push_back(std::move(layer));
  }

  int sector_number = 0;
  for (TPlanLayer& layer : plan.Layers) {
    const int l = layer.Index;
    const int count = options.Objects / options.Layers + (l < options.Objects % options.Layers ? 1 : 0);
    Tell(options, layer.Name + ": " + std::to_string(count) + " объектов, дерево " +
                        std::string(TreeShapeName(layer.Tree)));
    for (TObjectId& style : layer.Styles) style = ids.Next();
    layer.ObjectIds.reserve(static_cast<size_t>(count));
    layer.ObjectBounds.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      layer.ObjectIds.push_back(ids.Next());
      layer.ObjectBounds.push_back(GenerateObject(ObjectSeed(options.Seed, l, i), layer.Params).Bounds);
    }
    switch (layer.Tree) {
      case TTreeShape::kRoot:
        BuildRootTree(layer);
        break;
      case TTreeShape::kDeep:
        BuildDeepTree(layer, options.Seed);
        break;
      default:
        BuildGoodTree(layer);
        break;
    }
    layer.ObjectSector.assign(static_cast<size_t>(count), -1);
    for (int s = 0; s < static_cast<int>(layer.Sectors.size()); ++s) {
      TPlanSector& sector = layer.Sectors[static_cast<size_t>(s)];
      sector.Id = ids.Next();
      sector.Version = options.Versions[static_cast<size_t>(sector_number++) % options.Versions.size()];
      for (const int object : sector.Objects) layer.ObjectSector[static_cast<size_t>(object)] = s;
    }
    plan.Objects += count;
    plan.Sectors += static_cast<int>(layer.Sectors.size());
  }

  PlanDamage(plan, options, ids);

  for (const TPlanLayer& layer : plan.Layers)
    for (const TPlanSector& sector : layer.Sectors) {
      const int count = Load(sector);
      if (count > kMaxSectorObjects)
        throw ESampleOptionsError(SectorCountError(layer, sector, count));
    }
  plan.LastId = ids.Last();
  plan.LastNumber = ids.LastNumber();
  return plan;
}

// ---------------------------------------------------------------------------------------------
// Writing.

Value IdValue(const TObjectId& id) { return id.Empty() ? Value::Null() : Value(id.Str()); }

class TInserter {
 public:
  TInserter(IArDb& db, const std::string& table, std::initializer_list<TArDbParam> fields)
      : command_(BuildInsertCommand(db, table, std::vector<TArDbParam>(fields), true)) {}
  void Insert(std::initializer_list<Value> values) { command_->Execute(values); }

 private:
  IntfPtr<IArDbSQLCommand> command_;
};

fixtures::Bytes SectorValue(const TPlanLayer& layer, const TPlanSector& sector,
                            const TSampleOptions& options) {
  if (sector.HeaderDamaged) return fixtures::Bytes{0xF3, 0xFF, 0x1E};  // cut inside the version
  const int version = sector.Version;
  std::vector<TFixtureObject> objects;
  objects.reserve(sector.Objects.size() + sector.Middle.size() + 1);
  for (const int i : sector.Objects)
    objects.push_back(EncodeObject(GenerateObject(ObjectSeed(options.Seed, layer.Index, i), layer.Params),
                                   layer.ObjectIds[static_cast<size_t>(i)], version, layer.Styles));
  for (const TExtra& extra : sector.Middle) {
    switch (extra.Kind) {
      case TDamageKind::kDuplicate:
        objects.push_back(EncodeObject(
            GenerateObject(ObjectSeed(options.Seed, layer.Index, extra.DuplicateOf), layer.Params),
            layer.ObjectIds[static_cast<size_t>(extra.DuplicateOf)], version, layer.Styles));
        break;
      case TDamageKind::kBadContour: {
        TFixtureObject object =
            EncodeObject(extra.Model, TObjectId(extra.IdText), version, layer.Styles);
        // One point, and commands that ask for three.
        TWriteBuffer point;
        point.PutDouble(Center(object.Bounds).X);
        point.PutDouble(Center(object.Bounds).Y);
        TFixtureShape bad;
        bad.Style = kStyleGeneric;
        bad.Contour = fixtures::EncodePacked(point.Take(), fixtures::Bytes{0x00, 0x03});
        bad.StyleId = layer.Styles[kAreaStyle];
        object.Shapes.push_back(std::move(bad));
        objects.push_back(std::move(object));
        break;
      }
      default: {  // kNoShapes
        TFixtureObject object;
        object.Id = TObjectId(extra.IdText);
        object.Bounds = extra.Model.Bounds;
        objects.push_back(std::move(object));
        break;
      }
    }
  }
  if (!sector.Last) return EncodeValue(version, objects);
  objects.push_back(EncodeObject(sector.Last->Model, TObjectId(sector.Last->IdText), version,
                                 layer.Styles));
  fixtures::Bytes value = EncodeValue(version, objects);
  if (sector.Last->Kind == TDamageKind::kTruncated) {
    const size_t size = EncodeValue(version, {objects.back()}).size() - EncodeValue(version, {}).size();
    value.resize(value.size() - std::max<size_t>(1, size / 2));
  }
  return value;
}

void CreateTables(IArDb& db) {
  for (const AtlorTableSchema& table : kAtlorTables)
    CreateTableFromDefs(db, std::string(table.Name), table.Fields, table.Indexes);
}

void WritePlan(IArDb& db, const TPlan& plan, const TSampleOptions& options,
               const std::string& db_id, const std::string& caption) {
  {
    TInserter dbinfo(db, "ATLOR_DBINFO",
                     {StringParam("DBID"), StringParam("DBCAPTION"), IntegerParam("IDGROUP"),
                      IntegerParam("IDNUMBER"), IntegerParam("VERSION")});
    dbinfo.Insert({Value(db_id), Value(caption), Value(int32_t{kSampleIdGroup}),
                   Value(static_cast<int32_t>(plan.LastNumber)),
                   Value(int32_t{kSampleDatabaseVersion})});
    TInserter idmaper(db, "ATLOR_IDMAPER",
                      {IntegerParam("IDCLASS"), IntegerParam("LOCALID"), StringParam("GLOBALID")});
    idmaper.Insert({Value(int32_t{0}), Value(int32_t{kSampleIdGroup}),
                    Value(GuidText(SubSeed(options.Seed, 1, kIdentitySeed)))});
  }
  {
    TInserter areas(db, "ATLOR_AREAS",
                    {StringParam("ID"), StringParam("AREANAME"), FloatParam("BOUNDSL"),
                     FloatParam("BOUNDSR"), FloatParam("BOUNDST"), FloatParam("BOUNDSB"),
                     IntegerParam("MEASUREMENT"), IntegerParam("NORTHANGLE")});
    TInserter maps(db, "ATLOR_MAPS",
                   {StringParam("ID"), StringParam("GPID"), StringParam("MAPNAME"),
                    IntegerParam("MAPTYPE"), FloatParam("VISIBLEMIN"), FloatParam("VISIBLEMAX")});
    for (const TPlanMap& map : plan.Maps) {
      const TGeoRect& e = kSampleExtent;
      areas.Insert({Value(map.AreaId.Str()), Value(map.AreaName), Value(e.X1), Value(e.X2),
                    Value(e.Y2), Value(e.Y1), Value(int32_t{0}), Value(int32_t{0})});
      maps.Insert({Value(map.Id.Str()), Value(map.AreaId.Str()), Value(map.Name),
                   Value(int32_t{0}), Value(0.0), Value(1e6)});
    }
  }
  TInserter layers(db, "ATLOR_LAYERS",
                   {StringParam("ID"), StringParam("PLANEID"), StringParam("LAYERNAME"),
                    FloatParam("VISIBLEMIN"), FloatParam("VISIBLEMAX"),
                    StringParam("ROOTSECTORID")});
  TInserter styles(db, "ATLOR_STYLES",
                   {StringParam("ID"), StringParam("LAYERID"), StringParam("STYLENAME"),
                    BinaryParam("DATA")});
  TInserter sectors(db, "ATLOR_SECTORS",
                    {StringParam("ID"), StringParam("LAYERID"), FloatParam("BOUNDSL"),
                     FloatParam("BOUNDSR"), FloatParam("BOUNDST"), FloatParam("BOUNDSB"),
                     StringParam("S0"), StringParam("S1"), StringParam("S2"), StringParam("S3"),
                     BinaryParam("OBJECTS")});
  TInserter objinfo(db, "ATLOR_OBJINFO",
                    {StringParam("ID"), StringParam("LAYERID"), StringParam("SECTORID")});
  for (const TPlanLayer& layer : plan.Layers) {
    Tell(options, "Запись: " + layer.Name);
    layers.Insert({Value(layer.Id.Str()), Value(layer.PlaneId.Str()), Value(layer.Name),
                   Value(0.0), Value(1e6), Value(layer.Sectors.front().Id.Str())});
    for (int s = 0; s < kLayerStyles; ++s) {
      // A colour and a width: enough for a style row to look like one.
      const Bytes data{static_cast<uint8_t>(s), static_cast<uint8_t>(40 * layer.Index),
                       static_cast<uint8_t>(80 + 50 * s), 0x20, 1, 0, 0, 0};
      styles.Insert({Value(layer.Styles[s].Str()), Value(layer.Id.Str()), Value(std::string(kStyleNames[s])),
                     Value(data)});
    }
    for (const TPlanSector& sector : layer.Sectors) {
      TObjectId children[4];
      for (int q = 0; q < 4; ++q)
        if (sector.Children[q] >= 0)
          children[q] = layer.Sectors[static_cast<size_t>(sector.Children[q])].Id;
      sectors.Insert({Value(sector.Id.Str()), Value(layer.Id.Str()), Value(sector.Bounds.X1),
                      Value(sector.Bounds.X2), Value(sector.Bounds.Y2), Value(sector.Bounds.Y1),
                      IdValue(children[0]), IdValue(children[1]), IdValue(children[2]),
                      IdValue(children[3]), Value(SectorValue(layer, sector, options))});
      for (const int i : sector.Objects)
        objinfo.Insert({Value(layer.ObjectIds[static_cast<size_t>(i)].Str()), Value(layer.Id.Str()),
                        Value(sector.Id.Str())});
    }
  }
}

}  // namespace

std::string_view TreeShapeName(TTreeShape shape) {
  switch (shape) {
    case TTreeShape::kRoot:
      return "root";
    case TTreeShape::kDeep:
      return "deep";
    case TTreeShape::kGood:
      return "good";
    case TTreeShape::kMixed:
      break;
  }
  return "mixed";
}

bool ParseTreeShape(std::string_view text, TTreeShape& shape) {
  for (const TTreeShape s : {TTreeShape::kRoot, TTreeShape::kDeep, TTreeShape::kGood, TTreeShape::kMixed})
    if (text == TreeShapeName(s)) {
      shape = s;
      return true;
    }
  return false;
}

std::string_view DamageKindName(TDamageKind kind) {
  switch (kind) {
    case TDamageKind::kHeader:
      return "header";
    case TDamageKind::kBadId:
      return "id";
    case TDamageKind::kTruncated:
      return "truncated";
    case TDamageKind::kBadContour:
      return "contour";
    case TDamageKind::kNoShapes:
      return "noshapes";
    case TDamageKind::kDuplicate:
      break;
  }
  return "duplicate";
}

bool ParseDamageKind(std::string_view text, TDamageKind& kind) {
  for (int k = 0; k < kDamageKindCount; ++k)
    if (text == DamageKindName(static_cast<TDamageKind>(k))) {
      kind = static_cast<TDamageKind>(k);
      return true;
    }
  return false;
}

void CheckOptions(const TSampleOptions& options) {
  if (options.Maps < 1 || options.Maps > 1000)
    throw ESampleOptionsError("число карт должно быть от 1 до 1000");
  if (options.Layers < 0 || options.Layers > 10000)
    throw ESampleOptionsError("число слоёв должно быть от 0 до 10000");
  if (options.Objects < 0 || options.Objects > 10'000'000)
    throw ESampleOptionsError("число объектов должно быть от 0 до 10000000");
  if (options.Layers == 0 && options.Objects > 0)
    throw ESampleOptionsError("объекты некуда поместить: не задано ни одного слоя");
  if (options.Versions.empty()) throw ESampleOptionsError("не задано ни одной версии формата");
  for (const int v : options.Versions)
    if (v < kSampleMinVersion || v > kSampleMaxVersion)
      throw ESampleOptionsError("версия формата " + std::to_string(v) +
                                " вне допустимых пределов (от 256 до 65535)");
  std::set<TDamageKind> seen;
  for (const TDamageKind kind : options.Damage)
    if (!seen.insert(kind).second)
      throw ESampleOptionsError("повреждение \"" + std::string(DamageKindName(kind)) +
                                "\" указано дважды");
  if (!options.Damage.empty() && options.Layers == 0)
    throw ESampleOptionsError("повреждения некуда поместить: не задано ни одного слоя");
  if (Utf8Length(options.Caption) > 200)
    throw ESampleOptionsError("заголовок базы длиннее 200 символов");
}

struct TSampleGenerator::TPlanData {
  TPlan Plan;
};

TSampleGenerator::TSampleGenerator(const TSampleOptions& options) : options_(options) {
  CheckOptions(options_);
  plan_ = std::make_unique<TPlanData>();
  plan_->Plan = MakePlan(options_);
  const TPlan& plan = plan_->Plan;

  report_.DbId = GuidText(SubSeed(options_.Seed, 0, kIdentitySeed));
  report_.Caption = options_.Caption.empty()
                        ? "Пример базы Atlor (зерно " + std::to_string(options_.Seed) + ")"
                        : options_.Caption;
  report_.Objects = plan.Objects;
  report_.Sectors = plan.Sectors;
  report_.LastId = plan.LastId;
  report_.Damage = plan.Damage;
  for (const TPlanLayer& layer : plan.Layers) {
    TLayerReport l;
    l.Id = layer.Id;
    l.Name = layer.Name;
    l.Tree = layer.Tree;
    l.Objects = static_cast<int>(layer.ObjectIds.size());
    l.Sectors = static_cast<int>(layer.Sectors.size());
    for (const TPlanSector& sector : layer.Sectors) {
      l.Depth = std::max(l.Depth, sector.Depth);
      l.LargestSector = std::max(l.LargestSector, static_cast<int>(sector.Objects.size()));
    }
    report_.Layers.push_back(std::move(l));
  }
}

TSampleGenerator::~TSampleGenerator() = default;

void TSampleGenerator::Write(IArDb& db) const {
  if (db.TableExists("ATLOR_DBINFO"))
    throw Exception("База данных уже содержит таблицы Atlor: пример создаётся только в новой базе");
  Tell(options_, "Создание таблиц");
  CreateTables(db);
  db.StartTransaction();
  try {
    WritePlan(db, plan_->Plan, options_, report_.DbId, report_.Caption);
    db.Commit();
  } catch (...) {
    if (db.InTransaction()) db.Rollback();
    throw;
  }
}

TSampleReport GenerateSampleDatabase(IArDb& db, const TSampleOptions& options) {
  TSampleGenerator generator(options);
  generator.Write(db);
  return generator.Report();
}

}  // namespace atlor::sample
