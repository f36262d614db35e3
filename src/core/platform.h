#pragma once

#include <string>

// Services of the operating system the program needs.
namespace atlor {

// Full path of the module (program or shared library) that contains `address_in_module`; when
// the system cannot tell, "Unknown module name, error number " and the error code.
std::string ModuleFileNameOf(const void* address_in_module);
// Full path of the running executable.
std::string ExecutableFileName();
// Folder of a path (without the trailing separator), and the file name part.
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);

// The project's version, embedded by the build into every module.
const char* ProjectVersion();

}  // namespace atlor
