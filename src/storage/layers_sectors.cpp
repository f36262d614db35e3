#include "storage/layers_sectors.h"

#include <cstdint>
#include <exception>
#include <span>
#include <vector>

#include "core/exception.h"
#include "core/value.h"
#include "storage/atlor_base.h"

namespace atlor {

namespace {

void CheckQuadrant(int q) { ATLOR_ASSERT(q >= 0 && q < TSector::kChildCount, "Invalid quadrant"); }

}  // namespace

void TLayer::SetBounds(const TGeoRect& bounds) {
  bounds_ = bounds;
  Normalize(bounds_);
}

TGeoRect QuadrantOf(const TGeoRect& r, int q) {
  CheckQuadrant(q);
  const TGeoPoint c = Center(r);
  switch (q) {
    case 0:
      return TGeoRect{r.X1, c.Y, c.X, r.Y2};
    case 1:
      return TGeoRect{c.X, c.Y, r.X2, r.Y2};
    case 2:
      return TGeoRect{r.X1, r.Y1, c.X, c.Y};
    default:
      return TGeoRect{c.X, r.Y1, r.X2, c.Y};
  }
}

TSector::TSector(TAtlorBase* base, const TObjectId& id, const std::string& table_name)
    : base_(base), id_(id), table_name_(table_name), objects_(this, id) {}

TSector::~TSector() { TSector::Disconnect(); }

void TSector::Disconnect() { objects_.Clear(); }

void TSector::SetBounds(const TGeoRect& bounds) {
  bounds_ = bounds;
  Normalize(bounds_);
}

const TObjectId& TSector::Children(int q) const {
  CheckQuadrant(q);
  return children_[q];
}

void TSector::SetChildren(int q, const TObjectId& id) {
  CheckQuadrant(q);
  children_[q] = id;
}

bool TSector::LoadObjects() {
  ATLOR_ASSERT(base_ != nullptr, "Object not initialized");
  // Errors of the database propagate; only the decoding is judged.
  const Value blob = base_->ReadObjectsBlob(id_, table_name_);
  std::span<const uint8_t> bytes;
  if (blob.Kind() == ValueKind::kBytes) bytes = blob.BytesRef();
  try {
    return objects_.LoadFromBytes(bytes, base_->Log());
  } catch (const std::exception&) {
    return false;
  }
}

void TSector::SaveObjects() {
  ATLOR_ASSERT(base_ != nullptr, "Object not initialized");
  base_->WriteObjectsBlob(id_, Value(objects_.SaveToBytes()), table_name_);
}

bool TSector::HasChildren() const { return !children_[0].Empty(); }

bool TSector::CanSplit() const {
  for (int i = 0; i < objects_.Count(); ++i) {
    const TGeoRect& r = objects_[i]->Bounds();
    for (int q = 0; q < kChildCount; ++q)
      if (Contains(Quadrant(q), r)) return true;
  }
  return false;
}

void TSector::Split() {
  if (HasChildren()) return;
  ATLOR_ASSERT(base_ != nullptr, "Object not initialized");
  // The children become the sector's only once the row holds them too, so a failure leaves a
  // leaf both here and in the table.
  TObjectId children[kChildCount];
  for (int q = 0; q < kChildCount; ++q) {
    RefHolder<TSector> child(base_->CreateSector(layer_id_, Quadrant(q), table_name_), kAdoptRef);
    children[q] = child->Id();
  }
  base_->WriteSectorChildren(id_, children, table_name_);
  for (int q = 0; q < kChildCount; ++q) children_[q] = children[q];
}

}  // namespace atlor
