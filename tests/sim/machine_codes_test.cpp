#include "machine_codes.hpp"

#include <gtest/gtest.h>

#include "shop_fixture.hpp"

namespace shoplink::sim {
namespace {
using testing::bytes;

TEST(MachineCodes, IsoParityRows) {
  // "G" has four 1 bits, "C" three.
  EXPECT_EQ(encode_text(MachineCode::IsoEven, "GC"), bytes({0x47, 0xC3}));
  EXPECT_EQ(encode_text(MachineCode::IsoOdd, "GC"), bytes({0xC7, 0x43}));
  EXPECT_EQ(encode_text(MachineCode::IsoNone, "GC"), bytes({0x47, 0x43}));
  EXPECT_EQ(end_of_block(MachineCode::IsoEven, "\r\n"), bytes({0x8D, 0x0A}));
  EXPECT_EQ(end_of_block(MachineCode::IsoOdd, "\r\n"), bytes({0x0D, 0x8A}));
  EXPECT_EQ(encode_text(MachineCode::IsoEven, "\x11\x12\x13"), bytes({0x11, 0x12, 0x93}));
}

TEST(MachineCodes, IsoDecodeChecksParity) {
  Decoded d = decode_bytes(MachineCode::IsoEven, bytes({0xD4, 0xCF, 0x54, 0x8D, 0x0A}));
  EXPECT_EQ(d.text, "TOT\r\n");
  EXPECT_EQ(d.parity_errors, 1);  // the bare 0x54 lacks its parity bit
  EXPECT_EQ(decode_bytes(MachineCode::IsoOdd, bytes({0xC7, 0x43})).parity_errors, 0);
  EXPECT_EQ(decode_bytes(MachineCode::IsoNone, bytes({0xC7})).parity_errors, 1);
}

TEST(MachineCodes, EiaBlockBothWays) {
  // G01X1.0 then the end of block, punched by hand from the RS-244-B chart.
  const std::string block = bytes({0x67, 0x20, 0x01, 0x37, 0x01, 0x6B, 0x20, 0x80});
  EXPECT_EQ(encode_text(MachineCode::Eia, "G01X1.0") + end_of_block(MachineCode::Eia, "\r\n"),
            block);
  Decoded d = decode_bytes(MachineCode::Eia, block);
  EXPECT_EQ(d.text, "G01X1.0\n");
  EXPECT_EQ(d.parity_errors, 0);
  EXPECT_EQ(encode_text(MachineCode::Eia, "o%( )"), bytes({0x46, 0x0B, 0x1A, 0x10, 0x4A}));
  // CR has no punch; lower case punches as upper case.
  EXPECT_EQ(encode_text(MachineCode::Eia, "x\r"), bytes({0x37}));
}

TEST(MachineCodes, EiaReaderIgnoringParityTrack) {
  Decoded d = decode_bytes(MachineCode::Eia, bytes({0x03, 0x13, 0x05, 0x00}));
  EXPECT_EQ(d.text, std::string("335") + std::string(1, '\0'));
  EXPECT_EQ(d.parity_errors, 2);  // 0x03 and 0x05 have an even number of holes
  EXPECT_EQ(decode_bytes(MachineCode::Eia, bytes({0xFE})).unknown, 1);
}

TEST(MachineCodes, NumericCode) {
  EXPECT_EQ(encode_text(MachineCode::Numeric, "%109\nX"), bytes({0x4F, 1, 0, 9, 0x80}));
  EXPECT_EQ(decode_bytes(MachineCode::Numeric, bytes({0x4F, 7, 0x80})).text, "%7\n");
}

}  // namespace
}  // namespace shoplink::sim
