#include "storage/geometry.h"

#include <cmath>
#include <utility>

namespace atlor {
namespace {

constexpr double kTwoPi = static_cast<double>(2 * kPi);
constexpr double kHalfPi = static_cast<double>(kPi / 2);

}  // namespace

double AngleOf(const TGeoPoint& a, const TGeoPoint& b) {
  double angle = std::atan2(b.Y - a.Y, b.X - a.X);
  if (angle < 0) {
    angle += kTwoPi;
    // A direction a hair below the x axis rounds up to a full turn; it is the direction 0.
    if (angle >= kTwoPi) angle = 0;
  }
  return angle;
}

double Distance(const TGeoPoint& a, const TGeoPoint& b) {
  const double dx = a.X - b.X;
  const double dy = a.Y - b.Y;
  return std::sqrt(dx * dx + dy * dy);
}

void Normalize(TGeoRect& r) {
  if (r.X1 > r.X2) std::swap(r.X1, r.X2);
  if (r.Y1 > r.Y2) std::swap(r.Y1, r.Y2);
}

TGeoRect RectOfPoints(const TGeoPoint& p1, const TGeoPoint& p2) {
  TGeoRect r{p1.X, p1.Y, p2.X, p2.Y};
  Normalize(r);
  return r;
}

void IncludePoint(TGeoRect& r, const TGeoPoint& p) {
  if (p.X < r.X1) r.X1 = p.X;
  if (p.X > r.X2) r.X2 = p.X;
  if (p.Y < r.Y1) r.Y1 = p.Y;
  if (p.Y > r.Y2) r.Y2 = p.Y;
}

TGeoRect Union(const TGeoRect& r, const TGeoRect& s) {
  return TGeoRect{std::fmin(r.X1, s.X1), std::fmin(r.Y1, s.Y1), std::fmax(r.X2, s.X2),
                  std::fmax(r.Y2, s.Y2)};
}

bool Contains(const TGeoRect& outer, const TGeoRect& inner) {
  const auto in = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
  return in(inner.X1, outer.X1, outer.X2) && in(inner.X2, outer.X1, outer.X2) &&
         in(inner.Y1, outer.Y1, outer.Y2) && in(inner.Y2, outer.Y1, outer.Y2);
}

TGeoPoint Center(const TGeoRect& r) { return TGeoPoint{(r.X1 + r.X2) / 2, (r.Y1 + r.Y2) / 2}; }

TAxes MakeAxes(const TGeoPoint& a, const TGeoPoint& b) {
  TAxes f;
  f.Origin = a;
  f.Target = b;
  const long double dx = static_cast<long double>(b.X) - a.X;
  const long double dy = static_cast<long double>(b.Y) - a.Y;
  const long double l2 = dx * dx + dy * dy;
  if (l2 != 0) {
    const long double l = std::sqrt(l2);
    f.Sin = dy / l;
    f.Cos = dx / l;
    f.AngleKnown = false;
  } else {
    f.Angle = 0;
    f.Sin = 0;
    f.Cos = 1;
    f.AngleKnown = true;
  }
  return f;
}

TAxes MakeAxesAngle(const TGeoPoint& p, long double angle) {
  TAxes f;
  f.Origin = p;
  f.Target = p;
  f.Angle = angle;
  f.AngleKnown = true;
  f.Sin = std::sin(angle);
  f.Cos = std::cos(angle);
  return f;
}

TGeoPoint ToLocal(const TAxes& f, const TGeoPoint& p) {
  const long double dx = static_cast<long double>(p.X) - f.Origin.X;
  const long double dy = static_cast<long double>(p.Y) - f.Origin.Y;
  return TGeoPoint{static_cast<double>(f.Cos * dx + f.Sin * dy),
                   static_cast<double>(-f.Sin * dx + f.Cos * dy)};
}

TGeoPoint ToWorld(const TAxes& f, const TGeoPoint& l) {
  return TGeoPoint{static_cast<double>(f.Cos * l.X - f.Sin * l.Y + f.Origin.X),
                   static_cast<double>(f.Sin * l.X + f.Cos * l.Y + f.Origin.Y)};
}

bool ArcFromBulge(const TGeoPoint& p1, const TGeoPoint& p2, double bulge, TGeoPoint& center,
                  double& sweep) {
  if (bulge == 0) return false;
  const TAxes f = MakeAxes(p1, p2);
  const long double h = static_cast<long double>(ToLocal(f, p2).X) / 2;
  long double y;
  if (std::fabs(bulge) <= 0.01) {
    // Nearly straight: the centre lies far off the chord; go through the angle instead of
    // dividing by the small bulge.
    long double t = 2 * std::atan(static_cast<long double>(-bulge));
    t = t > 0 ? t - kPi / 2 : t + kPi / 2;
    y = std::tan(t) * h;
  } else {
    const long double b = bulge;
    y = (1 - b * b) * h / (2 * b);
  }
  center = ToWorld(f, TGeoPoint{static_cast<double>(h), static_cast<double>(y)});
  const double a = AngleOf(TGeoPoint{}, ToLocal(MakeAxes(center, p1), p2));
  double s = a;
  if (bulge > 0) s -= kTwoPi;
  if (s > 0)
    s -= kTwoPi;
  else
    s += kTwoPi;
  sweep = s;
  return true;
}

bool AngleInSweep(double sweep, double start, double a) {
  const double end = start + sweep;
  const double lo = sweep > 0 ? start : end;
  const double hi = sweep > 0 ? end : start;
  for (const double v : {a, a + kTwoPi, a - kTwoPi})
    if (v >= lo && v <= hi) return true;
  return false;
}

TGeoRect ArcBounds(const TGeoPoint& start, const TGeoPoint& end, const TGeoPoint& center,
                   double bulge, double sweep, double radius) {
  TGeoRect r = RectOfPoints(start, end);
  if (std::fabs(bulge) > 1e-15) {
    static constexpr double kCos[4] = {1, 0, -1, 0};
    static constexpr double kSin[4] = {0, 1, 0, -1};
    const double a0 = AngleOf(center, start);
    for (int i = 0; i < 4; ++i)
      if (AngleInSweep(sweep, a0, i * kHalfPi))
        IncludePoint(r, TGeoPoint{center.X + radius * kCos[i], center.Y + radius * kSin[i]});
  }
  return r;
}

bool CircleThrough3(const TGeoPoint& p1, const TGeoPoint& p2, const TGeoPoint& p3,
                    TGeoPoint& center, double& sweep) {
  const TGeoPoint m{(p1.X + p2.X) / 2, (p1.Y + p2.Y) / 2};
  const TAxes f = MakeAxes(m, p2);
  const TGeoPoint a = ToLocal(f, p2);
  const TGeoPoint b = ToLocal(f, p3);
  if (b.Y == 0) return false;
  const TGeoPoint c{0, (b.X * b.X + b.Y * b.Y - a.X * a.X) / 2 / b.Y};
  const double a1 = AngleOf(c, ToLocal(f, p1));
  const double a2 = AngleOf(c, a);
  double a3 = AngleOf(c, b);
  if (a1 > a3) a3 += kTwoPi;
  if ((a1 < a2 && a2 < a3) || (a1 < a2 + kTwoPi && a2 + kTwoPi < a3))
    sweep = a3 - a1;
  else
    sweep = a3 - kTwoPi - a1;
  center = ToWorld(f, c);
  return true;
}

double BulgeFromCenter(const TGeoPoint& p1, const TGeoPoint& center, const TGeoPoint& p3,
                       bool negative) {
  const TAxes f = MakeAxes(p1, p3);
  const TGeoPoint l = ToLocal(f, center);
  long double d;
  if (l.Y != 0) {
    d = std::atan(static_cast<long double>(l.X) / l.Y);
    if (negative == (l.Y > 0)) d = d > 0 ? d - kPi : d + kPi;
  } else {
    d = negative ? -kPi / 2 : kPi / 2;
  }
  const long double h = d / 2;
  const long double c = std::cos(h);
  return c == 0 ? 0.0 : static_cast<double>(std::sin(h) / c);
}

bool BulgeFrom3Points(const TGeoPoint& p1, const TGeoPoint& p2, const TGeoPoint& p3,
                      double& bulge) {
  if (p1 == p2 || p2 == p3 || p3 == p1) {
    bulge = 0;
    return true;
  }
  TGeoPoint center;
  double sweep;
  if (!CircleThrough3(p1, p2, p3, center, sweep)) return false;
  bulge = BulgeFromCenter(p1, center, p3, sweep < 0);
  return true;
}

}  // namespace atlor
