#include "requests/special_forms.hpp"

#include "base/text.hpp"
#include "core/station.hpp"
#include "requests/controller_forms.hpp"
#include "requests/site_forms.hpp"

namespace shoplink {

namespace {

using SpecialForm = FormOutcome (*)(Station&, CommandParse&);

// A command from a queue file is the name of a program to send, whole.
FormOutcome queued_remote_command(Station& s, CommandParse& p) {
  if (!s.remote_queue) return FormOutcome::NotApplicable;
  s.remote_queue = false;
  p.t_pos = 1;
  return FormOutcome::Request;
}

// The port's IGNORE= text marks commands that are not requests (a control's own chatter).
FormOutcome port_ignore_text(Station& s, CommandParse& p) {
  const std::string& ignore = s.cur().ignore;
  if (!ignore.empty() && contains(p.command, ignore)) return FormOutcome::Ignored;
  return FormOutcome::NotApplicable;
}

// The order is fixed: the first form that applies decides.
constexpr SpecialForm kSpecialForms[] = {
    kessler_supply_open_file,  // KESSLER SUPPLY: "OPEN FILE"
    queued_remote_command,     // a queue file's program name
    lynx_file_name,            // LYNX: the answer to "ENTER FILE NAME:"
    eztrak_form,               // EZTRAK: "9999", name EOT first line
    mhp_form,                  // MHP: "((" ... "))"
    emco_held_first_line,      // EMCO: "%MPF1" held
    cin850_held_first_line,    // CIN850: ":" held
    port_ignore_text,          // the port's IGNORE= text
    okuma_z_min,               // OKUMA: "Z.MIN"
    g200_held_first_line,      // G200: "%MPF" held
    anilam_electronics,        // "ANILAM ELECTRONICS"
    hardware_echo,             // "&HE:"
    burny_upload,              // Burny CLINK "!FD"
    burny_download,            // Burny CLINK "!FG"
    mazak_program_one,         // MAZAK: "O0001", "O1"
    okuma_dollar_name,         // OKUMA: "$" without "$" among the name characters
    glenmore_metal_prog_form,  // GLENMORE METAL: "PROG,"
};

}  // namespace

FormOutcome apply_special_forms(Station& s, CommandParse& p) {
  for (SpecialForm form : kSpecialForms) {
    const FormOutcome outcome = form(s, p);
    if (outcome != FormOutcome::NotApplicable) return outcome;
  }
  return FormOutcome::NotApplicable;
}

}  // namespace shoplink
