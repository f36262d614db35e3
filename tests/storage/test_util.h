#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "storage/contour.h"
#include "storage/geometry.h"

namespace atlor::test {

// "F3 FF 1E 01" -> bytes.
inline std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> out;
  int nibbles = 0;
  uint8_t byte = 0;
  for (const char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else continue;
    byte = static_cast<uint8_t>(byte << 4 | v);
    if (++nibbles == 2) {
      out.push_back(byte);
      nibbles = 0;
      byte = 0;
    }
  }
  return out;
}

inline std::string ToHex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    out += buf;
  }
  return out;
}

inline std::string Num(double v) {
  std::ostringstream s;
  s.precision(10);
  s << (v == 0 ? 0.0 : v);  // no "-0"
  return s.str();
}

inline std::string Pt(const TGeoPoint& p) { return "(" + Num(p.X) + "," + Num(p.Y) + ")"; }

inline std::string Rect(const TGeoRect& r) {
  return "(" + Num(r.X1) + "," + Num(r.Y1) + "," + Num(r.X2) + "," + Num(r.Y2) + ")";
}

// The nodes of a contour, one word each: M(x,y) L(x,y) A(x,y;b) Z C(b); arcs show their bulge.
inline std::string Describe(TContour& contour) {
  std::string out;
  for (const TContourNode& node : contour.Nodes()) {
    if (!out.empty()) out += ' ';
    const TGeoPoint p = node.Point;
    const auto bulge = [&] {
      return node.ArcIndex == kNoArc ? std::string("-") : Num(contour.Arcs().At(node.ArcIndex).Bulge);
    };
    switch (node.Kind) {
      case TNodeKind::nkMoveTo: out += "M" + Pt(p); break;
      case TNodeKind::nkLineTo: out += "L" + Pt(p); break;
      case TNodeKind::nkArcTo: out += "A(" + Num(p.X) + "," + Num(p.Y) + ";" + bulge() + ")"; break;
      case TNodeKind::nkClose: out += "Z"; break;
      case TNodeKind::nkCloseArc: out += "C(" + bulge() + ")"; break;
    }
  }
  return out;
}

}  // namespace atlor::test
