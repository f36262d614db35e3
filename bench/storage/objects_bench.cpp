// Decoding, bounds update and re-encoding of realistic sector OBJECTS values: a few hundred
// objects each, polygons of 5 to 200 vertices with some arcs, in a mix of format versions.
// Throughput is reported in bytes of OBJECTS values per second. Before the timings the
// program prints the memory the decoded objects take against their encoded size.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "storage/contour_codec.h"
#include "storage/map_object.h"
#include "storage/testing/objects_writer.h"

namespace atlor {
namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<Bytes>& SectorValues() {
  static const std::vector<Bytes> values = [] {
    // Mostly current values, with the older versions a database may still hold.
    const int versions[] = {286, 286, 286, 286, 286, 270, 265, 264, 262, 261, 260, 257, 256};
    std::vector<Bytes> v;
    uint32_t seed = 1;
    for (const int version : versions) v.push_back(fixtures::MakeSectorValue(version, 300, seed++));
    return v;
  }();
  return values;
}

size_t TotalBytes(const std::vector<Bytes>& values) {
  size_t n = 0;
  for (const Bytes& v : values) n += v.size();
  return n;
}

void BM_DecodeUpdateEncode(benchmark::State& state) {
  const std::vector<Bytes>& values = SectorValues();
  TNullLogSink log;
  for (auto _ : state) {
    for (const Bytes& value : values) {
      TMapObjectList list;
      if (!list.LoadFromBytes(value, log)) state.SkipWithError("decode failed");
      for (int i = 0; i < list.Count(); ++i) list[i]->UpdateBounds();
      Bytes out = list.SaveToBytes();
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(values)));
}
BENCHMARK(BM_DecodeUpdateEncode)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& state) {
  const std::vector<Bytes>& values = SectorValues();
  TNullLogSink log;
  for (auto _ : state) {
    for (const Bytes& value : values) {
      TMapObjectList list;
      list.LoadFromBytes(value, log);
      benchmark::DoNotOptimize(list.Count());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(values)));
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

void BM_Encode(benchmark::State& state) {
  const std::vector<Bytes>& values = SectorValues();
  TNullLogSink log;
  std::vector<std::unique_ptr<TMapObjectList>> lists;
  size_t written = 0;
  for (const Bytes& value : values) {
    lists.push_back(std::make_unique<TMapObjectList>());
    lists.back()->LoadFromBytes(value, log);
    written += lists.back()->SaveToBytes().size();
  }
  for (auto _ : state) {
    for (const auto& list : lists) {
      Bytes out = list->SaveToBytes();
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

// Heap in use, malloc's own overhead included.
size_t HeapInUse() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

// Every object on its own: the heap it takes once decoded against its size in the current
// encoding (identifier, bounds, shapes).
void ReportMemory() {
  TNullLogSink log;
  size_t encoded_total = 0;
  size_t decoded_total = 0;
  size_t objects = 0;
  double worst_ratio = 0;
  long worst_excess = std::numeric_limits<long>::min();  // decoded - 2 x encoded
  for (const Bytes& value : SectorValues()) {
    TMapObjectList list;
    list.LoadFromBytes(value, log);
    for (int i = 0; i < list.Count(); ++i) {
      TWriteBuffer out;
      list[i]->SaveToStream(out);
      const Bytes encoded = out.Take();
      TReadCursor in(encoded);
      const TObjectsDecodeContext context{kStorageVersionCurrent, log};
      const size_t before = HeapInUse();
      TMapObject* object = new TMapObject();
      object->AddRef();
      object->LoadFromStream(in, context);
      const size_t decoded = HeapInUse() - before;
      object->Release();
      encoded_total += encoded.size();
      decoded_total += decoded;
      ++objects;
      worst_ratio = std::max(worst_ratio, static_cast<double>(decoded) / encoded.size());
      worst_excess = std::max(worst_excess, static_cast<long>(decoded) - 2 * static_cast<long>(encoded.size()));
    }
  }
  // Whole lists, with the list's own index of identifiers.
  size_t list_total = 0;
  for (const Bytes& value : SectorValues()) {
    const size_t before = HeapInUse();
    auto list = std::make_unique<TMapObjectList>();
    list->LoadFromBytes(value, log);
    list_total += HeapInUse() - before;
  }
  std::printf("Decoded lists: %zu bytes for %zu bytes of values (%.2f x)\n", list_total,
              TotalBytes(SectorValues()), static_cast<double>(list_total) / TotalBytes(SectorValues()));
  std::printf("Sector values: %zu, %zu bytes, %zu objects\n", SectorValues().size(),
              TotalBytes(SectorValues()), objects);
  std::printf("Decoded objects: %zu bytes for %zu encoded (%.2f x); worst object %.2f x; "
              "largest (decoded - 2 x encoded): %ld bytes\n",
              decoded_total, encoded_total, static_cast<double>(decoded_total) / encoded_total,
              worst_ratio, worst_excess);
}

}  // namespace
}  // namespace atlor

int main(int argc, char** argv) {
  atlor::ReportMemory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
