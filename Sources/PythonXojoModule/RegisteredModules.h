// The host modules registered for import: Python3Engine.RegisterXojoModule
// and their release by Python3Engine.Finalize.
#pragma once

#include "REALplugin.h"

// The Python3XojoModule objects registered, the latest of each name, kept
// alive by the array until Finalize; or null.
extern REALarrayStruct* gRegisteredModules;

// Python3Engine.RegisterXojoModule.
void Python_RegisterXojoModule(REALobjectStruct* xojoModule, void* moduleCreatorFunction);

// Python3Engine.Finalize, once the interpreter has stopped: releases the
// registered modules and what only the stopped interpreter could still read.
void ReleaseRegisteredModules() noexcept;
