#pragma once

#include <cstdint>

#include "storage/byte_stream.h"
#include "storage/contour.h"

// Stored encodings of a contour, selected by the format version of the value being read.
namespace atlor {

// Format versions of the sector-objects value and what they switch.
constexpr int kStorageVersionHeaderless = 256;  // a value without header
constexpr int kStorageVersionClosedFlag = 257;  // from here styles 1 and 2 carry a closed flag
constexpr int kStorageVersionRingHeader = 260;  // new ring header and bulge arcs in rings
constexpr int kStorageVersionNoExtra = 261;     // style 7 generic; objects lose 16 extra bytes
constexpr int kStorageVersionPacked = 262;      // contours in the packed encoding
constexpr int kStorageVersionNoStyleCode = 265; // shapes no longer start with a style code
constexpr int kStorageVersionCurrent = 286;     // the version written

// The process-wide format version of the value being read: kStorageVersionCurrent except while
// a sector-objects value is decoded (which sets it from the value's header and restores it).
// One thread decodes at a time.
int StorageVersion();
void SetStorageVersion(int version);

// Sets StorageVersion for a scope and gives the previous value back, also on an exception.
class TStorageVersionScope {
 public:
  explicit TStorageVersionScope(int version) : saved_(StorageVersion()) {
    SetStorageVersion(version);
  }
  TStorageVersionScope(const TStorageVersionScope&) = delete;
  TStorageVersionScope& operator=(const TStorageVersionScope&) = delete;
  ~TStorageVersionScope() { SetStorageVersion(saved_); }

 private:
  int saved_;
};

// Shape style codes.
constexpr int kStyleOpenLine = 1;     // points joined by lines (open up to version 256)
constexpr int kStyleClosedLine = 2;   // points joined by lines (closed up to version 256)
constexpr int kStylePoint = 4;        // one point
constexpr int kStyleCircle = 5;       // centre and radius
constexpr int kStyleGeneric = 6;      // the generic encoding of the version
constexpr int kStyleRectangle = 7;    // a rotated rectangle
constexpr size_t kStyle7RecordSize = 66;

// Writes the packed encoding (a held packed block unchanged). EStorageWriteError when the
// point block would not fit its Int32 length.
void WriteContour(const TContour& contour, TWriteBuffer& out);
// Reads the generic encoding of `version` into the cleared contour: the packed block is kept
// undecoded from kStorageVersionPacked on, older values use the ring encoding.
void ReadContour(TContour& contour, TReadCursor& in, int version);
void ReadContour(TContour& contour, TReadCursor& in);  // with StorageVersion()
// Reads a packed block (both lengths and both blocks) as a view into the value.
TPackedView ReadPackedView(TReadCursor& in);
// Reads a shape's contour stored in the form of its style code.
void ReadByStyle(TContour& contour, int style_code, TReadCursor& in, int version);
void ReadByStyle(TContour& contour, int style_code, TReadCursor& in);  // with StorageVersion()

}  // namespace atlor
