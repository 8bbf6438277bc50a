#include "PythonEngine/ConsoleOutput.h"

#include "PythonEngine/ClassRecords.h"

REALobjectStruct* consoleOutputInstance = nullptr;

namespace {

REALevent PythonEngineEvents[] = {
    records::Event("ConsoleOutput(output as String)"),
};

PythonEngineConsoleOutputData* ConsoleOutputDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEngineConsoleOutputData*>(REALGetClassData(instance, &PythonEngineConsoleOutputClass));
}

void PythonEngineConsoleOutput_Constructor(REALobjectStruct* instance) {
  ConsoleOutputDataOf(instance)->handler = REALGetEventInstance(instance, &PythonEngineEvents[0]);
}

}  // namespace

REALclassDefinition PythonEngineConsoleOutputClass =
    records::ClassRecord("Python3EngineConsoleOutput", nullptr, sizeof(PythonEngineConsoleOutputData))
        .initializer(PythonEngineConsoleOutput_Constructor)
        .events(PythonEngineEvents);
