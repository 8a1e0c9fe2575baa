#pragma once
// A whole simulated shop: the controller, its eight machines and (on virtual time) the
// host line the station opens.
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "base/event_loop.hpp"
#include "base/virtual_loop.hpp"
#include "machine.hpp"
#include "port_controller.hpp"
#include "sim_line.hpp"

namespace shoplink::sim {

struct ShopOptions {
  ControllerOptions controller;
  std::array<MachineConfig, PortController::kPorts + 1> machines{};  // index 1..8
};

class Shop {
 public:
  // On virtual time with the in-process host line.
  explicit Shop(VirtualLoop& loop, ShopOptions opts = {});
  // On any loop, the host side carried by `link` (a pseudo-terminal).
  Shop(EventLoop& loop, HostLink& link, ShopOptions opts = {});
  Shop(const Shop&) = delete;
  Shop& operator=(const Shop&) = delete;

  SimLine& line();  // only on virtual time
  bool has_line() const { return line_ != nullptr; }
  PortController& controller() { return controller_; }
  const PortController& controller() const { return controller_; }
  Machine& machine(int port);
  const Machine& machine(int port) const;
  EventLoop& loop() { return loop_; }

  // Runs `f` at `t` after the shop was built.
  void at(Duration t, std::function<void()> f);
  TimePoint start() const { return start_; }

  // Bytes each way, and per machine what it sent and the programs it received.
  std::string summary() const;

 private:
  EventLoop& loop_;
  TimePoint start_;
  PortController controller_;
  std::unique_ptr<SimLine> line_;
  std::array<std::unique_ptr<Machine>, PortController::kPorts + 1> machines_{};
};

}  // namespace shoplink::sim
