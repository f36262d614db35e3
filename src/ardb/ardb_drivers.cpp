#include "ardb/ardb_drivers.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "core/encoding.h"
#include "core/exception.h"
#include "core/platform.h"
#include "core/simple_params.h"

namespace atlor {

namespace {

// The module-wide state of the registry.
struct RegistryState {
  XmlDocument collected;              // root `drivers`
  std::optional<XmlDocument> vendor;  // made on first use; a document without root: no vendor
  TArDbDriverList drivers;
  std::recursive_mutex lock;  // serializes DriverRequest and DriverCreateDatabase
};

std::unique_ptr<RegistryState>& State() {
  static std::unique_ptr<RegistryState> state;
  return state;
}

// An address inside this module, to ask the loader which file holds it.
void ModuleAnchor() {}

// The full path of the module that contains the registry; false when the system cannot tell.
bool RegistryModulePath(std::string& path) {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<const void*>(&ModuleAnchor), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0 ||
      map == nullptr || map->l_name == nullptr)
    return false;
  // The program itself has no name in the loader's list.
  path = map->l_name[0] == '\0' ? ExecutableFileName() : std::string(map->l_name);
  if (path.empty()) return false;
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    path = resolved;
    std::free(resolved);
  }
  return true;
}

XmlDocument MakeVendorDocument() {
  XmlDocument document;
  std::string path;
  if (!RegistryModulePath(path)) return document;
  XmlNode root = document.CreateRoot("vendor");
  IntfPtr<ISimpleParams> params = ParamsOf(root, true);
  params->SetString(Value("file"), path);
  // No file version resources on this platform: every module carries the project's version.
  const char* version = ProjectVersion();
  params->SetString(Value("version"),
                    version != nullptr && version[0] != '\0' ? version : "Unknown version");
  ATLOR_ASSERT(document.HasRoot(), "Invalid result");
  return document;
}

const XmlDocument& VendorOf(RegistryState& state) {
  if (!state.vendor) state.vendor = MakeVendorDocument();
  return *state.vendor;
}

RegistryState& CheckedState() {
  ATLOR_ASSERT(State() != nullptr, "DriverList object not initialized");
  return *State();
}

XmlDocument ParseWithRoot(const std::string& text) {
  XmlDocument document = XmlDocument::Parse(text);
  ATLOR_ASSERT(document.HasRoot(), "Invalid XML document");
  return document;
}

