// The host modules registered for import: Python3Engine.RegisterXojoModule
// and their release by Python3Engine.Finalize.
#pragma once

#include "HostHandles.h"
#include "REALplugin.h"

class HostModule;

// The Python3XojoModule objects registered, the latest of each name, kept
// alive by the array while the interpreter runs; or null.
extern ArrayField gRegisteredModules;

// Python3Engine.RegisterXojoModule.
void Python_RegisterXojoModule(REALobjectStruct* xojoModule, void* moduleCreatorFunction);

// Python3Engine.Init, once the interpreter has started: the modules
// registered before, which the application still holds, are kept alive again
// for this run, and imported as before.
void KeepRegisteredModulesForThisStart() noexcept;

// A module's state goes with its object: its name is no longer importable.
void ForgetRegisteredModule(const HostModule* state) noexcept;

// Python3Engine.Finalize, once the interpreter has stopped: releases the
// registered modules.
void ReleaseRegisteredModules() noexcept;
