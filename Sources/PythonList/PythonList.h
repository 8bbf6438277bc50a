// Python3List, whose record is registered through InitListModule.
#pragma once

// Registers the list class after clearing its lazily resolved entries.
void InitListModule();
