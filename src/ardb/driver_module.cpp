#include "ardb/driver_module.h"

#include <cstring>
#include <exception>
#include <mutex>

#include "core/exception.h"

namespace atlor {

namespace {

// Initializes the library's registry once: its resources, then its drivers. A failure leaves
// the registry uninitialized, so the next call tries again and fails the same way.
void EnsureLibraryRegistry(TRegisterDriversProc register_drivers) {
  static std::mutex init_lock;
  static bool ready = false;
  std::lock_guard<std::mutex> guard(init_lock);
  if (ready) return;
  ATLOR_ASSERT(register_drivers != nullptr, "Object not initialized");
  try {
    InitializeDriverRegistry(DriverLibraryResources());
    register_drivers();
  } catch (...) {
    FinalizeDriverRegistry();
    throw;
  }
  ready = true;
}

// The message handed back for an error caught at the boundary.
char* ErrorText() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    return DriverTextCopy(e.what());
  } catch (...) {
    return DriverTextCopy("Unknown error in driver library");
  }
}

}  // namespace

char* DriverTextCopy(const std::string& text) noexcept {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

char* DriverLibraryCreateDbObject(TRegisterDriversProc register_drivers, IArDb** database,
                                  const char* description, bool open) noexcept {
  try {
    ATLOR_ASSERT(database != nullptr && description != nullptr, "Invalid parametrs");
    *database = nullptr;
    EnsureLibraryRegistry(register_drivers);
    IntfPtr<IArDb> result = DriverCreateDatabase(description, open);
    ATLOR_ASSERT(result != nullptr, "Invalid result");
    *database = result.Detach();
    return nullptr;
  } catch (...) {
    return ErrorText();
  }
}

char* DriverLibraryXMLRequest(TRegisterDriversProc register_drivers, char** response,
                              const char* request) noexcept {
  try {
    ATLOR_ASSERT(response != nullptr && request != nullptr, "Invalid parametrs");
    *response = nullptr;
    EnsureLibraryRegistry(register_drivers);
    char* text = DriverTextCopy(DriverRequest(request));
    if (text == nullptr) throw std::bad_alloc();
    *response = text;
    return nullptr;
  } catch (...) {
    return ErrorText();
  }
}

}  // namespace atlor
