// One line of description per Xojo-visible member, written beside its record
// entry and kept for the generated API reference. A description is found by
// what identifies its entry: a member's function, or the text of a
// declaration or name (the record's own pointer, not an equal copy).
#pragma once

namespace records {

void Describe(const void* entry, const char* description) noexcept;
// The description of an entry, or null when it has none.
const char* DescriptionOf(const void* entry) noexcept;

}  // namespace records
