#include "ui/scan_failure.hpp"

#include <array>

namespace shoplink {

const std::string& scan_failure_help_text() {
  static const std::string text = [] {
    static const std::array<const char*, 30> lines = {
        "",
        "      Your SHOPLINK system did not scan properly. Some",
        "   problem areas and remedies are listed below. You can",
        "   use the SHOPLINK text editor to re-configure your",
        "   DNCDATA file, or you can use the SHOPLINK terminal",
        "   mode to perform some tests on your RS232 ports.",
        "",
        "                       Common problem #1",
        "   Port controller is not turned on (you know what to do)",
        "",
        "                       Common problem #2",
        "   Host port setting in line #1 of DNCDATA file does",
        "   not match DIP switch A setting on the back of the",
        "   port controller. See manual Pg. 6",
        "",
        "                       Common problem #3",
        "   Wrong COM port is selected for host connection. Do you",
        "   KNOW which COM port you're using? Do you have a",
        "   SERIAL mouse ? If so, you may need to edit line #1",
        "   of your DNCDATA file from  COM1:9600 to COM2:9600",
        "",
        "                       Common problem #4 ",
        "   Your Host cable was not made properly. The host cable",
        "   must be wired as shown in Appendix B, page B-3",
        "",
        "                       Common problem #5",
        "   Your PCs serial port (or) the port controllers Host",
        "   port is not working. Use the SHOPLINK terminal mode to",
        "   conduct the simple tests described in the SHOPLINK",
        "   troubleshooting guide in Appendix H",
    };
    std::string t;
    for (const char* l : lines) {
      t += l;
      t += "\r\n";
    }
    return t;
  }();
  return text;
}

}  // namespace shoplink
