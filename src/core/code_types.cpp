#include "core/code_types.hpp"

#include "base/text.hpp"

namespace shoplink {

int code_type_of(std::string_view code_line) {
  const double v = val(code_line);
  // Far outside any table: keep it clearly invalid without overflowing an int.
  if (v > 1e6 || v < -1e6) return v > 0 ? 1000000 : -1000000;
  return static_cast<int>(round_int(v));
}

std::string code_type_name(int type) {
  switch (type) {
    case 0:
      return "ISO/Ascii (even)";
    case 1:
      return "ASCII (odd )";
    case 2:
      return "ASCII (none)";
    case 3:
      return "EIA RS244-B";
    default:
      return {};
  }
}

}  // namespace shoplink
