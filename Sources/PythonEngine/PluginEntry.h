#pragma once

// Resets the process-wide state and registers every record with the host.
void PluginEntry();
