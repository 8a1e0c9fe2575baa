#pragma once
// The directory request: a listing of a directory (named form) or of its CONTENTS index
// (numbered form) is written to CONTENTS.DNC there and sent to the machine like a program.
#include <string>
#include <string_view>
#include <vector>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

inline constexpr const char* kListingFile = "CONTENTS.DNC";
// Listings hold at most this many names.
inline constexpr std::size_t kMaxListedNames = 20001;

// Entered from the interpreter with `p_pos` set.
void directory_request(Station& s, CommandParse& p);

// A file name matches the listing pattern "*" & `pattern` (".*" matches every name, with or
// without a dot); letters compare without regard to case.
bool listing_match(std::string_view name, std::string_view pattern);

// The entries of a named-form listing: by first character from space to "Z" (upper-cased),
// in the given order within each character; other first characters are left out.
std::vector<std::string> listing_order(const std::vector<std::string>& names);

}  // namespace shoplink
