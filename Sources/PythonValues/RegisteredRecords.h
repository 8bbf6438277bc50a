// The records of every interface, class and module the plugin registers with
// the host. Each is defined with its members by its class folder; they are
// declared here, below those folders, because the wrappers name the class
// they make and the plugin's entry registers them all.
#pragma once

#include "REALplugin.h"

extern REALinterfaceDefinition PythonIterableInterface;

// The classes whose instances hold a Python object.
extern REALclassDefinition PythonEntityBaseClass;
extern REALclassDefinition PythonEntityClass;
extern REALclassDefinition PythonBytesClass;
extern REALclassDefinition PythonListClass;
extern REALclassDefinition PythonDictionaryClass;
extern REALclassDefinition PythonParametersClass;
extern REALclassDefinition PythonResultClass;
extern REALclassDefinition PythonObjectClass;
extern REALclassDefinition PythonModuleClass;
extern REALclassDefinition PythonFunctionClass;
extern REALclassDefinition PythonClassClass;
extern REALclassDefinition PythonInstanceClass;

// The engine, its console and exceptions, and the host's own modules and classes.
extern REALclassDefinition PythonEngineConsoleOutputClass;
extern REALclassDefinition PythonXojoClassClass;
extern REALclassDefinition PythonXojoModuleClass;
extern REALclassDefinition PythonEngineClass;
extern REALmoduleDefinition PythonErrorTypesModule;
extern REALclassDefinition PythonExceptionClass;
extern REALclassDefinition PythonTaskClass;
