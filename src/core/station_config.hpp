#pragma once
// Station-wide and per-port configuration records, filled from the DNCDATA file at start-up
// (and, for the port controller fields, by the start-up scan).
#include <cstdint>
#include <string>

namespace shoplink {

enum class DefaultFileType { None, PCNC, ASCII, WINDOWS };

struct StationConfig {
  std::string host_port;
  std::string queue_dir;
  DefaultFileType default_file_type = DefaultFileType::None;
  std::int32_t response_timeout_ms = 20000;
  std::string log_path;
  std::int32_t log_limit = 50000;
  std::string dncdata_path;
  std::string dncdata_name;
};

struct PortSettings {
  std::string line_settings;
  std::string machine_name;
  int baud_code = 0;  // 0 = unset
  int char_delay = 0;
  std::string code_line;
  int code_type = 0;  // the leading number of code_line, 0..5
  double delay_ms = 5000;
  std::string receive_dir;
  std::string send_dir;
  std::string name_chars;
  bool paren_flag = false;
  std::string command_chars = "TRPSFD:\\N";  // T, R, P, S, F, D, drive, path, N
  std::string ignore;
  std::string extension;
  std::string subdir;
  std::string eob;
  std::string mask;
  // Sent unchanged before and after every program (LEADER.nnn / TRAILER.nnn).
  std::string leader;
  std::string trailer;

  char T() const { return command_chars[0]; }
  char R() const { return command_chars[1]; }
  char P() const { return command_chars[2]; }
  char S() const { return command_chars[3]; }
  char F() const { return command_chars[4]; }
  char D() const { return command_chars[5]; }
  char drive_char() const { return command_chars[6]; }
  char path_char() const { return command_chars[7]; }
  char N() const { return command_chars[8]; }
};

}  // namespace shoplink
