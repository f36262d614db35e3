#pragma once

// The driver manager: the one object through which the application reaches any driver, whether
// compiled into the program (the module's registry, ardb_drivers.h) or offered by a driver
// library (driver_module.h) found in the manager's folder.
//
//   InitializeDriverRegistry(ProgramDriverResources());
//   InitializeDbManager();                 // over the program's folder
//   RegisterProgramDrivers();              // the built-in drivers
//   ...
//   IntfPtr<IArDb> db = DbManager()->OpenDatabase(description, true);
//   ...
//   FinalizeDbManager();
//   FinalizeDriverRegistry();
//
// The manager fills its driver list on its first Request or OpenDatabase (or on Refresh): first
// the built-in drivers in registration order, then, for each library file in name order, the
// drivers whose names are not known yet (names compared exactly). A library that offers no new
// driver is not kept; a file that cannot be loaded, lacks an entry point or fails to answer is
// skipped silently. Libraries are unloaded after discovery and loaded again on first use.

#include <memory>
#include <string>
#include <vector>

#include "ardb/ardbs.h"
#include "ardb/driver_module.h"
#include "core/interface.h"
#include "core/ref_object.h"
#include "core/xml.h"

namespace atlor {

// A driver library file, shared by counted references from the manager's lists.
class TDrvModule : public TRefObject {
 public:
  explicit TDrvModule(std::string file_name);
  // Unloads.
  ~TDrvModule() override;

  const std::string& FileName() const { return file_name_; }
  bool Loaded() const { return handle_ != nullptr; }

  // True at once when loaded; otherwise loads the file and looks up both entry points. A file
  // that does not load, or lacks an entry point (it is unloaded again), answers false.
  bool Load();
  // Load; false raises Exception "Can't load module <FileName>".
  void EnsureLoaded();
  // Releases the library (when loaded) and forgets the entry points.
  void Unload();

  // EnsureLoaded, then the entry point. The library is made resident first (driver_module.h,
  // Lifetime). An error of the library is raised as Exception with its message.
  IntfPtr<IArDb> CallCreateDbObject(const std::string& description, bool open);
  // EnsureLoaded, then the entry point; an error of the library is raised as Exception.
  std::string CallXMLRequest(const std::string& request);

 private:
  std::string file_name_;
  void* handle_ = nullptr;
  TCreateDbObjectProc create_db_object_ = nullptr;
  TXMLRequestProc xml_request_ = nullptr;
};

// One known driver: the library that offers it (null for a driver compiled into the program)
// and its description element (`driver` with its `param` children and `vendor`), whose document
// the node keeps alive.
struct TDrvInfo {
  TDrvInfo(TDrvModule* module, XmlNode element);
  ~TDrvInfo();
  TDrvInfo(const TDrvInfo&) = delete;
  TDrvInfo& operator=(const TDrvInfo&) = delete;

  TDrvModule* Module = nullptr;  // one counted reference
  XmlNode Element;
};

class TArDbManager : public TMyInterfacedObject, public IArDbManager {
 public:
  // `folder` is where libraries are searched; it should end with "/" (one is added when missing).
  explicit TArDbManager(std::string folder);
  ~TArDbManager() override;

  ATLOR_IMPLEMENT_REFCOUNT
  int32_t QueryInterfaceImpl(const Guid& iid, void** object) override;

  // IArDbManager
  // Empties the lists and fills them again (does not change Loaded).
  void Refresh() override;
  // "query-drivers": root `response` with every known driver's description, built-in drivers
  // first. Any other request goes to the driver named by the root's `driver-name` (exact):
  // unknown, Exception "Drv: Invalid query syntaxis. Driver \"<name>\" not found".
  std::string Request(const std::string& request) override;
  // A description without root element: Exception "Invalid query"; unknown driver (exact name):
  // Exception "Driver \"<name>\" not found. Can't open base".
  IntfPtr<IArDb> OpenDatabase(const std::string& description, bool open) override;

  const std::string& Folder() const { return folder_; }
  bool IsLoaded() const { return loaded_; }
  // The lists as they stand (for diagnostics and tests).
  const std::vector<std::unique_ptr<TDrvInfo>>& Infos() const { return infos_; }
  const TRefObjectList& Modules() const { return modules_; }

 private:
  void LoadOnDemand();
  void Fill();
  void ClearLists();
  void AddLibraryDrivers(const std::string& file_name);
  // The first info whose element's `name` equals `name` exactly, or null.
  TDrvInfo* FindInfo(const std::string& name) const;

  TRefObjectList modules_{false};
  std::vector<std::unique_ptr<TDrvInfo>> infos_;
  std::string folder_;
  bool loaded_ = false;
};

// The folder of the running program, with its trailing "/".
std::string ProgramFolder();
// The full paths of the driver library files in `folder` (entries matching "ArDb*.so" that are
// not directories), sorted by name. An empty or unreadable folder has none.
std::vector<std::string> FindDriverLibraries(const std::string& folder);

// The program's manager: created over `folder` (the program's folder when empty), released by
// FinalizeDbManager. Initializing twice is an assertion failure "DbManager object already
// initialized".
void InitializeDbManager(const std::string& folder = std::string());
void FinalizeDbManager();
// The program's manager; before initialization an assertion failure "DbManager object not
// initialized".
IntfPtr<IArDbManager> DbManager();

}  // namespace atlor