TArDbDriver& FindDriver(RegistryState& state, const std::string& name) {
  const int index = state.drivers.IndexOf(name);
  if (index < 0) throw Exception("IArDb: driver with name \"" + name + "\" not found");
  return state.drivers.Items(index);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TRequestHandler

TRequestHandler::TRequestHandler(std::string name, TRequestHandlerProc handler)
    : name_(std::move(name)), handler_(std::move(handler)) {
  ATLOR_ASSERT(static_cast<bool>(handler_), "Handler not defined");
}

// ---------------------------------------------------------------------------------------------
// TArDbDriver

TArDbDriver::TArDbDriver(std::string name, TArDbClass database_class)
    : database_class_(database_class), name_(std::move(name)) {
  LoadDescription();
}

TArDbDriver::~TArDbDriver() = default;

void TArDbDriver::LoadDescription() {
  description_ = XmlDocument();
  const std::unique_ptr<RegistryState>& state = State();
  XmlNode found;
  if (state) {
    for (const XmlNode& element : state->collected.Root().Elements("driver")) {
      if (element.Attribute("name") == name_) {
        found = element;
        break;
      }
    }
  }
  if (!found) ATLOR_FAIL("Definition not found for driver " + name_);
  XmlNode root = description_.SetRootCopy(found);
  const XmlDocument& vendor = VendorOf(*state);
  if (vendor.HasRoot()) root.AppendCopy(vendor.Root());
}

IntfPtr<IArDb> TArDbDriver::CreateDatabase() const {
  ATLOR_ASSERT(database_class_ != nullptr, "Object not initialized");
  IntfPtr<TArDb> database = database_class_();
  ATLOR_ASSERT(database != nullptr, "Object not initialized");
  return IntfPtr<IArDb>(database.get());
}

void TArDbDriver::RegisterRequestHandler(const std::string& name, TRequestHandlerProc handler) {
  for (const auto& existing : handlers_)
    ATLOR_ASSERT(!SameTextAscii(existing->Name(), name), "Request handler already registred");
  handlers_.push_back(std::make_unique<TRequestHandler>(name, std::move(handler)));
}

std::string TArDbDriver::HandleRequest(const XmlDocument& request) {
  ATLOR_ASSERT(request.HasRoot(), "Empty XML document");
  const std::string request_name = request.Root().Name();
  for (const auto& handler : handlers_) {
    if (!SameTextAscii(handler->Name(), request_name)) continue;
    const XmlDocument response = handler->Handler()(request);
    ATLOR_ASSERT(response.HasRoot(), "Request handler not return response document");
    return response.Text();
  }
  throw Exception("Unknown request \"" + request_name + "\"");
}

// ---------------------------------------------------------------------------------------------
// TArDbDriverList

TArDbDriver& TArDbDriverList::Add(std::unique_ptr<TArDbDriver> driver) {
  ATLOR_ASSERT(driver != nullptr, "Object not initialized");
  ATLOR_ASSERT(IndexOf(driver->Name()) < 0, "Driver already exist");
  drivers_.push_back(std::move(driver));
  return *drivers_.back();
}

int TArDbDriverList::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < drivers_.size(); ++i)
    if (SameTextAscii(drivers_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TArDbDriver& TArDbDriverList::Items(int index) const {
  ATLOR_ASSERT(index >= 0 && index < Count(), "List index out of bounds");
  return *drivers_[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------------------------
// The module's registry

void InitializeDriverRegistry(std::span<const TDriverResource> resources) {
  ATLOR_ASSERT(State() == nullptr, "DriverList object already initialized");
  auto state = std::make_unique<RegistryState>();
  XmlNode collected_root = state->collected.CreateRoot("drivers");

  // Resources are listed by name, as the system lists them.
  std::vector<const TDriverResource*> ordered;
  for (const TDriverResource& resource : resources) ordered.push_back(&resource);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const TDriverResource* a, const TDriverResource* b) {
                     return std::strcmp(a->Name, b->Name) < 0;
                   });
  for (const TDriverResource* resource : ordered) {
    const XmlDocument document =
        XmlDocument::Parse(std::string_view(resource->Data, resource->Size));
    ATLOR_ASSERT(document.HasRoot(), "Invalid XML document");
    for (const XmlNode& driver : document.Root().Elements("driver"))
      collected_root.AppendCopy(driver);
  }
  const XmlDocument& vendor = VendorOf(*state);
  if (vendor.HasRoot()) collected_root.AppendCopy(vendor.Root());
  State() = std::move(state);
}

void FinalizeDriverRegistry() { State().reset(); }

bool DriverRegistryInitialized() { return State() != nullptr; }

TArDbDriverList& DriverList() { return CheckedState().drivers; }

TArDbDriver& RegisterDriver(const std::string& name, TArDbClass database_class) {
  TArDbDriverList& list = DriverList();
  return list.Add(std::make_unique<TArDbDriver>(name, database_class));
}

XmlDocument CollectedDriverDescriptions() { return State() ? State()->collected : XmlDocument(); }

XmlDocument VendorDocument() { return State() ? VendorOf(*State()) : MakeVendorDocument(); }

std::string DriverRequest(const std::string& request) {
  RegistryState& state = CheckedState();
  std::lock_guard<std::recursive_mutex> guard(state.lock);
  const XmlDocument document = ParseWithRoot(request);
  const XmlNode root = document.Root();
  if (root.Name() == "query-drivers") {
    XmlDocument response;
    XmlNode drivers = response.CreateRoot("drivers");
    for (int i = 0; i < state.drivers.Count(); ++i)
      drivers.AppendCopy(state.drivers.Items(i).DescriptionElement());
    return response.Text();
  }
  return FindDriver(state, root.Attribute("driver-name")).HandleRequest(document);
}

IntfPtr<IArDb> DriverCreateDatabase(const std::string& description, bool open) {
  RegistryState& state = CheckedState();
  std::lock_guard<std::recursive_mutex> guard(state.lock);
  const XmlDocument document = ParseWithRoot(description);
  IntfPtr<IArDb> database = FindDriver(state, document.Root().Attribute("name")).CreateDatabase();
  if (open) database->Open(description);
  return database;
}

}  // namespace atlor
