#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "storage/byte_stream.h"
#include "storage/contour.h"
#include "storage/object_id.h"

// Builds OBJECTS values in every format version, the old ones included, for tests, benchmarks
// and fuzzing seeds. The program itself only ever writes the current version.
namespace atlor::fixtures {

using Bytes = std::vector<uint8_t>;

// The generic encoding of `version` (packed, or rings before version 262). Rings need each ring
// to start with a move-to; a closed ring ends with a closing node (all rings alike). Before
// version 260 arcs are written as a point on the arc and the end point, and a closing arc
// cannot be stored (EAssertionFailed).
Bytes EncodeGeneric(TContour& contour, int version);
// Style 1 and 2 forms: the points, and from version 257 the closed flag.
Bytes EncodeLineStyle(const std::vector<TGeoPoint>& points, bool closed, int version);
Bytes EncodePointStyle(const TGeoPoint& p);
Bytes EncodeCircleStyle(const TGeoPoint& center, double radius);
// The 66-byte style-7 record of versions before 261.
Bytes EncodeStyle7Record(const TGeoPoint& origin, double scale, double angle, double a, double b,
                         double c, double d);
// A packed block from its parts (point block and command block given as bytes).
Bytes EncodePacked(const Bytes& points, const Bytes& commands);

struct TFixtureShape {
  int Style = 6;   // written only up to version 264
  Bytes Contour;   // the contour in the form of Style
  TObjectId StyleId;
};

struct TFixtureObject {
  TObjectId Id;
  TGeoRect Bounds;
  std::vector<TFixtureShape> Shapes;
};

// A whole value: header (none for version 256 unless with_header) and the objects; an object
// carries the 16 extra bytes before version 261, a shape its style code up to version 264.
Bytes EncodeObjects(int version, const std::vector<TFixtureObject>& objects,
                    bool with_header = true);
// Header only: F3 FF, version, count (count only without header).
void PutHeader(TWriteBuffer& out, int version, int16_t count, bool with_header = true);

// A polygon of `vertices` vertices (5..200 in the generators) around center, some sides arcs
// when with_arcs; closed with a line, or sometimes an arc when close_with_arc.
void MakePolygon(TContour& contour, std::mt19937& rng, const TGeoPoint& center, double radius,
                 int vertices, bool with_arcs, bool close_with_arc = true);
// A realistic sector value: `objects` objects of 1 or 2 polygons (5 to 200 vertices, some arcs),
// mixed with points, circles and lines where the version has style codes.
Bytes MakeSectorValue(int version, int objects, uint32_t seed);

}  // namespace atlor::fixtures
