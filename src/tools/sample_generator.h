#pragma once

// The sample-database generator: fills a new, empty database with a complete Atlor database
// whose map objects are made up from a seed.
//
// What it writes:
//   - all 24 system tables, created from their definitions (storage/schema.h);
//   - ATLOR_DBINFO: one row, VERSION 265, IDGROUP/IDNUMBER the last identifier issued (so that
//     the storage facade's NewId continues after it); ATLOR_IDMAPER: the class-0 row of the
//     identifier group (LOCALID 1);
//   - per map one ATLOR_AREAS row (the extent 0..100000 on both axes) and one ATLOR_MAPS row;
//     the layers are dealt out to the maps in turn;
//   - per layer its ATLOR_LAYERS row, three ATLOR_STYLES rows (area, line, symbol) that the
//     shapes name, its sector tree in ATLOR_SECTORS and one ATLOR_OBJINFO row per map object;
//   - the objects: polygons (some with arcs, some with a hole), polylines (some with arcs),
//     circles, points and rectangles, a few with a second shape; sizes from a few units to a
//     few thousand, half of them gathered around four centres per layer.
//
// Trees ("shapes" of the old data the optimizer meets):
//   root  - one root sector holding every object of the layer;
//   deep  - a tree split everywhere to depth 3 and along quadrant 0 down to depth 12, with each
//           object put into a sector picked at random among those that contain it, so that
//           objects sit too high and most sectors are nearly empty;
//   good  - the tree a rebuild would make: a sector holding more than 256 objects is split when
//           one of them fits a quadrant, and the objects move into the quadrants that hold them;
//   mixed - layer i gets root, deep, good for i % 3 = 0, 1, 2.
// One value holds at most 32767 objects: a root or deep-tree sector that would hold more keeps
// the objects that fit none of its quadrants, fills up with others, and passes the rest down
// into its quadrants (split for that when it is a leaf), which are relieved alike.
//
// Format versions: sector number n (counted over all layers in the order the sectors are
// written) is encoded in Versions[n % Versions.size()]. Version 286 is what the program writes;
// older versions are written through the writers of storage/testing/objects_writer.h: shapes
// of versions up to 264 carry their style code (points, circles and rectangles in their own
// forms, polylines and polygons without arcs as point lists), version 256 has no header.
//
// Damage: each kind asked for goes into one sector of its own. Kind number k (in the order
// asked) goes into the fullest suitable sector of layer k modulo the layer count, or of a later
// layer when that one has none left; "header" goes into the emptiest sector of all layers.
//   header     - the sector's value is cut inside its header: its objects are lost;
//   id         - an extra object with an invalid identifier ends the value;
//   truncated  - an extra object ends the value cut in half;
//   contour    - an extra object with one sound shape and one whose packed contour asks for
//                more points than it holds (needs a sector of version 262 or later);
//   noshapes   - an extra object without shapes;
//   duplicate  - the sector's first object is written twice, and once more into the layer's
//                root sector (when that is another sector with room left).
// A sector that is full (32767 objects) takes no extra object.
// The extra objects have no ATLOR_OBJINFO rows; the sound objects all have theirs, also those
// of a sector whose header was damaged.
//
// Determinism: the same options give the same database byte for byte (values, identifiers,
// rows). The geometry of an object depends only on the seed, its layer and its number, so
// changing the versions or adding damage leaves the objects where they are.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ardb/ardbs.h"
#include "core/exception.h"
#include "storage/geometry.h"
#include "storage/object_id.h"

