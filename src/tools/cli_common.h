#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ardb/ardbs.h"

// What the command-line programs share: the program's services (driver registry and manager),
// connection descriptions from the command line, and terminal helpers.
namespace atlor::cli {

// Exit statuses of the command-line programs.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRefused = 3;
constexpr int kExitStopped = 4;

// A usage error: the program prints the message and exits with kExitUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Initializes the program's driver registry (with the built-in drivers) and its driver manager;
// finalizes them in the reverse order.
class ProgramServices {
 public:
  ProgramServices();
  ProgramServices(const ProgramServices&) = delete;
  ProgramServices& operator=(const ProgramServices&) = delete;
  ~ProgramServices();
};

// Where the database is: a driver with "name=value" parameters, or a description document.
struct ConnectionArgs {
  std::string driver;
  std::vector<std::pair<std::string, std::string>> params;
  std::string description_file;

  bool Given() const { return !driver.empty() || !description_file.empty(); }
};

// Reads "DRIVER name=value ..." from the positional arguments; a parameter without "=" is a
// usage error.
ConnectionArgs ParseConnection(const std::vector<std::string>& positional,
                               const std::string& description_file);

// The database description document (XML text) of a connection.
std::string DescriptionText(const ConnectionArgs& connection);

// Opens the database through the driver manager.
IntfPtr<IArDb> OpenConnection(const ConnectionArgs& connection);

// The request that asks a driver to create a new, empty database:
//   <create-database driver-name="SQLITE"><param name="file">demo.sqlite</param></create-database>
// (the connection's driver and parameters; from a description file, its root's `name` and its
// `param` children). Drivers that can create a database answer it with a `response` root; they
// refuse an existing database with an error.
std::string CreateDatabaseRequest(const ConnectionArgs& connection);
// Sends CreateDatabaseRequest through the driver manager. A driver that cannot create databases
// answers with its "Unknown request" error, which propagates like the driver's own errors.
void CreateDatabase(const ConnectionArgs& connection);

// The drivers the manager offers: name, caption and library file (empty for built-ins).
struct DriverListing {
  std::string name, caption, file;
};
std::vector<DriverListing> ListDrivers();
// Prints the drivers, one per line: name, caption and library file ("-" for built-ins).
void PrintDrivers();

// Runs a program's body; an error that escapes it is printed as "Ошибка: %s" and gives
// kExitFailed.
int RunProgram(int (*run)(int, char**), int argc, char** argv);

// Prints a usage error of `program` with the hint to its help; returns kExitUsage.
int ReportUsageError(const char* program, const std::exception& error);

// A message-box text for a terminal: the "\n\r" pairs become line feeds.
std::string TerminalText(const std::string& text);

}  // namespace atlor::cli
