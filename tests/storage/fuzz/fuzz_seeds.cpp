// Writes the fuzzer's seeds: a small valid OBJECTS value of every format version 256..286 (and
// one above), plus a few edge values. Usage: storage_fuzz_seeds <folder>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "storage/contour_codec.h"
#include "storage/testing/objects_writer.h"

using namespace atlor;
using fixtures::Bytes;

namespace {

void Save(const std::filesystem::path& folder, const std::string& name, const Bytes& value) {
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(value.data()), static_cast<std::streamsize>(value.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  for (int version = kStorageVersionHeaderless; version <= kStorageVersionCurrent; ++version)
    Save(folder, "v" + std::to_string(version), fixtures::MakeSectorValue(version, 3, version));
  Save(folder, "v300", fixtures::MakeSectorValue(300, 2, 300));
  Save(folder, "empty_list", {0xF3, 0xFF, 0x1E, 0x01, 0x00, 0x00});
  Save(folder, "v256_with_header", [] {
    Bytes v = fixtures::MakeSectorValue(256, 1, 7);
    v.insert(v.begin(), {0xF3, 0xFF, 0x00, 0x01});
    return v;
  }());
  // An object whose contour does not decode next to one that does.
  const Bytes bad = fixtures::EncodePacked(Bytes(16, 0), {0x00, 0x01, 0x01, 0x01});
  const Bytes good = fixtures::EncodePacked(Bytes(32, 0), {0x00, 0x01, 0x01, 0x01});
  Save(folder, "damaged_contour",
       fixtures::EncodeObjects(286, {{FormatId(1, 1), {}, {{6, bad, FormatId(2, 1)}, {6, good, FormatId(2, 1)}}},
                                     {FormatId(1, 2), {}, {{6, good, FormatId(2, 1)}}}}));
  return 0;
}
