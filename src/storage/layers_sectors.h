#pragma once

#include <string>

#include "core/ref_object.h"
#include "storage/geometry.h"
#include "storage/map_object.h"
#include "storage/object_id.h"

// Layers and the sectors of their trees. A sector is one row of a sectors table (ATLOR_SECTORS,
// or during a run its temporary twin): its rectangle, the identifiers of its four children
// (none for a leaf) and the map objects it holds. Both are loaded and created by the storage
// facade (atlor_base.h) and keep a plain pointer to it: the facade outlives them.
namespace atlor {

class TAtlorBase;

// One row of ATLOR_LAYERS with the extent of the layer's map area.
class TLayer : public TRefObject {
 public:
  TLayer(TAtlorBase* base, const TObjectId& id) : base_(base), id_(id) {}

  TAtlorBase* Base() const { return base_; }
  const TObjectId& Id() const { return id_; }
  // The layer's map (ATLOR_MAPS.ID).
  const TObjectId& PlaneId() const { return plane_id_; }
  void SetPlaneId(const TObjectId& id) { plane_id_ = id; }
  const std::string& LayerName() const { return layer_name_; }
  void SetLayerName(const std::string& name) { layer_name_ = name; }
  // The extent of the map area, normalized.
  const TGeoRect& Bounds() const { return bounds_; }
  void SetBounds(const TGeoRect& bounds);
  const TObjectId& RootSectorId() const { return root_sector_id_; }
  void SetRootSectorId(const TObjectId& id) { root_sector_id_ = id; }
  double VisibleMax() const { return visible_max_; }
  void SetVisibleMax(double v) { visible_max_ = v; }
  double VisibleMin() const { return visible_min_; }
  void SetVisibleMin(double v) { visible_min_ = v; }

 private:
  TAtlorBase* base_;
  TObjectId id_;
  TObjectId plane_id_;
  std::string layer_name_;
  TGeoRect bounds_;
  TObjectId root_sector_id_;
  double visible_max_ = 0;
  double visible_min_ = 0;
};

// Quadrant q (0..3) of r, cut at its centre (cx, cy): 0 = (X1, cy, cx, Y2), 1 = (cx, cy, X2, Y2),
// 2 = (X1, Y1, cx, cy), 3 = (cx, Y1, X2, cy); with Y growing upwards the upper left, upper
// right, lower left and lower right quarters.
TGeoRect QuadrantOf(const TGeoRect& r, int q);

// One sector row of one sectors table and the map objects it holds.
class TSector : public TRefObject {
 public:
  static constexpr int kChildCount = 4;

  // A sector with an empty object list; all reads and writes go to table_name.
  TSector(TAtlorBase* base, const TObjectId& id, const std::string& table_name);
  ~TSector() override;

  // Releases the objects.
  void Disconnect() override;

  TAtlorBase* Base() const { return base_; }
  const TObjectId& Id() const { return id_; }
  const TObjectId& LayerId() const { return layer_id_; }
  void SetLayerId(const TObjectId& id) { layer_id_ = id; }
  // Normalized.
  const TGeoRect& Bounds() const { return bounds_; }
  void SetBounds(const TGeoRect& bounds);
  // Child q (0..3, columns S0..S3); empty for a leaf.
  const TObjectId& Children(int q) const;
  void SetChildren(int q, const TObjectId& id);
  // The sectors table the sector was loaded from.
  const std::string& TableName() const { return table_name_; }
  TMapObjectList& Objects() { return objects_; }
  const TMapObjectList& Objects() const { return objects_; }

  // Reads and decodes the OBJECTS value into Objects (cleared first). False when the value is
  // null or damaged (reported to the facade's log); the objects decoded before the damage stay.
  // Errors of the database propagate.
  bool LoadObjects();
  // Encodes Objects in the current format version and stores it as the OBJECTS value.
  void SaveObjects();

  // Children(0) is not empty.
  bool HasChildren() const;
  // Some object lies wholly inside one of the four quadrants (edges included).
  bool CanSplit() const;
  // QuadrantOf(Bounds(), q).
  TGeoRect Quadrant(int q) const { return QuadrantOf(bounds_, q); }
  // For a leaf: creates the four quadrant children in the same table and stores their
  // identifiers in S0..S3 of this row. The objects stay where they are. Does nothing for a
  // sector that has children.
  void Split();

 private:
  TAtlorBase* base_;
  TObjectId id_;
  TObjectId layer_id_;
  TGeoRect bounds_;
  TObjectId children_[kChildCount];
  std::string table_name_;
  TMapObjectList objects_;
};

}  // namespace atlor
