// The configuration readers on arbitrary files: DNCDATA, HOSTMAP, XREF/PROGXREF and the
// leader/trailer files. The first byte picks the file; the rest is its content. Checked
// besides: no crash, and no file outside the station directory touched, except where the
// DNCDATA itself names it (its queue folder and log file are the operator's, taken as written).
#include <cstddef>
#include <cstdint>

#include "config/dncdata.hpp"
#include "config/leader_trailer.hpp"
#include "fuzz_rig.hpp"

using namespace shoplink;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static fuzzing::FuzzTree tree({}, {{"outside/DNCDATA", "COM1:9600,Q\r\n"},
                                     {"outside/NC/O1234.NC", "not the station's\r\n"}});
  tree.reset();
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  fuzzing::FuzzStation st(tree.station());
  switch (data[0] % 5) {
    case 0: {
      tree.write("DNCDATA", bytes);
      read_dncdata(st.s);
      // Start-up copies the DNCDATA into the queue folder and clears stale queue commands
      // there; the log may be kept anywhere.
      // Named as the station names them, case matching included.
      const StationConfig& c = st.s.config;
      const fs::path queue = st.paths.existing(c.queue_dir + "\\x").parent_path();
      const fs::path log = st.paths.existing(c.log_path);
      tree.check_outside([&](const fs::path& p) { return p.parent_path() == queue || p == log; });
      return 0;
    }
    case 1:
      tree.write("HOSTMAP", bytes);
      st.paths.load_hostmap_file();
      st.paths.map_assignment(bytes);
      (void)st.paths.host_path(std::string(bytes));
      (void)st.paths.confined(bytes);
      break;
    case 2:
      tree.write("XREF", bytes);
      read_xref(st.s);
      (void)apply_xref(st.s, "O1234", "C:\\NC\\O1234");
      break;
    case 3:
      tree.write("PROGXREF", bytes);
      read_xref(st.s);
      break;
    default:
      tree.write("LEADER.003", bytes);
      tree.write("TRAILER.003", bytes);
      read_leaders_trailers(st.s);
      if (st.s.ports[3].leader != bytes || st.s.ports[3].trailer != bytes)
        fuzzing::fail("leader or trailer not read byte for byte");
      break;
  }
  tree.check_outside();
  return 0;
}
