#include "base/controller_power.hpp"

namespace shoplink {

bool ControllerPower::seen(bool dsr, TimePoint now) {
  const bool was = dsr_.value_or(dsr);
  dsr_ = dsr;
  if (was && !dsr) fell_ = dtr_on_ && now - dtr_since_ >= kDtrSettle;
  if (was || !dsr) return false;
  const bool restart = fell_;
  fell_ = false;
  return restart;
}

}  // namespace shoplink
