#include "gui/qt_loop.hpp"

#include "support/io_loop_contract.hpp"

namespace shoplink {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, IoLoopContract, QtLoop);
}  // namespace shoplink
