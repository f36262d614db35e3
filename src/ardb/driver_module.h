#pragma once

// The binary contract between the driver manager (the host) and a driver library.
//
// A driver library is a shared object whose file name matches "ArDb*.so", placed in the
// program's folder, that exports with C linkage exactly these two functions:
//
//   char* CreateDbObject(atlor::IArDb** database, const char* description, bool open);
//   char* XMLRequest(char** response, const char* request);
//
// A file lacking either export is not a driver library and is ignored by the manager.
//
// CreateDbObject: creates a database of the driver named by the database description (the
//   `name` attribute of its root `driver` element) and, when `open` is true, opens it with the
//   description. On success *database receives one reference to the new database, owned by the
//   caller, who releases it (IntfPtr<IArDb>::Adopt).
// XMLRequest: answers the request text exactly as DriverRequest of ardb_drivers.h ("query-drivers"
//   lists the library's drivers; any other request goes to the driver named by `driver-name`).
//   On success *response receives the response text.
//
// Strings: every text crossing the boundary is UTF-8, zero-terminated. `description` and
// `request` are owned by the caller and only read during the call. The response text is allocated
// by the library with malloc and freed by the caller with free.
//
// Errors: no exception crosses the boundary. Each entry point catches everything; on failure it
// leaves the out value null and returns the error's message, allocated with malloc (the caller
// frees it with free); on success it returns null and the out value is set. The host raises the
// message again as a general error (atlor::Exception) carrying that text. A failure whose message
// could not be allocated returns null with the out value null; the host reports it with
// kDriverNoResultText.
//
// Interfaces: the database, and everything made from it (commands, cursors, table definitions,
// parameter sets), is used through the virtual methods of ardbs.h and simple_params.h, whose order
// is fixed. Those methods pass std::string, Value and exceptions, so a library must be built by
// the same compiler and standard library from the same sources as the program (this project's
// build does that: see atlor_add_driver_library in cmake/AtlorDriverModules.cmake).
//
// Lifetime: a library must never be unmapped while an object it created is alive, and the
// objects it hands out (through CreateDbObject, and every object made from them, down to strings
// of exception messages in flight) cannot all be tracked from outside. So the host makes a library
// resident the first time it calls its CreateDbObject: the library is then never unloaded for the
// rest of the process, whatever the host's own bookkeeping of it (the manager's TDrvModule may
// still "unload" and reload it; that only moves the dynamic loader's reference count). A library
// that was only asked for its drivers (XMLRequest hands out nothing but text) is unloaded as soon
// as the host lets it go.
//
// Registry state: every library links its own copy of the registry (ardb_drivers.h) and of the
// rest of the layer; with hidden visibility nothing of it is shared with the program or with other
// libraries. The library initializes its registry on the first call of either entry point: its
// description resources first, then its drivers (registration function), once.
//
// Writing a driver library (the whole file):
//
//   #include "ardb/driver_module.h"
//   #include "backends/sqlite/sqlite_driver.h"   // void RegisterSQLiteDriver();
//   ATLOR_DRIVER_LIBRARY(atlor::RegisterSQLiteDriver);
//
// where the registration function adds the library's drivers to its registry:
//
//   void RegisterSQLiteDriver() {
//     TArDbDriver& driver = RegisterDriver("SQLite", CreateArDbOf<TSQLiteDb>);
//     driver.RegisterRequestHandler("query-lookup-values", ...);   // when it answers requests
//   }
//
// and in CMake:
//
//   atlor_add_driver_library(ArDbSQLite
//     SOURCES sqlite_library.cpp
//     RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SQLITE.xml
//     LIBRARIES atlor_sqlite)

#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <type_traits>

#include "ardb/ardb_drivers.h"
#include "ardb/ardbs.h"

namespace atlor {

extern "C" {
// CreateDbObject(database, description, open) -> null, or the error message.
typedef char* (*TCreateDbObjectProc)(IArDb** database, const char* description, bool open);
// XMLRequest(response, request) -> null, or the error message.
typedef char* (*TXMLRequestProc)(char** response, const char* request);
}

inline constexpr const char* kCreateDbObjectName = "CreateDbObject";
inline constexpr const char* kXMLRequestName = "XMLRequest";
// File names of driver libraries in the program's folder.
inline constexpr const char* kDriverLibraryPattern = "ArDb*.so";
// The error of a failed entry-point call that brought back no message.
inline constexpr const char* kDriverNoResultText = "Driver library call failed without a message";

// --- Library side -------------------------------------------------------------------------------

// The description resources of this driver library, generated by atlor_add_driver_library.
std::span<const TDriverResource> DriverLibraryResources();

// Registers the library's drivers into the library's registry (DriverList().Add ...).
using TRegisterDriversProc = void (*)();

// The bodies of the two entry points: initialize the library's registry once (resources, then
// `register_drivers`; a failed initialization is undone and tried again on the next call), then
// serve the call (DriverCreateDatabase / DriverRequest); every error comes back as its message.
char* DriverLibraryCreateDbObject(TRegisterDriversProc register_drivers, IArDb** database,
                                  const char* description, bool open) noexcept;
char* DriverLibraryXMLRequest(TRegisterDriversProc register_drivers, char** response,
                              const char* request) noexcept;

// A malloc'd zero-terminated copy of `text`, or null when memory is short.
char* DriverTextCopy(const std::string& text) noexcept;

// --- Host side ----------------------------------------------------------------------------------

// Takes a text returned by a library (freed here); null gives the empty string.
inline std::string TakeDriverText(char* text) {
  std::unique_ptr<char, decltype(&std::free)> holder(text, &std::free);
  return text ? std::string(text) : std::string();
}

}  // namespace atlor

// Defines the two entry points of a driver library over its registration function.
#define ATLOR_DRIVER_LIBRARY(register_drivers)                                                     \
  extern "C" __attribute__((visibility("default"))) char* CreateDbObject(                          \
      ::atlor::IArDb** database, const char* description, bool open) {                             \
    return ::atlor::DriverLibraryCreateDbObject(&(register_drivers), database, description, open); \
  }                                                                                                \
  extern "C" __attribute__((visibility("default"))) char* XMLRequest(char** response,              \
                                                                     const char* request) {        \
    return ::atlor::DriverLibraryXMLRequest(&(register_drivers), response, request);               \
  }                                                                                                \
  static_assert(std::is_same_v<decltype(&CreateDbObject), ::atlor::TCreateDbObjectProc>);          \
  static_assert(std::is_same_v<decltype(&XMLRequest), ::atlor::TXMLRequestProc>)
