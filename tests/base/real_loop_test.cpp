#include "base/real_loop.hpp"

#include "support/io_loop_contract.hpp"

namespace shoplink {
INSTANTIATE_TYPED_TEST_SUITE_P(Real, IoLoopContract, RealLoop);
}  // namespace shoplink
