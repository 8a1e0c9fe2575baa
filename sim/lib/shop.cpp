#include "shop.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "machine_codes.hpp"

namespace shoplink::sim {

Shop::Shop(VirtualLoop& loop, ShopOptions opts)
    : loop_(loop), start_(loop.now()), controller_(loop, opts.controller) {
  line_ = std::make_unique<SimLine>(loop, controller_);
  for (int p = 1; p <= PortController::kPorts; ++p)
    machines_[p] = std::make_unique<Machine>(loop, controller_, p, opts.machines[p]);
}

Shop::Shop(EventLoop& loop, HostLink& link, ShopOptions opts)
    : loop_(loop), start_(loop.now()), controller_(loop, opts.controller) {
  controller_.attach_host(&link);
  for (int p = 1; p <= PortController::kPorts; ++p)
    machines_[p] = std::make_unique<Machine>(loop, controller_, p, opts.machines[p]);
}

SimLine& Shop::line() {
  if (!line_) throw std::logic_error("this shop has no in-process host line");
  return *line_;
}

Machine& Shop::machine(int port) {
  if (port < 1 || port > PortController::kPorts) throw std::out_of_range("machine port");
  return *machines_[port];
}
const Machine& Shop::machine(int port) const {
  if (port < 1 || port > PortController::kPorts) throw std::out_of_range("machine port");
  return *machines_[port];
}

void Shop::at(Duration t, std::function<void()> f) {
  loop_.post_at(start_ + t, std::move(f));
}

std::string Shop::summary() const {
  std::string out;
  const auto& tr = controller_.transcript();
  long to_host = 0;
  for (const auto& e : tr) to_host += e.to_host ? 1 : 0;
  out += fmt::format("host line: {} bytes from the station, {} bytes to the station\n",
                     static_cast<long>(tr.size()) - to_host, to_host);
  out +=
      fmt::format("controller: {} probe(s) answered, {} port block(s) set up, {} selects\n",
                  controller_.probes_answered(), controller_.setup_blocks(), controller_.selects());
  for (int p = 1; p <= PortController::kPorts; ++p) {
    const Machine& m = *machines_[p];
    if (m.received_bytes().empty() && m.bytes_sent() == 0) continue;
    const auto progs = m.programs();
    int complete = 0;
    for (const auto& pr : progs) complete += pr.complete ? 1 : 0;
    out += fmt::format("port {} ({}, {} baud): sent {} bytes, received {} bytes, {} program(s)", p,
                       code_name(m.config().code), m.config().baud, m.bytes_sent(),
                       m.received_bytes().size(), complete);
    if (progs.size() > static_cast<std::size_t>(complete)) out += " + 1 in progress";
    if (m.parity_errors() > 0) out += fmt::format(", {} parity error(s)", m.parity_errors());
    const PortParams& pp = controller_.params(p);
    if (pp.set && pp.baud() != 0 && pp.baud() != m.config().baud)
      out += fmt::format(", controller port at {} baud (mismatch)", pp.baud());
    out += "\n";
  }
  return out;
}

}  // namespace shoplink::sim
