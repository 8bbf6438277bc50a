// Text encodings of host strings: conversion and Xojo's string comparison.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace xhost::detail {

bool isSupportedEncoding(uint32_t encoding);
std::string encodingName(uint32_t encoding);
bool isValidUtf8(std::string_view bytes);
// Whether convertText(bytes, from, to) would succeed and give the bytes back
// as they are (ASCII text, valid UTF-8 asked for as UTF-8, ...), so that they
// need only a copy. False says nothing: convertText decides.
bool readsUnchanged(std::string_view bytes, uint32_t from, uint32_t to);
// Bytes held in `from` re-encoded in `to`; nullopt when a character cannot be
// read or written. Bytes of unknown encoding are read as UTF-8 when valid;
// converting to the unknown encoding keeps the bytes as held.
std::optional<std::string> convertText(std::string_view bytes, uint32_t from, uint32_t to);
// Like Xojo's = and < on strings: compared as characters, ignoring case.
int compareTexts(std::string_view a, uint32_t encodingA, std::string_view b, uint32_t encodingB);

}  // namespace xhost::detail
