// The typed attribute members that Python3Module and Python3Instance share:
// both records list these very functions.
#pragma once

#include <vector>

#include "REALplugin.h"

// Int32Field ... ObjectField with their setters, HasAttribute, DeleteAttribute.
const std::vector<REALmethodDefinition>& AttributeMethods();
