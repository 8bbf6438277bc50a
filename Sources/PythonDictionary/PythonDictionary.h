// Python3Dictionary, whose record is registered through InitDictionaryModule.
#pragma once

// Registers the dictionary class after clearing its lazily resolved entries.
void InitDictionaryModule();
