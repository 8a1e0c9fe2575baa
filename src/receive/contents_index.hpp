#pragma once
// "\CONTENTS": the index of numbered programs in a receive directory, one line per program:
// "0100","BRACKET", 2201 (number and name in quotes, then the size with its sign position),
// kept in ascending order of the number.
#include <filesystem>
#include <string>
#include <string_view>

namespace shoplink {

inline constexpr const char* kContentsFile = "CONTENTS";
inline constexpr const char* kContentsTempFile = "TEMPFILE";
// A name stored without a comment of its own; such an upload keeps the indexed name.
inline constexpr const char* kDncLinkComment = "INPUT VIA DNC LINK ON";

// The index line for one program; the name is cut to 32 characters.
std::string contents_entry(std::string_view number, std::string_view name, double size);

// Writes the index at `contents` as it will be with the entry for `number` into `tempfile`,
// which is made new (never written through a link), flushed to the disk and left for
// install_contents; the index itself is not touched. Lines numbered "EXEC" and every older
// line of that number go, the others keep their order, the new one is placed before the
// first line whose number sorts at or after it; an upload whose name holds kDncLinkComment
// keeps the name the index had for that number. With `append` ("/32" ports without "/O")
// the old index is kept as it is and the entry added at its end. A missing index gives one
// with the entry alone. False (and no `tempfile`) when the files cannot be read or written.
bool write_new_contents(const std::filesystem::path& contents,
                        const std::filesystem::path& tempfile, std::string_view number,
                        std::string_view name, double size, bool append);
// Puts the new index in the old one's place in one step (a link there is replaced).
bool install_contents(const std::filesystem::path& tempfile, const std::filesystem::path& contents);

// Both steps at once.
bool rewrite_contents(const std::filesystem::path& contents, const std::filesystem::path& tempfile,
                      std::string_view number, std::string_view name, double size);
bool append_contents(const std::filesystem::path& contents, std::string_view number,
                     std::string_view name, double size);

// The number of the index line whose name is exactly `name`; empty when none matches or
// the index cannot be read.
std::string contents_number_of(const std::filesystem::path& contents, std::string_view name);

}  // namespace shoplink
