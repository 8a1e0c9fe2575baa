#pragma once
// "\CONTENTS": the index of numbered programs in a receive directory, one line per program:
// "0100","BRACKET", 2201 (number and name in quotes, then the size with its sign position),
// kept in ascending order of the number.
#include <filesystem>
#include <string>
#include <string_view>

namespace shoplink {

class Station;

inline constexpr const char* kContentsFile = "CONTENTS";
inline constexpr const char* kContentsTempFile = "TEMPFILE";
// A name stored without a comment of its own; such an upload keeps the indexed name.
inline constexpr const char* kDncLinkComment = "INPUT VIA DNC LINK ON";

// The index line for one program; the name is cut to 32 characters.
std::string contents_entry(std::string_view number, std::string_view name, double size);

// Puts the entry for `number` into the index at `contents`: lines numbered "EXEC" and every
// older line of that number go, the others keep their order, the new one is placed before
// the first line whose number sorts at or after it. An upload whose name holds
// kDncLinkComment keeps the name the index had for that number. The new index is written
// to `tempfile` and then put in the index's place in one step, so there is never a moment
// without an index. A missing index is created with the one entry. False (and the index left
// as it was) when the files cannot be read or written.
bool rewrite_contents(const std::filesystem::path& contents, const std::filesystem::path& tempfile,
                      std::string_view number, std::string_view name, double size);

// Appends the entry at the end of the index, creating it when missing.
bool append_contents(const std::filesystem::path& contents, std::string_view number,
                     std::string_view name, double size);

// The number of the index line whose name is exactly `name`; empty when none matches or
// the index cannot be read.
std::string contents_number_of(const std::filesystem::path& contents, std::string_view name);

// After an upload of the numbered form: enters `pcnc_file_no`, `pcnc_file_name` and
// `char_count` in HSTR & "\CONTENTS" (appended on "/32" ports without "/O").
void update_contents_file(Station& s);

}  // namespace shoplink
