#include "core/platform.h"

#include <dlfcn.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/exception.h"
#include "core/interface.h"

#ifndef ATLOR_VERSION
#define ATLOR_VERSION "0.0.0"
#endif

namespace atlor {

std::string ModuleFileNameOf(const void* address_in_module) {
  Dl_info info{};
  if (dladdr(address_in_module, &info) == 0 || info.dli_fname == nullptr)
    return "Unknown module name, error number " + std::to_string(errno);
  std::string name = info.dli_fname;
  // The main program reports itself by the name it was started with: make it a full path.
  char resolved[PATH_MAX];
  if (realpath(name.c_str(), resolved) != nullptr) name = resolved;
  return name;
}

std::string ExecutableFileName() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string ExtractFileDir(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* ProjectVersion() { return ATLOR_VERSION; }

Guid NewGuid() {
  Guid g;
  uint8_t bytes[16];
  size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Exception(std::string("Не удалось получить случайные данные: ") + std::strerror(errno));
    }
    filled += static_cast<size_t>(n);
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  g.data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  g.data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  g.data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(g.data4, bytes + 8, 8);
  return g;
}

Guid Guid::Parse(const char* braced) {
  Guid g;
  unsigned d[11];
  if (std::sscanf(braced, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2], &d[3],
                  &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]) != 11)
    ATLOR_FAIL(std::string("Invalid GUID text ") + braced);
  g.data1 = d[0];
  g.data2 = static_cast<uint16_t>(d[1]);
  g.data3 = static_cast<uint16_t>(d[2]);
  for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<uint8_t>(d[3 + i]);
  return g;
}

std::string Guid::ToString() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2,
                data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6],
                data4[7]);
  return buf;
}

bool operator==(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::memcmp(a.data4, b.data4, 8) == 0;
}

}  // namespace atlor
