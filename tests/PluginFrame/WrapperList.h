// The host wrappers of the plugin interface as its description lists them,
// written here independently of the plugin's own lists: each wrapper's name
// (a C++ overload by its declaration as nm prints it), the host entry it
// requests and a C prototype in the letters of xhost/NativeCalls.h, where 'b'
// is a Boolean: a bool for the plugin, an RBBoolean byte for the host.
#pragma once

#include <string>
#include <vector>

#include "xhost/NativeCalls.h"

namespace wrapperList {

struct Forwarding {
  std::string area;
  std::string wrapper;
  std::string entry;
  std::string signature;
  xhost::NativeValue missing = {};  // the result when the entry is missing; empty: the zero of the result
};

// Array element access in two steps: the entry gives the procedure for an array.
struct ArrayAccess {
  std::string wrapper;
  std::string entry;
  char operation;  // 'I'nsert, 'G'et, 'S'et
  char letter;     // of the element type
};

// Every wrapper that follows the family rule: forwards its arguments, returns the result.
const std::vector<Forwarding>& forwarding();
std::vector<std::string> areas();  // of forwarding(), in order
const std::vector<ArrayAccess>& arrayAccess();
// The wrappers with logic of their own.
const std::vector<std::string>& others();

}  // namespace wrapperList
