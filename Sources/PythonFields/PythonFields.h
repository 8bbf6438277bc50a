// The typed attribute members that Python3Module and Python3Instance share:
// both records list these very functions.
#pragma once

#include <array>

#include "REALplugin.h"

constexpr size_t kAttributeMethodCount = 9;

// Int32Field ... ObjectField with their setters, HasAttribute, DeleteAttribute.
const std::array<REALmethodDefinition, kAttributeMethodCount>& AttributeMethods();
