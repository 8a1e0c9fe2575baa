#pragma once
// Makes one folder unwritable for a while, also when the tests run as root (as CI does):
// root then takes the unprivileged effective user id of "nobody", with the station directory
// opened to it, so that permission checks apply as they would to a service account.
#include <unistd.h>

#include <filesystem>

namespace shoplink::testing {

class UnprivilegedFor {
 public:
  UnprivilegedFor(const std::filesystem::path& station_dir,
                  const std::filesystem::path& readonly_dir)
      : readonly_(readonly_dir) {
    namespace fs = std::filesystem;
    const bool root = ::geteuid() == 0;
    if (root) {
      fs::permissions(station_dir, fs::perms::all);
      for (const auto& e : fs::recursive_directory_iterator(station_dir))
        fs::permissions(e.path(), e.is_directory() ? fs::perms::all : fs::perms(0666));
    }
    fs::permissions(readonly_, fs::perms(0555));
    if (root) dropped_ = ::seteuid(kNobody) == 0;
  }
  ~UnprivilegedFor() {
    if (dropped_) [[maybe_unused]]
      auto r = ::seteuid(0);
    std::filesystem::permissions(readonly_, std::filesystem::perms(0755));
  }
  UnprivilegedFor(const UnprivilegedFor&) = delete;
  UnprivilegedFor& operator=(const UnprivilegedFor&) = delete;

 private:
  static constexpr uid_t kNobody = 65534;
  std::filesystem::path readonly_;
  bool dropped_ = false;
};

}  // namespace shoplink::testing
