#include "sim_fixture.h"

namespace maltor::test {
namespace {

using Smoke = SimTest;

TEST_F(Smoke, FirmwareVersionRoundTrip) {
  plug_and_connect();
  uint16_t word = 0;
  uint8_t a = 0, b = 0, c = 0;
  ASSERT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);
  EXPECT_EQ(word, 0x0203);
  EXPECT_EQ(a, 4);
}

}  // namespace
}  // namespace maltor::test
