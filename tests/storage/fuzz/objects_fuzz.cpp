// Any bytes as the OBJECTS value of a sector: decoding must neither crash nor read outside the
// value, must give StorageVersion back, and whatever it keeps must encode, decode again
// without a single report, and encode to the same bytes.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "storage/contour_codec.h"
#include "storage/map_object.h"

using namespace atlor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TObjectId sector("0001000000AA");
  TNullLogSink log;
  TMapObjectList list(nullptr, sector);
  list.LoadFromBytes(std::span<const uint8_t>(data, size), log);
  if (StorageVersion() != kStorageVersionCurrent) std::abort();
  for (int i = 0; i < list.Count(); ++i) list[i]->UpdateBounds();

  const std::vector<uint8_t> first = list.SaveToBytes();
  TMemoryLogSink again_log;
  TMapObjectList again(nullptr, sector);
  if (!again.LoadFromBytes(first, again_log)) std::abort();
  if (!again_log.Lines().empty() || again.Count() != list.Count()) std::abort();
  if (again.SaveToBytes() != first) std::abort();
  return 0;
}
