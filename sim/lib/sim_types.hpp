#pragma once
// Small shared vocabulary of the simulated shop: code types, timing of a byte on a line,
// the controller's per-port parameters and the transcript record.
#include <cstdint>
#include <memory>
#include <string>

#include "base/clock.hpp"

namespace shoplink::sim {

enum class MachineCode { IsoEven, IsoOdd, IsoNone, Eia, Numeric };

std::string code_name(MachineCode c);
// "even", "odd", "none", "eia", "numeric" (case-insensitive); false when unknown.
bool parse_code_name(const std::string& text, MachineCode& out);

// One character on an asynchronous line: start bit, 8 data bits, stop bit.
inline Duration byte_time(long baud) {
  if (baud <= 0) baud = 9600;
  return Duration(10'000'000'000LL / baud);
}

// What the set-up string told the controller about one port.
struct PortParams {
  bool set = false;   // a complete block arrived for this port
  int baud_code = 0;  // 1..8, 0 = not given
  char parity = 0;    // '3' even parity, '4' none
  char stop = 0;      // '1' one stop bit, '3' two
  char data = 0;      // '2' seven data bits, '1' eight
  std::string raw;    // the block as received after DC4 and the port letter
  long baud() const;  // 0 when the code is unknown
  bool even_parity() const { return parity == '3'; }
  int stop_bits() const { return stop == '3' ? 2 : 1; }
  int data_bits() const { return data == '2' ? 7 : 8; }
};

long baud_for_code(int code);  // 110 .. 9600, 0 when unknown

struct TranscriptEntry {
  TimePoint at{};
  bool to_host = false;  // false: the station wrote it
  std::uint8_t byte = 0;
  int port = 0;  // the port selected at that moment (0 = none yet)
};

// Posted callbacks may outlive the model that posted them (the loop keeps them); they
// hold a weak token and do nothing once the model is gone.
class LifeToken {
 public:
  std::weak_ptr<bool> watch() const { return token_; }

 private:
  std::shared_ptr<bool> token_ = std::make_shared<bool>(true);
};

}  // namespace shoplink::sim
