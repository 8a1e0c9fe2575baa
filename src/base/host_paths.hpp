#pragma once
// Station path texts (directory, a backslash, a name; drive letters) and the host file
// system. The logic keeps the station's text forms so that logged and listed paths read
// as they always did; only here do they become host paths.
//
// Host map: NAME=VALUE pairs from the station directory's HOSTMAP file and from the
// command line (which wins): "COM1=/dev/ttyUSB0", "C:=/srv/nc". Names are case-insensitive.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shoplink {

class HostPaths {
 public:
  explicit HostPaths(std::filesystem::path station_dir);

  // Reads HOSTMAP in the station directory (a missing file is fine); call it before the
  // command line's entries, which then replace the file's. Returns the unreadable lines.
  std::vector<std::string> load_hostmap_file();
  // Adds or replaces one entry: "C:" or "C" for a drive, "COM1" for a port.
  void map(std::string_view name, std::string value);
  // Parses "NAME=VALUE"; false when malformed.
  bool map_assignment(std::string_view assignment);
  std::optional<std::string> lookup(std::string_view name) const;

  // The station directory in the station's text form (the host path as it stands).
  const std::string& station_dir_text() const { return station_dir_text_; }
  const std::filesystem::path& station_dir() const { return station_dir_; }

  // Station text → host path: backslashes become "/", a leading drive "X:" is looked up in
  // the host map (an unmapped one stays a literal folder name under the station
  // directory), and a relative path is taken from the station directory. A NUL, which would
  // end the name early on the host, becomes the text "<00>".
  std::filesystem::path host_path(std::string_view text) const;
  // The same, matching each component that does not exist exactly to a unique existing
  // name that differs only in case (O1234.NC finds o1234.nc).
  std::filesystem::path existing(std::string_view text) const;

  // A station path as the operator reads it on this host (system log, status line): "/" as
  // the one separator, a mapped drive replaced by its host folder ("C:\NC\O1" with
  // C:=/srv/nc reads "/srv/nc/NC/O1"). Nothing else changes: the text is shown, not resolved.
  std::string display(std::string_view text) const;

  // For paths built from what a machine or a queue file sent: false when the text would
  // leave the station's directories: a ".." segment, a NUL, a drive the host map does not
  // name, or an absolute host path outside the station directory and the mapped drives.
  bool confined(std::string_view text) const;

  // The folders confinement keeps names in: the station directory and each mapped drive's.
  std::vector<std::filesystem::path> roots() const;

  // Device of the host line "COMn": the host map's COMn, else /dev/ttyS<n-1>; empty when
  // the digit names no port.
  std::string com_device(std::string_view digit) const;

  // "PACING=OFF" (or NO, 0): the host line writes at the device's full speed even where
  // the device cannot report its queue. For tests and benchmarks on pseudo-terminals and
  // loopback device servers; a real shop keeps pacing on.
  bool pacing_allowed() const;

  // Drive letter at the start of a station path ("C:\NC" → 'C'), or 0.
  static char drive_of(std::string_view text);
  // A ".." segment anywhere, also right after a drive ("C:..\x"), or a NUL.
  static bool climbs(std::string_view text);
  // `p` is `root` or lies below it (both absolute; lexical, no links followed).
  static bool inside(const std::filesystem::path& p, const std::filesystem::path& root);

 private:
  static std::string key(std::string_view name);
  std::filesystem::path station_dir_;
  std::string station_dir_text_;
  std::map<std::string, std::string> map_;
};

}  // namespace shoplink
