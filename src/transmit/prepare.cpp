#include "transmit/prepare.hpp"

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {

using ctl::SYN;
constexpr std::size_t kNulRun = 30;

// QRT ENGINEERING keeps program names as ":O1000~PART A"; its controls want "(O1000)PART A".
void qrt_engineering_names(std::string& line) {
  const auto tilde = line.find('~');
  if (tilde == std::string::npos) return;
  if (starts_with(line, ":")) {
    line[0] = '(';
    line[tilde] = ')';
  } else if (starts_with(line, "/:")) {
    line[0] = '/';
    line[1] = '(';
    line[tilde] = ')';
  }
}

std::string rtrim_spaces(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

std::string prepare2send(Station& s, std::string line) {
  if ((!line.empty() && line.back() == SYN) || line == "%*") {
    line.pop_back();
    return code_convert(s, line);
  }
  if (customer_is(s, "QRT ENGINEERING")) qrt_engineering_names(line);

  const PortSettings& p = s.cur();
  if (p.eob.empty()) line += p.code_type < 3 ? "\r\n" : "\n";
  if (contains(p.code_line, "OLD_OKUMA") && contains(line, "$")) {
    if (const auto pct = line.find('%'); pct != std::string::npos)
      line.insert(pct, std::string(kNulRun, '\0'));
  }
  if (contains(p.code_line, "MHP")) {
    if (const auto pct = line.find('%'); pct != std::string::npos)
      line.insert(pct + 1, std::string(kNulRun, '\0'));
  }
  std::string out = code_convert(s, line);
  out += p.eob;
  return out;
}

std::string convert4Hadley(Station& s, std::string line) {
  const std::size_t x = instr(line, "X");
  if (starts_with(line, "H") && x > 0) {
    const std::string number = rtrim_spaces(mid(line, 2, x - 2));
    line = "G90G10P" + number + "R" + mid(line, x + 1);
  }
  if (contains(line, "M02") || contains(line, "M2")) s.Hadley_M2 = true;
  return line;
}

}  // namespace shoplink