namespace atlor::sample {

enum class TTreeShape { kRoot, kDeep, kGood, kMixed };

enum class TDamageKind { kHeader, kBadId, kTruncated, kBadContour, kNoShapes, kDuplicate };
constexpr int kDamageKindCount = 6;

// Command-line names: "root", "deep", "good", "mixed".
std::string_view TreeShapeName(TTreeShape shape);
bool ParseTreeShape(std::string_view text, TTreeShape& shape);
// Command-line names: "header", "id", "truncated", "contour", "noshapes", "duplicate".
std::string_view DamageKindName(TDamageKind kind);
bool ParseDamageKind(std::string_view text, TDamageKind& kind);

// The value written into ATLOR_DBINFO.VERSION.
constexpr int kSampleDatabaseVersion = 265;
// The identifier group of every identifier issued.
constexpr int kSampleIdGroup = 1;
// The first number issued in the group is kSampleFirstIdNumber + 1.
constexpr int kSampleFirstIdNumber = 1000;
// The extent of every map area.
inline constexpr TGeoRect kSampleExtent{0, 0, 100000, 100000};
// Oldest and newest format versions accepted.
constexpr int kSampleMinVersion = 256;
constexpr int kSampleMaxVersion = 0xFFFF;
// The most objects one sector value can hold (Int16 count).
constexpr int kMaxSectorObjects = 32767;

struct TSampleOptions {
  uint32_t Seed = 1;
  int Maps = 1;
  int Layers = 3;
  // Total over all layers, dealt out evenly (the first layers take the remainder).
  int Objects = 1000;
  std::vector<int> Versions{286};
  TTreeShape Tree = TTreeShape::kMixed;
  std::vector<TDamageKind> Damage;  // each kind once
  std::string Caption;              // empty: "Пример базы Atlor (зерно <seed>)"
  // Told what is being done ("Слой 1: 334 объектов, дерево good"), when set.
  std::function<void(const std::string&)> Progress;
};

// Options that cannot be generated: the message says why (Russian).
class ESampleOptionsError : public Exception {
 public:
  using Exception::Exception;
};

// Raises ESampleOptionsError for counts out of range, versions outside 256..65535, a repeated
// damage kind.
void CheckOptions(const TSampleOptions& options);

struct TLayerReport {
  TObjectId Id;
  std::string Name;
  TTreeShape Tree = TTreeShape::kGood;  // never kMixed
  int Objects = 0;
  int Sectors = 0;
  int Depth = 0;          // of the deepest sector; the root is at depth 0
  int LargestSector = 0;  // most sound objects in one sector
};

struct TDamageReport {
  TDamageKind Kind = TDamageKind::kHeader;
  TObjectId LayerId;
  TObjectId SectorId;
  int Version = 0;       // of the sector's value
  std::string ObjectId;  // the damaged (or duplicated) object; as written, maybe invalid
  TObjectId OtherSectorId;  // duplicate: the root sector holding the third copy (or empty)
  int LostObjects = 0;      // sound objects that a decode of the sector loses
  // The lines a decode of the sector reports, in order.
  std::vector<std::string> ExpectedLog;
};

struct TSampleReport {
  std::string DbId;
  std::string Caption;
  int Objects = 0;  // sound objects written
  int Sectors = 0;
  TObjectId LastId;  // IDGROUP/IDNUMBER of ATLOR_DBINFO
  std::vector<TLayerReport> Layers;
  std::vector<TDamageReport> Damage;
};

// Plans a sample database (every row, in memory: identifiers, trees, damage), then writes it.
// Planning raises ESampleOptionsError for options that do not fit the trees (too many objects
// for one sector, no sector left for a damage kind, no packed-encoding sector for "contour"), so
// that a program can plan before it creates the database.
class TSampleGenerator {
 public:
  explicit TSampleGenerator(const TSampleOptions& options);
  ~TSampleGenerator();
  TSampleGenerator(const TSampleGenerator&) = delete;
  TSampleGenerator& operator=(const TSampleGenerator&) = delete;

  // What Write writes (known after planning).
  const TSampleReport& Report() const { return report_; }

  // Creates the 24 tables in db, which must not hold ATLOR_DBINFO yet, then fills them inside
  // one transaction. Errors of the database propagate (the transaction is rolled back; the
  // tables stay).
  void Write(IArDb& db) const;

 private:
  struct TPlanData;
  TSampleOptions options_;
  std::unique_ptr<TPlanData> plan_;
  TSampleReport report_;
};

// TSampleGenerator(options).Write(db), returning the report.
TSampleReport GenerateSampleDatabase(IArDb& db, const TSampleOptions& options);

}  // namespace atlor::sample
