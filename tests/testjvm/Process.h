#pragma once
// What the scripted Java code and the creation record read from the process: the working
// directory and environment variables, in UTF-8.

#include <string>

namespace testjvm {

std::string currentDirectory();
// The full path of the module that holds `address` (this library: which copy was loaded).
std::string modulePathOf(const void* address);
// False when the variable is not set.
bool environmentVariable(const std::string& name, std::string& value);
// "NAME=value" or "NAME unset": how the log shows a variable.
std::string describeVariable(const std::string& name);

}  // namespace testjvm
