#pragma once
// The end of the system log for the status page: read from the file on the server's own
// thread (the station goes on writing and trimming it meanwhile; a line cut by a trim at
// that moment is dropped).
#include <cstdint>
#include <string>
#include <vector>

namespace shoplink {

inline constexpr std::size_t kLogTailLines = 40;
inline constexpr std::size_t kLogTailBytes = 16 * 1024;

// The last `lines` whole lines of `file` within its last `bytes`, oldest first; none when it
// cannot be read.
std::vector<std::string> log_tail(const std::string& file, std::size_t lines = kLogTailLines,
                                  std::size_t bytes = kLogTailBytes);

// Changes whenever the file is written (its size and time of change); 0 when it is missing.
std::uint64_t log_stamp(const std::string& file);

}  // namespace shoplink
