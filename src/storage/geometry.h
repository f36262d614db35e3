#pragma once

// Plane geometry of the storage model: points, rectangles, local coordinate frames and
// circular arcs given by a bulge. Coordinates are doubles without a unit; frames keep their
// rotation in extended precision.
namespace atlor {

struct TGeoPoint {
  double X = 0;
  double Y = 0;
};

// Points are equal when both coordinates are exactly equal.
inline bool operator==(const TGeoPoint& a, const TGeoPoint& b) { return a.X == b.X && a.Y == b.Y; }

// X1, Y1, X2, Y2 in this order; normalized when X1 <= X2 and Y1 <= Y2. Stored rectangles map as
// left = X1, bottom = Y1, right = X2, top = Y2.
struct TGeoRect {
  double X1 = 0;
  double Y1 = 0;
  double X2 = 0;
  double Y2 = 0;
};

inline bool operator==(const TGeoRect& a, const TGeoRect& b) {
  return a.X1 == b.X1 && a.Y1 == b.Y1 && a.X2 == b.X2 && a.Y2 == b.Y2;
}

// A local coordinate frame: its x axis points from Origin in the direction (Cos, Sin).
struct TAxes {
  TGeoPoint Origin;
  TGeoPoint Target;  // the second point the frame was made from
  long double Angle = 0;
  bool AngleKnown = false;
  long double Sin = 0;
  long double Cos = 1;
};

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Direction of the vector from a to b, in [0, 2π).
double AngleOf(const TGeoPoint& a, const TGeoPoint& b);
double Distance(const TGeoPoint& a, const TGeoPoint& b);

void Normalize(TGeoRect& r);
// The rectangle of two points, normalized.
TGeoRect RectOfPoints(const TGeoPoint& p1, const TGeoPoint& p2);
void IncludePoint(TGeoRect& r, const TGeoPoint& p);
TGeoRect Union(const TGeoRect& r, const TGeoRect& s);
// Whether inner lies wholly inside outer, edges included; a NaN makes it false.
bool Contains(const TGeoRect& outer, const TGeoRect& inner);
TGeoPoint Center(const TGeoRect& r);

// The frame at a whose x axis points to b; for a = b the frame of angle 0.
TAxes MakeAxes(const TGeoPoint& a, const TGeoPoint& b);
// The frame at p rotated by angle (radians).
TAxes MakeAxesAngle(const TGeoPoint& p, long double angle);
TGeoPoint ToLocal(const TAxes& f, const TGeoPoint& p);
TGeoPoint ToWorld(const TAxes& f, const TGeoPoint& l);

// The circle of the arc from p1 to p2 with the given bulge (tan of a quarter of the included
// angle, positive counter-clockwise): its centre and the signed sweep in radians. False, with
// nothing computed, for a zero bulge.
bool ArcFromBulge(const TGeoPoint& p1, const TGeoPoint& p2, double bulge, TGeoPoint& center,
                  double& sweep);
// Whether direction a lies on the arc that starts at direction start and sweeps by sweep (ends
// included; a is tried as it is and shifted by ±2π).
bool AngleInSweep(double sweep, double start, double a);
// Bounds of the arc from start to end around center: the two ends, plus each of the four
// axis-extreme points of the circle that the sweep passes.
TGeoRect ArcBounds(const TGeoPoint& start, const TGeoPoint& end, const TGeoPoint& center,
                   double bulge, double sweep, double radius);
// The circle through three points: its centre and the sweep from p1 through p2 to p3. False
// for collinear points.
bool CircleThrough3(const TGeoPoint& p1, const TGeoPoint& p2, const TGeoPoint& p3,
                    TGeoPoint& center, double& sweep);
// Bulge of the arc from p1 to p3 around center; negative picks the clockwise arc.
double BulgeFromCenter(const TGeoPoint& p1, const TGeoPoint& center, const TGeoPoint& p3,
                       bool negative);
// Bulge of the arc from p1 through p2 to p3: 0 when two of the points coincide; false when
// the three are collinear.
bool BulgeFrom3Points(const TGeoPoint& p1, const TGeoPoint& p2, const TGeoPoint& p3,
                      double& bulge);

}  // namespace atlor
