#include "requests/site_forms.hpp"

#include <string>

#include "base/text.hpp"
#include "core/station.hpp"
#include "receive/site_names.hpp"

namespace shoplink {

namespace {

constexpr std::string_view kOpenFile = "OPEN FILE";
// The name of an OPEN FILE upload starts after "OPEN FILE" and its space.
constexpr std::size_t kOpenFileStorePos = 9;

// Removes `form` and the one character after it wherever it first occurs.
void cut_form(std::string& command, std::string_view form) {
  const std::size_t at = instr(command, form);
  if (at == 0) return;
  command = left(command, at - 1) + mid(command, at + form.size() + 1);
}

}  // namespace

FormOutcome kessler_supply_open_file(Station& s, CommandParse& p) {
  if (!site::kessler_supply(s) || !starts_with(p.command, kOpenFile)) {
    return FormOutcome::NotApplicable;
  }
  p.r_pos = kOpenFileStorePos;
  p.with_id = true;
  s.Asterisk = 1;
  return FormOutcome::Request;
}

FormOutcome glenmore_metal_prog_form(Station& s, CommandParse& p) {
  if (!site::glenmore_metal(s)) return FormOutcome::NotApplicable;
  cut_form(p.command, "PROG,999999");
  cut_form(p.command, "PROG, 999999");
  // The name starts two characters after the form, as the site's controls send it.
  if (const std::size_t at = instr(p.command, "PROG, "); at > 0) {
    p.r_pos = at + 7;
  } else if (const std::size_t at2 = instr(p.command, "PROG,"); at2 > 0) {
    p.r_pos = at2 + 6;
  } else {
    return FormOutcome::NotApplicable;
  }
  p.with_id = true;
  p.prog_form = true;
  s.mode = Mode::Receiving;
  return FormOutcome::Request;
}

void ashcroft_screw_receive_index(const Station& s, CommandParse& p) {
  if (!site::ashcroft_screw(s) || !contains(s.cur().code_line, "MURATA")) return;
  std::string bare;
  for (char c : p.command)
    if (c != ' ') bare += c;
  struct Choice {
    std::string_view text;
    int index;
  };
  static constexpr Choice kChoices[] = {{"OP1/2", 0}, {"OP2/2", 1}, {"HEAD1", 2}, {"HEAD2", 3}};
  for (const Choice& c : kChoices)
    if (contains(bare, c.text)) p.receive_index = c.index;
}

}  // namespace shoplink
