#pragma once
// The station's one shared state record. Field names and order are fixed; Int16 fields are
// int16_t, Flag fields bool. Handlers share it without locks on the one thread.
#include <cstdint>
#include <string>

namespace shoplink {

inline constexpr int NumPorts = 8;
inline constexpr int kPortTableSize = 65;  // per-port tables cover ports 0..64

// Values of `mode`.
namespace Mode {
inline constexpr std::int16_t Scanning = 0;
inline constexpr std::int16_t Sending = 1;  // the Xon wait, then the transmission
inline constexpr std::int16_t Receiving = 2;
inline constexpr std::int16_t Terminal = 3;  // incoming characters are shown only
inline constexpr std::int16_t Settling = 5;  // arrivals are discarded
inline constexpr std::int16_t ControllerAnswer = 6;
}  // namespace Mode

struct StationState {
  std::int16_t G10R = 0;
  std::int16_t mode = 0;
  std::int16_t port = 0;
  std::int16_t stopscanning = 0;
  std::int16_t rx_code_unknown = 0;
  std::int16_t rx_code = 0;
  std::int16_t showdata = 0;
  std::int16_t send_inhibit = 0;
  std::int16_t AUTOPRINT = 0;
  std::int16_t filetype = 0;
  std::int16_t pause = 0;
  std::int16_t priority = 0;
  std::int16_t sending = 0;
  std::int16_t receiving = 0;
  std::int16_t mode_after_purge = 0;
  std::string BURNYSTRING, BFD, BFG, BFQ, BQQ;
  std::int16_t BURNY = 0, WEID = 0;
  std::string Filename;
  std::int16_t file_not_found = 0, character = 0;
  std::string string2send;
  std::int16_t xoff = 0;
  std::string rx_string;
  std::string rx_line;
  std::string HSTR, pcnc_file_no, pcnc_file_name;
  // Kept as whole numbers of characters; a single-precision count would misstate sizes
  // above 16 MB.
  double char_count = 0, file_size = 0;
  std::int16_t send_aborted = 0;
  std::string inputtext;
  std::int16_t Openfile = 0;
  std::string MACHSELECT;
  std::int16_t gotAK = 0;
  bool dump_RX_buffer = false;
  std::string Customer_name, Customer_city_state;
  std::int16_t error_number = 0;
  std::string Last_RX_line, probe;
  bool Xoff_wait = false;
  bool Hadley_pause = false, Hadley_M2 = false;
  std::string Stack;
  std::int16_t Drip = 0;
  bool RX_binary = false, TX_binary = false, Filter_me = false;
  bool Sable_carbon = false;
  std::string ShiftFile;
  bool remote_queue = false;
  bool Dun_Varley = false;
  std::string Parent;
  std::int16_t Asterisk = 0;
  bool Lynx_request = false;
  std::string BAK_name;
};

}  // namespace shoplink
