// IPython3Iterable, the interface of the value wrappers whose items Python
// can iterate (Python3List, Python3Dictionary, Python3Parameters), all built
// on Python3EntityBase.
#include "Registration/ClassRecords.h"

REALinterfaceDefinition PythonIterableInterface = {
    kPluginInterfaceVersion,
    0,
    records::DescribedName("IPython3Iterable",
                           "A Python value whose items can be iterated: what Python3List.Extend accepts."),
    {0, 0, 0, 0}};
