#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/ref_object.h"
#include "storage/byte_stream.h"
#include "storage/contour.h"
#include "storage/geometry.h"
#include "storage/log_sink.h"
#include "storage/object_id.h"

// Map objects, their shapes and the object list of a sector, with the encoding of a sector's
// OBJECTS value (layout at the top of map_object.cpp). Decoding works on the bytes of the value
// and reports damaged data to a log sink; the sector that holds a list reads and writes the
// value through the storage facade.
namespace atlor {

class TSector;  // the sector owning a list (built on the storage facade)
class TMapObject;

// What the parts of one value are decoded with: the value's format version and where damaged
// data is reported.
struct TObjectsDecodeContext {
  int Version;
  ILogSink& Log;
};

constexpr uint16_t kSectorObjectsMagic = 0xFFF3;
constexpr size_t kObjectExtraSize = 16;  // skipped bytes of objects before version 261

// One shape of a map object: a contour and the style it is drawn with.
class TShape {
 public:
  explicit TShape(TMapObject* owner = nullptr) : owner_(owner) {}
  TShape(const TShape&) = delete;
  TShape& operator=(const TShape&) = delete;

  TContour& Contour() { return contour_; }
  const TContour& Contour() const { return contour_; }
  const TObjectId& StyleId() const { return style_id_; }
  void SetStyleId(const TObjectId& id) { style_id_ = id; }
  TMapObject* Owner() const { return owner_; }

  // Reads the shape and decodes its contour. A contour that does not decode is reported
  // ("Ошибка в контуре (стиль %s), объекта %s. Контур потерян") and gives false; a value cut
  // short or an invalid style identifier raises EStorageDataError.
  bool LoadFromStream(TReadCursor& in, const TObjectsDecodeContext& context);
  void SaveToStream(TWriteBuffer& out) const;

 private:
  TContour contour_;
  TObjectId style_id_;
  TMapObject* owner_;
};

// The shapes of one map object, owned by the list.
class TShapeList {
 public:
  explicit TShapeList(TMapObject* owner) : owner_(owner) {}
  TShapeList(const TShapeList&) = delete;
  TShapeList& operator=(const TShapeList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TShape& operator[](int index) { return *items_[static_cast<size_t>(index)]; }
  const TShape& operator[](int index) const { return *items_[static_cast<size_t>(index)]; }
  // A new empty shape of this list's object, appended.
  TShape& Add();
  void Clear() { items_.clear(); }
  TMapObject* Owner() const { return owner_; }

  // The union of the bounds of every contour that has any; false when none has.
  bool GetBounds(TGeoRect& r);

  // Reads the shapes, keeping those that decode; an empty result is reported ("Ошибка. Объект
  // %s не содержит ни одного контура") and gives false. Errors of the value propagate.
  bool LoadFromStream(TReadCursor& in, const TObjectsDecodeContext& context);
  // EStorageWriteError for more than 32767 shapes.
  void SaveToStream(TWriteBuffer& out) const;

 private:
  std::vector<std::unique_ptr<TShape>> items_;
  TMapObject* owner_;
};

// A map object: its identifier, its stored bounding rectangle and its shapes.
class TMapObject : public TRefObject {
 public:
  TMapObject() : shapes_(this) {}

  const TObjectId& Id() const { return id_; }
  // The identifier of an object must not change while a list holds it.
  void SetId(const TObjectId& id) { id_ = id; }
  const TGeoRect& Bounds() const { return bounds_; }
  void SetBounds(const TGeoRect& bounds) { bounds_ = bounds; }
  TShapeList& Shapes() { return shapes_; }
  const TShapeList& Shapes() const { return shapes_; }

  // Reads the object; false when none of its shapes decodes. Raises EStorageDataError for an
  // invalid identifier ("Запорчен идентификатор") or a value cut short.
  bool LoadFromStream(TReadCursor& in, const TObjectsDecodeContext& context);
  void SaveToStream(TWriteBuffer& out) const;

  // Brings Bounds in line with the shapes: set from them when it is (0, 0, 0, 0), reset to
  // (0, 0, 0, 0) when no shape has bounds, otherwise widened to hold them. True when Bounds
  // changed (or was reset).
  bool UpdateBounds();

 private:
  TObjectId id_;
  TGeoRect bounds_;
  TShapeList shapes_;
};

// The map objects of one sector, each held by one counted reference, in order; no two with the
// same identifier.
class TMapObjectList {
 public:
  explicit TMapObjectList(TSector* owner = nullptr, const TObjectId& sector_id = TObjectId())
      : owner_(owner), sector_id_(sector_id) {}
  TMapObjectList(const TMapObjectList&) = delete;
  TMapObjectList& operator=(const TMapObjectList&) = delete;
  ~TMapObjectList() { Clear(); }

  TSector* Owner() const { return owner_; }
  // The sector identifier named in the lines reporting damaged data.
  const TObjectId& SectorId() const { return sector_id_; }
  void SetSectorId(const TObjectId& id) { sector_id_ = id; }

  // Adds a reference to object and appends it; false (nothing done) when an object with the
  // same identifier is in the list already.
  bool Add(TMapObject* object);
  // Takes object (by identity) out of the list and releases the list's reference.
  void Remove(TMapObject* object);
  int Count() const { return static_cast<int>(items_.size() - head_); }
  // The object at index (0..Count-1; std::out_of_range otherwise).
  TMapObject* Items(int index) const;
  TMapObject* operator[](int index) const { return Items(index); }
  int IndexOf(const TMapObject* object) const;
  bool ContainsId(const TObjectId& id) const { return ids_.contains(id); }
  void Clear();

  // Decodes a sector's OBJECTS value from the cursor's position to its end (the list is
  // cleared first). Damaged data is reported to log and skipped: true when every object the
  // value announces was read (objects without any decodable shape are left out), false when
  // the header or an object could not be read; the objects read before stay. StorageVersion is
  // the value's version during the decode and gets its previous value back afterwards.
  bool LoadFromStream(TReadCursor& in, ILogSink& log);
  bool LoadFromBytes(std::span<const uint8_t> value, ILogSink& log);
  // Encodes the list in the current format version. EStorageWriteError for more than 32767
  // objects, or more than 32767 shapes in one object.
  void SaveToStream(TWriteBuffer& out) const;
  std::vector<uint8_t> SaveToBytes() const;

 private:
  void CompactFront();

  TSector* owner_;
  TObjectId sector_id_;
  // items_[head_..] are the objects; removing the first one only moves head_.
  std::vector<TMapObject*> items_;
  size_t head_ = 0;
  std::unordered_set<TObjectId, TObjectIdHash> ids_;
};

}  // namespace atlor
