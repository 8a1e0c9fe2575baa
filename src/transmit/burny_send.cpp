#include "transmit/burny_send.hpp"

#include "core/station.hpp"
#include "transmit/send_file.hpp"

namespace shoplink {

void Timer11_Timer(Station& s) {
  s.Timer11.stop();
  s.send_inhibit = 0;
  s.sending = 1;
  s.xoff = 0;
  s.Timer3.stop();
  // An Xon wait that ran out first has a start of its own queued: the file goes once.
  s.Timer20.stop();
  s.window.set_text(Field::Terminal, "Burny CLINK request:\r\n(sending " + s.Filename + ")\r\n");
  sendfile(s);
}

}  // namespace shoplink
