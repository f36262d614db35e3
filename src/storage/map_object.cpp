// The OBJECTS value of a sector row: the sector's map objects and their shapes. All integers
// little-endian; Int16 signed; doubles IEEE 754 binary64.
//
//   value:   UInt16 magic 0xFFF3 (bytes F3 FF)      -- absent in a value without header
//            UInt16 format version (286 when written; 256 for a value without header)
//            Int16  object count
//            the objects
//   object:  13 bytes  identifier (length byte 12, then 12 characters)
//            32 bytes  bounds X1, Y1, X2, Y2 (doubles)
//            16 bytes  before version 261 only; skipped
//            Int16     shape count
//            the shapes
//   shape:   Int16     style code; up to version 264 only (from 265 on the style is 6)
//            the contour in the form of its style (contour_codec.cpp)
//            13 bytes  style identifier
//
// Version 256 values have no header: a value whose first two bytes are not F3 FF starts with the
// object count. A header version above 286 is read with the rules of 286.
//
// Damaged data is reported and skipped, never repaired:
//   header unreadable (or a negative object count)  "Ошибка. Ошибка при загрузке заголовка
//                                                    сектора %s"; no objects
//   object unreadable (cut short, invalid identifier, damaged count)
//                                                   "Ошибка. Не могу загрузить сектор %s.
//                                                    Потерянно %d объектов" (the object and
//                                                    those after it); the objects before stay
//   packed contour that does not decode              "Ошибка в контуре (стиль %s), объекта %s.
//                                                    Контур потерян"; the shape is dropped
//   object left without shapes                       "Ошибка. Объект %s не содержит ни одного
//                                                    контура", "Объект %s не загружен"

#include "storage/map_object.h"

#include <algorithm>
#include <stdexcept>

#include "storage/contour_codec.h"
#include "storage/storage_error.h"

