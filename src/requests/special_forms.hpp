#pragma once
// Command forms that are recognised before the general command characters: each is one
// check, tested in a fixed order; the first that applies decides.
#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

enum class FormOutcome {
  NotApplicable,  // no special form: the command characters decide
  Request,        // the form set the request's positions: go straight to dispatch
  Ignored,        // the command is not served (log "Command ignored")
  Handled,        // the form served the request itself (an upload it named)
  Ended,          // the call ends without a word
};

FormOutcome apply_special_forms(Station& s, CommandParse& p);

}  // namespace shoplink
