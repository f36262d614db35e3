#include "ardb/ardb_managers.h"

#include <dlfcn.h>
#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ardb/ardb_drivers.h"
#include "core/encoding.h"
#include "core/exception.h"
#include "core/platform.h"

namespace atlor {

namespace {

IntfPtr<TArDbManager>& ProgramManager() {
  static IntfPtr<TArDbManager> manager;
  return manager;
}

// A copy of `element` in a document of its own.
XmlNode CopyElement(const XmlNode& element) {
  XmlDocument document;
  return document.SetRootCopy(element);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TDrvModule

TDrvModule::TDrvModule(std::string file_name) : file_name_(std::move(file_name)) {}

TDrvModule::~TDrvModule() { Unload(); }

bool TDrvModule::Load() {
  if (handle_ != nullptr) return true;
  void* handle = dlopen(file_name_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return false;
  auto create_db_object = reinterpret_cast<TCreateDbObjectProc>(dlsym(handle, kCreateDbObjectName));
  auto xml_request = reinterpret_cast<TXMLRequestProc>(dlsym(handle, kXMLRequestName));
  if (create_db_object == nullptr || xml_request == nullptr) {
    dlclose(handle);
    return false;
  }
  handle_ = handle;
  create_db_object_ = create_db_object;
  xml_request_ = xml_request;
  return true;
}

void TDrvModule::EnsureLoaded() {
  if (!Load()) throw Exception("Can't load module " + file_name_);
}

void TDrvModule::Unload() {
  if (handle_ == nullptr) return;
  void* handle = handle_;
  handle_ = nullptr;
  create_db_object_ = nullptr;
  xml_request_ = nullptr;
  dlclose(handle);
}

IntfPtr<IArDb> TDrvModule::CallCreateDbObject(const std::string& description, bool open) {
  EnsureLoaded();
  // From now on objects of the library may live anywhere in the process: never unmap it.
  if (void* resident = dlopen(file_name_.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE))
    dlclose(resident);
  IArDb* raw = nullptr;
  char* error = create_db_object_(&raw, description.c_str(), open);
  IntfPtr<IArDb> database = IntfPtr<IArDb>::Adopt(raw);
  if (error != nullptr) throw Exception(TakeDriverText(error));
  if (database == nullptr) throw Exception(kDriverNoResultText);
  return database;
}

std::string TDrvModule::CallXMLRequest(const std::string& request) {
  EnsureLoaded();
  char* response = nullptr;
  char* error = xml_request_(&response, request.c_str());
  const bool answered = response != nullptr;
  std::string response_text = TakeDriverText(response);
  if (error != nullptr) throw Exception(TakeDriverText(error));
  if (!answered) throw Exception(kDriverNoResultText);
  return response_text;
}

// ---------------------------------------------------------------------------------------------
// TDrvInfo

TDrvInfo::TDrvInfo(TDrvModule* module, XmlNode element) : Element(std::move(element)) {
  RefTake(Module, module);
}

TDrvInfo::~TDrvInfo() {
  if (Module != nullptr) RefRelease(Module);
}

// ---------------------------------------------------------------------------------------------
// TArDbManager

TArDbManager::TArDbManager(std::string folder) : folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

TArDbManager::~TArDbManager() { ClearLists(); }

int32_t TArDbManager::QueryInterfaceImpl(const Guid& iid, void** object) {
  if (iid == IArDbManager::IID) {
    IArDbManager* intf = this;
    intf->AddRef();
    *object = intf;
    return kResultOk;
  }
  *object = nullptr;
  return kResultNoInterface;
}

void TArDbManager::ClearLists() {
  infos_.clear();
  modules_.Clear();
}

TDrvInfo* TArDbManager::FindInfo(const std::string& name) const {
  for (const auto& info : infos_)
    if (info->Element.Attribute("name") == name) return info.get();
  return nullptr;
}

void TArDbManager::Fill() {
  ClearLists();
  // Drivers compiled into the program come first and win over libraries.
  TArDbDriverList& drivers = DriverList();
  for (int i = 0; i < drivers.Count(); ++i) {
    const TArDbDriver& driver = drivers.Items(i);
    if (FindInfo(driver.Name()) != nullptr) continue;
    infos_.push_back(std::make_unique<TDrvInfo>(nullptr, CopyElement(driver.DescriptionElement())));
  }
  for (const std::string& file_name : FindDriverLibraries(folder_)) {
    try {
      AddLibraryDrivers(file_name);
    } catch (const EAssertionFailed&) {
      throw;
    } catch (const std::exception&) {
      // A broken library is skipped.
    }
  }
}

void TArDbManager::AddLibraryDrivers(const std::string& file_name) {
  RefHolder<TDrvModule> module(new TDrvModule(file_name));
  if (!module->Load()) return;
  try {
    XmlDocument request;
    request.CreateRoot("query-drivers");
    const XmlDocument answer = XmlDocument::Parse(module->CallXMLRequest(request.Text()));
    ATLOR_ASSERT(answer.HasRoot(), "Invalid XML document");
    bool added = false;
    for (const XmlNode& element : answer.Root().Elements("driver")) {
      const std::string name = TrimText(element.Attribute("name"));
      if (name.empty() || FindInfo(name) != nullptr) continue;
      infos_.push_back(std::make_unique<TDrvInfo>(module.get(), element));
      added = true;
    }
    if (added) modules_.Add(module.get());
  } catch (...) {
    module->Unload();
    throw;
  }
  // Loaded again on first use.
  module->Unload();
}

void TArDbManager::LoadOnDemand() {
  if (loaded_) return;
  Fill();
  loaded_ = true;
}

void TArDbManager::Refresh() { Fill(); }

std::string TArDbManager::Request(const std::string& request) {
  LoadOnDemand();
  const XmlDocument document = XmlDocument::Parse(request);
  if (!document.HasRoot()) throw Exception("Invalid query");
  const XmlNode root = document.Root();
  if (root.Name() == "query-drivers") {
    XmlDocument response;
    XmlNode response_root = response.CreateRoot("response");
    for (const auto& info : infos_) response_root.AppendCopy(info->Element);
    return response.Text();
  }
  const std::string name = root.Attribute("driver-name");
  TDrvInfo* info = FindInfo(name);
  if (info == nullptr)
    throw Exception("Drv: Invalid query syntaxis. Driver \"" + name + "\" not found");
  if (info->Module != nullptr) return info->Module->CallXMLRequest(request);
  return DriverRequest(request);
}

IntfPtr<IArDb> TArDbManager::OpenDatabase(const std::string& description, bool open) {
  LoadOnDemand();
  const XmlDocument document = XmlDocument::Parse(description);
  if (!document.HasRoot()) throw Exception("Invalid query");
  const std::string name = document.Root().Attribute("name");
  TDrvInfo* info = FindInfo(name);
  if (info == nullptr) throw Exception("Driver \"" + name + "\" not found. Can't open base");
  if (info->Module != nullptr) return info->Module->CallCreateDbObject(description, open);
  return DriverCreateDatabase(description, open);
}

// ---------------------------------------------------------------------------------------------
// Module functions

std::string ProgramFolder() {
  const std::string dir = ExtractFileDir(ExecutableFileName());
  if (dir.empty() || dir.back() == '/') return dir;
  return dir + '/';
}

std::vector<std::string> FindDriverLibraries(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  // No folder (the program's could not be told): no libraries, rather than whatever the current
  // directory holds.
  if (folder.empty()) return names;
  std::error_code ec;
  fs::directory_iterator it{fs::path(folder), ec};
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (fnmatch(kDriverLibraryPattern, name.c_str(), FNM_PERIOD) != 0) continue;
    std::error_code status_error;
    if (it->is_directory(status_error)) continue;
    names.push_back(name);
  }
  // The directory's own order is arbitrary here; name order makes precedence predictable.
  std::sort(names.begin(), names.end());
  std::string prefix = folder;
  if (prefix.back() != '/') prefix += '/';
  for (std::string& name : names) name = prefix + name;
  return names;
}

void InitializeDbManager(const std::string& folder) {
  ATLOR_ASSERT(ProgramManager() == nullptr, "DbManager object already initialized");
  ProgramManager() =
      IntfPtr<TArDbManager>(new TArDbManager(folder.empty() ? ProgramFolder() : folder));
}

void FinalizeDbManager() { ProgramManager().reset(); }

IntfPtr<IArDbManager> DbManager() {
  ATLOR_ASSERT(ProgramManager() != nullptr, "DbManager object not initialized");
  return IntfPtr<IArDbManager>(ProgramManager().get());
}

}  // namespace atlor
