#include "requests/special_forms.hpp"

#include "base/text.hpp"
#include "core/station.hpp"
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

// The order is fixed. Controller and site forms take their places in it:
//   "OPEN FILE" (KESSLER SUPPLY) before the queued command; the Lynx file name after it;
//   EZTRAK, MHP and the held first lines of EMCO and CIN850 before the ignore text;
//   after it "Z.MIN" (OKUMA), G200, "ANILAM ELECTRONICS", "&HE:", Burny "!FD" and "!FG",
//   MAZAK, "$" (OKUMA) and the "PROG," forms (GLENMORE METAL).
constexpr SpecialForm kSpecialForms[] = {
    kessler_supply_open_file,
    queued_remote_command,
    port_ignore_text,
    glenmore_metal_prog_form,
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
