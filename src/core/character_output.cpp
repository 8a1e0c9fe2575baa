#include "core/character_output.hpp"

#include "core/station.hpp"

namespace shoplink {

void sendchar2(Station& s, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) s.line.write(text.substr(i, 1));
}

}  // namespace shoplink
