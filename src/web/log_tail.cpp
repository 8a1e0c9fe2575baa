#include "web/log_tail.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace shoplink {

std::vector<std::string> log_tail(const std::string& file, std::size_t lines, std::size_t bytes) {
  std::vector<std::string> out;
  if (file.empty()) return out;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!f || std::fseek(f.get(), 0, SEEK_END) != 0) return out;
  const long size = std::ftell(f.get());
  if (size <= 0) return out;
  const long from = size > static_cast<long>(bytes) ? size - static_cast<long>(bytes) : 0;
  std::fseek(f.get(), from, SEEK_SET);
  std::string text(static_cast<std::size_t>(size - from), '\0');
  text.resize(std::fread(text.data(), 1, text.size(), f.get()));
  std::size_t at = 0;
  // A read that starts inside the file starts inside a line: that part is not shown.
  if (from > 0) {
    const auto nl = text.find('\n');
    at = nl == std::string::npos ? text.size() : nl + 1;
  }
  while (at < text.size()) {
    auto end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    if (end > at) out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (out.size() > lines) out.erase(out.begin(), out.end() - static_cast<long>(lines));
  return out;
}

std::uint64_t log_stamp(const std::string& file) {
  struct stat st {};
  if (file.empty() || ::stat(file.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size) * 1'000'003u ^
         static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1'000'000'000u ^
         static_cast<std::uint64_t>(st.st_mtim.tv_nsec) ^ 1u;
}

}  // namespace shoplink
