// Events implemented by host-side subclasses, handed to the plugin as plain
// C functions of the event's declared signature (libffi closures).
#pragma once

#include "ClassModel.h"

namespace xhost::detail {

// The handler `implementer` provides for `event` as a callable function,
// made once per class and event and kept for the process. Throws HostError
// when the event's types cannot be resolved.
REALproc eventFunction(const ClassInfo& implementer, Member& event);

}  // namespace xhost::detail
