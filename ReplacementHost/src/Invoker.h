// Calling the functions named in records through libffi, and converting
// between Values and the argument and result words of those calls.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ClassModel.h"

namespace xhost::detail {

// One argument or result word.
union Slot {
  int64_t integer;
  int32_t int32;
  uint64_t uint64;
  double real;
  int8_t boolean;
  void* pointer;
  ffi_sarg widened;  // small integer results come back widened
};

// The call forms of a member, prepared once; throw HostError when a declared
// type cannot be resolved.
const PreparedCall& callFormOf(Member& member);
const PreparedCall& assignFormOf(Member& member);  // separate setter: declared parameters, then the value

// How well `value` fits a parameter of `type`: 0 exact, larger is a looser
// conversion; nullopt when Xojo would not accept it.
std::optional<int> argumentRank(const Value& value, const XType& type);
Slot argumentSlot(const Value& value, const XType& type);
// The Value of a result word; a string or object result's reference becomes the Value's.
Value resultValue(const XType& type, const Slot& slot, const std::string& context);
// A borrowed argument word as a Value that borrows it too (for event
// handlers): no reference is added, and the Value must be given up with
// forgetBorrowed, never destroyed while it holds the handle.
Value argumentValue(const XType& type, const void* word);
void forgetBorrowed(Value& value);

void callFunction(const PreparedCall& call, REALproc function, std::vector<Slot>& args, Slot& result);

std::string typeNameOf(const Value& value);  // "Integer", "Python3List", "Nil", ...

}  // namespace xhost::detail
