// ArDbBroken.so: exports only XMLRequest, so it is no driver library.

#include <cstdlib>
#include <cstring>

extern "C" __attribute__((visibility("default"))) char* XMLRequest(char** response, const char*) {
  static const char kAnswer[] = "<drivers><driver name=\"TEST.Broken\"/></drivers>";
  *response = static_cast<char*>(std::malloc(sizeof kAnswer));
  std::memcpy(*response, kAnswer, sizeof kAnswer);
  return nullptr;
}
