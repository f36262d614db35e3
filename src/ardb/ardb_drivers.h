#pragma once

// The registry of the drivers compiled into a module (the program, or one driver library) and
// the two calls every module answers in the same form: an XML request (DriverRequest) and the
// creation of a database from a database description (DriverCreateDatabase).
//
// A driver is a name, a database class (a TArDb descendant), the driver's description (the
// `driver` element of the module's description resources, with the module's `vendor` element
// appended) and a set of named request handlers.
//
// Life of a module's registry (explicit, no static-initialiser tricks):
//
//   InitializeDriverRegistry(ProgramDriverResources());   // collects the descriptions
//   DriverList().Add(std::make_unique<TArDbDriver>("BDE.Paradox", CreateArDbOf<TPdoxArDb>));
//   ...                                                    // DriverRequest, DriverCreateDatabase
//   FinalizeDriverRegistry();
//
// A driver library does the same from its entry points (driver_module.h).
//
// Documents
//
// Description resources (kind "DRIVERLISTDATA"), each a complete XML document:
//   <drivers xml-builder-skin="ardb-drivers">
//     <driver name="ADO.MSSQL" caption="...">
//       <param name="server" caption="..." editor="text" basic="0" hint="..." title="..."
//              file-filters="...">default value</param>
//       <param name="authentication" editor="inline-lookup">
//         <value caption="...">SSPI</value>
//       </param>
//     </driver>
//   </drivers>
// Vendor element: <vendor><param name="file">module path</param>
//                         <param name="version">0.1.0</param></vendor>
// Requests: <query-drivers/>, or <query-lookup-values driver-name="ADO.MSSQL"
//           param-name="database"> + the connection parameters as `param` children.
// Responses: <drivers> + one driver description per driver (from a registry),
//            <response> + <value> children (lookup values).
// Database description: <driver name="ADO.MSSQL" caption="..."> + `param` children.
//
// Texts are UTF-8 documents without declaration (XmlDocument::Text()).

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ardb/ardb_utils.h"
#include "ardb/ardbs.h"
#include "core/interface.h"
#include "core/xml.h"

namespace atlor {

// One description resource of a module (kind "DRIVERLISTDATA"): its name and the bytes of the
// XML document it holds. The build embeds a module's resources as a table of these
// (cmake/AtlorDriverModules.cmake).
struct TDriverResource {
  const char* Name;
  const char* Data;
  size_t Size;
};

// The routine of a request handler: receives the request document and delivers the response
// document. A document without a root element counts as no response.
using TRequestHandlerProc = std::function<XmlDocument(const XmlDocument& request)>;

class TRequestHandler {
 public:
  // A handler without a routine is an assertion failure "Handler not defined".
  TRequestHandler(std::string name, TRequestHandlerProc handler);

  // The request's root element name.
  const std::string& Name() const { return name_; }
  const TRequestHandlerProc& Handler() const { return handler_; }

 private:
  std::string name_;
  TRequestHandlerProc handler_;
};

class TArDbDriver {
 public:
  // Stores the name and class and loads the description: the first `driver` element of the
  // collected descriptions whose `name` equals `name` exactly, with the vendor element appended.
  // None is an assertion failure "Definition not found for driver " + name.
  TArDbDriver(std::string name, TArDbClass database_class);
  TArDbDriver(const TArDbDriver&) = delete;
  TArDbDriver& operator=(const TArDbDriver&) = delete;
  virtual ~TArDbDriver();

  const std::string& Name() const { return name_; }
  TArDbClass DatabaseClass() const { return database_class_; }
  const XmlDocument& Description() const { return description_; }
  // The root element of Description (the `driver` element), or the null node.
  XmlNode DescriptionElement() const { return description_.Root(); }
  const std::vector<std::unique_ptr<TRequestHandler>>& Handlers() const { return handlers_; }

  // A new, closed database of DatabaseClass.
  IntfPtr<IArDb> CreateDatabase() const;
  // A handler of the same name (case ignored) already present is an assertion failure
  // "Request handler already registred".
  void RegisterRequestHandler(const std::string& name, TRequestHandlerProc handler);
  // Runs the handler named by the request's root element (case ignored) and answers the XML
  // text of its response. Unknown request: Exception "Unknown request \"<name>\"".
  std::string HandleRequest(const XmlDocument& request);

 private:
  void LoadDescription();

  XmlDocument description_;
  TArDbClass database_class_;
  std::vector<std::unique_ptr<TRequestHandler>> handlers_;
  std::string name_;
};

// The registry: an owning list of drivers in registration order. Names are unique ignoring the
// case of the Latin letters.
class TArDbDriverList {
 public:
  TArDbDriverList() = default;
  TArDbDriverList(const TArDbDriverList&) = delete;
  TArDbDriverList& operator=(const TArDbDriverList&) = delete;

  // Appends the driver; a name already present (case ignored) is an assertion failure "Driver
  // already exist". Returns the driver, now owned by the list.
  TArDbDriver& Add(std::unique_ptr<TArDbDriver> driver);
  // Position of the first driver with that name (case ignored), -1 if none.
  int IndexOf(std::string_view name) const;
  // Position checked (assertion failure "List index out of bounds").
  TArDbDriver& Items(int index) const;
  int Count() const { return static_cast<int>(drivers_.size()); }

 private:
  std::vector<std::unique_ptr<TArDbDriver>> drivers_;
};

// ---------------------------------------------------------------------------------------------
// The module's registry

// Collects the descriptions of `resources` (taken in the order of their names), then creates the
// empty registry and its lock. A resource without a root element is an assertion failure
// "Invalid XML document"; one that is not well-formed raises the XML layer's error. Initializing
// twice is an assertion failure "DriverList object already initialized".
void InitializeDriverRegistry(std::span<const TDriverResource> resources);
// Frees the registry with its drivers and the lock, and drops the collected and vendor
// documents. Does nothing when not initialized.
void FinalizeDriverRegistry();
bool DriverRegistryInitialized();

// The registry; before initialization an assertion failure "DriverList object not initialized".
TArDbDriverList& DriverList();
// Registers a driver: `DriverList().Add(std::make_unique<TArDbDriver>(name, database_class))`.
TArDbDriver& RegisterDriver(const std::string& name, TArDbClass database_class);

// The collected descriptions: root `drivers` with every `driver` element of the resources and
// the vendor element last. A document without root before initialization.
XmlDocument CollectedDriverDescriptions();
// The module's vendor document (root `vendor` with the entries "file" and "version"), made on
// first use and kept; a document without root when the module's path cannot be told.
XmlDocument VendorDocument();

// Answers a request text with a response text, under the module lock. "query-drivers": root
// `drivers` with every driver's description in registration order. Any other request goes to the
// driver named by the root's `driver-name` (case ignored); none: Exception "IArDb: driver with
// name \"<name>\" not found". A text without root element: assertion failure "Invalid XML
// document". This is what a driver library exports as XMLRequest.
std::string DriverRequest(const std::string& request);
// A database of the driver named by the description's root `name` attribute (case ignored),
// opened with the description when `open`; under the module lock. Unknown driver: Exception
// "IArDb: driver with name \"<name>\" not found". Exported by a driver library as
// CreateDbObject.
IntfPtr<IArDb> DriverCreateDatabase(const std::string& description, bool open);

}  // namespace atlor
