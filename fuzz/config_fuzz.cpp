// The configuration readers on arbitrary files: DNCDATA, HOSTMAP, XREF/PROGXREF and the
// leader/trailer files. The first byte picks the file; the rest is its content.
#include <cstddef>
#include <cstdint>

#include "config/dncdata.hpp"
#include "config/leader_trailer.hpp"
#include "fuzz_rig.hpp"

using namespace shoplink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  testing::LineStation<> st;
  switch (data[0] % 5) {
    case 0:
      st.dir.write("DNCDATA", bytes);
      read_dncdata(st.s);
      break;
    case 1:
      st.dir.write("HOSTMAP", bytes);
      st.paths.load_hostmap_file();
      st.paths.map_assignment(bytes);
      (void)st.paths.host_path(std::string(bytes));
      (void)st.paths.confined(bytes);
      break;
    case 2:
      st.dir.write("XREF", bytes);
      read_xref(st.s);
      (void)apply_xref(st.s, "O1234", "C:\\NC\\O1234");
      break;
    case 3:
      st.dir.write("PROGXREF", bytes);
      read_xref(st.s);
      break;
    default:
      st.dir.write("LEADER.003", bytes);
      st.dir.write("TRAILER.003", bytes);
      read_leaders_trailers(st.s);
      if (st.s.ports[3].leader != bytes || st.s.ports[3].trailer != bytes)
        fuzzing::fail("leader or trailer not read byte for byte");
      break;
  }
  return 0;
}
