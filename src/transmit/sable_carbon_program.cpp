#include "transmit/sable_carbon_program.hpp"

#include <initializer_list>
#include <string>

#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {

// The prepared line as the machine reads it: the codes are looked for in the characters,
// not in their parity bits or tape code, so a port's parity never decides whether a line is
// changed. One character for one byte, so positions agree with the prepared line.
std::string as_read(const Station& s, const std::string& text) {
  const int type = s.cur().code_type;
  std::string plain = text;
  for (char& ch : plain) {
    const auto b = static_cast<unsigned char>(ch);
    if (type == 3 || type == 4) {
      ch = static_cast<char>(s.codes.receive[kRxEia][b]);
    } else if (type == 5) {
      ch = static_cast<char>(s.codes.receive[kRxNumeric][b]);
    } else {
      ch = static_cast<char>(b & 0x7F);
    }
  }
  return plain;
}

enum class Addition {
  G60After,           // the line, then G60
  Around,             // G61, the line, G62
  AroundUnlessDigit,  // as Around when no digit follows the code (M0 yes, M05 no), else none
  G61InsteadThenM30,  // the line with its M30 turned into G61, then M30
};

struct Change {
  const char* code;  // looked for in the line; the first row found decides
  Addition addition;
};

constexpr Change kChanges[] = {
    {"M42", Addition::G60After},           // G60 after the line
    {"M00", Addition::Around},             // program stop
    {"M02", Addition::Around},             // program end
    {"M0", Addition::AroundUnlessDigit},   // short program stop
    {"M2", Addition::AroundUnlessDigit},   // short program end
    {"M30", Addition::G61InsteadThenM30},  // end with rewind
};                                         // any other line is sent as it is

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

void Sable_carbon_mod1(Station& s, const std::string& text) {
  if (!contains(s.cur().code_line, "/M")) {
    sendchar(s, text);
    return;
  }
  auto code = [&s](std::string piece) { return code_convert(s, piece); };
  // Each piece under the machine's handshakes; a stop ends the line's pieces too.
  auto send = [&s](std::initializer_list<std::string> pieces) {
    for (const std::string& piece : pieces) {
      if (transfer_stopped(s)) return;
      sendchar(s, piece);
    }
  };
  const std::string plain = as_read(s, text);
  for (const Change& change : kChanges) {
    const std::size_t p = instr(plain, change.code);  // 1-based
    if (p == 0) continue;
    const std::size_t after = p - 1 + std::char_traits<char>::length(change.code);
    switch (change.addition) {
      case Addition::G60After:
        return send({text, code("G60")});
      case Addition::Around:
        return send({code("G61"), text, code("G62")});
      case Addition::AroundUnlessDigit:
        if (after < plain.size() && is_digit(plain[after])) return send({text});
        return send({code("G61"), text, code("G62")});
      case Addition::G61InsteadThenM30: {
        std::string before_end = text;
        before_end.replace(p - 1, 3, code("G61"));
        return send({before_end, code("M30")});
      }
    }
  }
  send({text});
}

}  // namespace shoplink
