// The dynamic symbols of the plugin file as nm lists them.
#pragma once

#include <set>
#include <string>

namespace pluginSymbols {

// What a shell command prints on its standard output.
std::string commandOutput(const std::string& command);
// "--defined-only" or "--undefined-only".
std::set<std::string> dynamic(const char* which);
// The exported symbol of a C++ declaration as nm prints it demangled; "" if none.
std::string mangledName(const std::string& declaration);
// Every exported name, C++ ones demangled.
std::set<std::string> exportedDemangled();

}  // namespace pluginSymbols