namespace atlor {
namespace {

constexpr size_t kBoundsSize = 4 * kDoubleSize;
// The least a shape takes in a value: its style identifier.
constexpr size_t kMinShapeSize = TObjectId::kStoredSize;

TObjectId ReadId(TReadCursor& in) {
  return TObjectId::FromStored(in.ReadBytes(TObjectId::kStoredSize).data());
}

void WriteId(TWriteBuffer& out, const TObjectId& id) {
  id.Store(out.Grow(TObjectId::kStoredSize));
}

std::string OwnerIdText(const TMapObject* owner) { return owner ? owner->Id().Str() : std::string(); }

}  // namespace

// ---- TShape

bool TShape::LoadFromStream(TReadCursor& in, const TObjectsDecodeContext& context) {
  const int style =
      context.Version >= kStorageVersionNoStyleCode ? kStyleGeneric : in.ReadI16();
  if (style == kStyleGeneric && context.Version >= kStorageVersionPacked) {
    // The common case: decode the packed block straight from the value instead of keeping a
    // copy that would be decoded and dropped at once.
    contour_.Clear();
    const TPackedView block = ReadPackedView(in);
    style_id_ = ReadId(in);
    CheckId(style_id_);
    try {
      Unpack(contour_, block);
    } catch (const EContourError&) {
      context.Log.WriteLine("Ошибка в контуре (стиль " + style_id_.Str() + "), объекта " +
                            OwnerIdText(owner_) + ". Контур потерян");
      return false;
    }
    return true;
  }
  ReadByStyle(contour_, style, in, context.Version);
  style_id_ = ReadId(in);
  CheckId(style_id_);
  try {
    contour_.Decode();
  } catch (const EContourError&) {
    context.Log.WriteLine("Ошибка в контуре (стиль " + style_id_.Str() + "), объекта " +
                          OwnerIdText(owner_) + ". Контур потерян");
    return false;
  }
  return true;
}

void TShape::SaveToStream(TWriteBuffer& out) const {
  WriteContour(contour_, out);
  WriteId(out, style_id_);
}

// ---- TShapeList

TShape& TShapeList::Add() {
  items_.push_back(std::make_unique<TShape>(owner_));
  return *items_.back();
}

bool TShapeList::GetBounds(TGeoRect& r) {
  bool found = false;
  for (const auto& shape : items_) {
    TGeoRect b;
    if (!shape->Contour().GetBounds(b)) continue;
    r = found ? Union(r, b) : b;
    found = true;
  }
  return found;
}

bool TShapeList::LoadFromStream(TReadCursor& in, const TObjectsDecodeContext& context) {
  Clear();
  const int16_t count = in.ReadI16();
  if (count < 0)
    throw EStorageDataError("Запорчены данные: число контуров " + std::to_string(count),
                            in.Position());
  items_.reserve(std::min<size_t>(static_cast<size_t>(count), in.Remaining() / kMinShapeSize));
  for (int i = 0; i < count; ++i) {
    auto shape = std::make_unique<TShape>(owner_);
    if (shape->LoadFromStream(in, context)) items_.push_back(std::move(shape));
  }
  if (items_.empty()) {
    context.Log.WriteLine("Ошибка. Объект " + OwnerIdText(owner_) +
                          " не содержит ни одного контура");
    return false;
  }
  return true;
}

void TShapeList::SaveToStream(TWriteBuffer& out) const {
  PutCount16(out, Count(), "Слишком много контуров у объекта " + OwnerIdText(owner_));
  for (const auto& shape : items_) shape->SaveToStream(out);
}

// ---- TMapObject

bool TMapObject::LoadFromStream(TReadCursor& in, const TObjectsDecodeContext& context) {
  id_ = ReadId(in);
  CheckId(id_);
  const uint8_t* b = in.ReadBytes(kBoundsSize).data();
  bounds_ = TGeoRect{DecodeDouble(b), DecodeDouble(b + 8), DecodeDouble(b + 16),
                     DecodeDouble(b + 24)};
  if (context.Version < kStorageVersionNoExtra) in.Skip(kObjectExtraSize);
  return shapes_.LoadFromStream(in, context);
}

void TMapObject::SaveToStream(TWriteBuffer& out) const {
  WriteId(out, id_);
  uint8_t* b = out.Grow(kBoundsSize);
  EncodeDouble(b, bounds_.X1);
  EncodeDouble(b + 8, bounds_.Y1);
  EncodeDouble(b + 16, bounds_.X2);
  EncodeDouble(b + 24, bounds_.Y2);
  shapes_.SaveToStream(out);
}

bool TMapObject::UpdateBounds() {
  TGeoRect shape_bounds;
  const bool has_bounds = shapes_.GetBounds(shape_bounds);
  if (bounds_.X1 == 0 && bounds_.Y1 == 0 && bounds_.X2 == 0 && bounds_.Y2 == 0) {
    if (!has_bounds) return false;
    bounds_ = shape_bounds;
    return true;
  }
  if (!has_bounds) {
    bounds_ = TGeoRect{0, 0, 0, 0};
    return true;
  }
  bool changed = false;
  const auto lower = [&](double& v, double s) {
    if (s < v) v = s, changed = true;
  };
  const auto raise = [&](double& v, double s) {
    if (s > v) v = s, changed = true;
  };
  lower(bounds_.X1, shape_bounds.X1);
  lower(bounds_.Y1, shape_bounds.Y1);
  raise(bounds_.X2, shape_bounds.X2);
  raise(bounds_.Y2, shape_bounds.Y2);
  return changed;
}

// ---- TMapObjectList

bool TMapObjectList::Add(TMapObject* object) {
  if (!object || ids_.contains(object->Id())) return false;
  ids_.insert(object->Id());
  object->AddRef();
  items_.push_back(object);
  return true;
}

void TMapObjectList::Remove(TMapObject* object) {
  const int index = IndexOf(object);
  if (index < 0) return;
  const size_t at = head_ + static_cast<size_t>(index);
  if (index == 0) {
    items_[at] = nullptr;
    ++head_;
    CompactFront();
  } else {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  ids_.erase(object->Id());
  RefRelease(object);
}

void TMapObjectList::CompactFront() {
  if (head_ == items_.size()) {
    items_.clear();
    head_ = 0;
  } else if (head_ >= 64 && head_ * 2 >= items_.size()) {
    items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

TMapObject* TMapObjectList::Items(int index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return items_[head_ + static_cast<size_t>(index)];
}

int TMapObjectList::IndexOf(const TMapObject* object) const {
  for (size_t i = head_; i < items_.size(); ++i)
    if (items_[i] == object) return static_cast<int>(i - head_);
  return -1;
}

void TMapObjectList::Clear() {
  std::vector<TMapObject*> items;
  items.swap(items_);
  const size_t head = head_;
  head_ = 0;
  ids_.clear();
  for (size_t i = head; i < items.size(); ++i) RefRelease(items[i]);
}

bool TMapObjectList::LoadFromStream(TReadCursor& in, ILogSink& log) {
  Clear();
  TStorageVersionScope version_scope(StorageVersion());
  const std::string sector = sector_id_.Str();

  int count;
  try {
    const size_t start = in.Position();
    if (in.ReadU16() == kSectorObjectsMagic) {
      SetStorageVersion(in.ReadU16());
    } else {
      in.Seek(start);
      SetStorageVersion(kStorageVersionHeaderless);
    }
    count = in.ReadI16();
    if (count < 0)
      throw EStorageDataError("Запорчены данные: число объектов " + std::to_string(count),
                              in.Position());
  } catch (const Exception&) {
    log.WriteLine("Ошибка. Ошибка при загрузке заголовка сектора " + sector);
    return false;
  }

  const TObjectsDecodeContext context{StorageVersion(), log};
  try {
    for (; count > 0; --count) {
      RefHolder<TMapObject> object(new TMapObject());
      if (object->LoadFromStream(in, context))
        Add(object.get());
      else {
        log.WriteLine("Объект " + object->Id().Str() + " не загружен");
        log.ObjectsLost(1);
      }
    }
  } catch (const Exception&) {
    log.WriteLine("Ошибка. Не могу загрузить сектор " + sector + ". Потерянно " +
                  std::to_string(count) + " объектов");
    log.ObjectsLost(count);
    return false;
  }
  return true;
}

bool TMapObjectList::LoadFromBytes(std::span<const uint8_t> value, ILogSink& log) {
  TReadCursor in(value);
  return LoadFromStream(in, log);
}

void TMapObjectList::SaveToStream(TWriteBuffer& out) const {
  out.PutU16(kSectorObjectsMagic);
  out.PutU16(static_cast<uint16_t>(kStorageVersionCurrent));
  PutCount16(out, Count(), "Слишком много объектов в секторе " + sector_id_.Str());
  for (size_t i = head_; i < items_.size(); ++i) items_[i]->SaveToStream(out);
}

std::vector<uint8_t> TMapObjectList::SaveToBytes() const {
  TWriteBuffer out;
  SaveToStream(out);
  return out.Take();
}

}  // namespace atlor
