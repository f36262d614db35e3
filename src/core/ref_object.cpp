#include "core/ref_object.h"

#include <stdexcept>

namespace atlor {

void TRefObject::GetProperty(int item, std::vector<std::string>& receiver) const {
  if (item == 0) receiver.push_back("RefCount");
  if (item == 1) receiver.push_back(std::to_string(ref_count_));
}

int TRefObjectList::Add(TRefObject* item) {
  if (item) item->AddRef();
  items_.push_back(item);
  return Count() - 1;
}

void TRefObjectList::Drop(TRefObject* item) {
  if (!item) return;
  if (owns_items_)
    RefFree(item);
  else
    RefRelease(item);
}

void TRefObjectList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  TRefObject* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  Drop(item);
}

void TRefObjectList::Clear() {
  while (!items_.empty()) {
    TRefObject* item = items_.back();
    items_.pop_back();
    Drop(item);
  }
}

TRefObject* TRefObjectList::operator[](int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<size_t>(index)];
}

}  // namespace atlor
