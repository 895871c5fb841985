// "radio on" and "pin": argument checks, the switches they drive and their replies.
#include "DemoShell.h"
#include "gpio_model.h"
#include "radio_fixture.h"

using testing_support::takeOutput;

namespace {

class ShellRadioTest : public testing_support::RadioTest {
 protected:
  // The reply of one command line (the line between the echo and the closing rule).
  std::string reply(const char* line) {
    takeOutput();
    DemoShell::handleLine(line);
    std::string out = takeOutput();
    const size_t end = out.rfind("##########################");
    const std::string body = out.substr(0, end - 2);
    return body.substr(body.rfind('\n') + 1);
  }
  bool level(int port, int pin) { return sim::board().gpio().level(port, pin); }
};

TEST_F(ShellRadioTest, PinRefusesAnythingButANameAndOnOrOff) {
  for (const char* line : {"pin", "pin lora", "pin lora maybe", "pin LORA on", "pin stage2 on", "pin lora on now",
                           "pin on lora", "pin optohp off 1"}) {
    EXPECT_EQ(reply(line), "err: pin takes stage1|optohp|lora followed by on|off") << line;
  }
}

TEST_F(ShellRadioTest, PinSwitchesTheNamedLine) {
  struct Case {
    const char* line;
    int port, pin;  // the line that follows
    bool level;
  };
  const Case cases[] = {
      {"pin stage1 on", 1, 5, true},   {"pin stage1 off", 1, 5, false}, {"pin optohp on", 1, 6, true},
      {"pin optohp off", 1, 6, false}, {"pin lora on", 0, 8, true},     {"pin lora off", 0, 8, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reply(c.line), std::string("ok: ") + c.line) << c.line;
    EXPECT_EQ(level(c.port, c.pin), c.level) << c.line;
  }
  DemoShell::handleLine("pin stage1 on");
  EXPECT_FALSE(level(2, 7));  // gain selects stay low
  EXPECT_FALSE(level(2, 6));
}

TEST_F(ShellRadioTest, RadioOnInitialisesAndReportsAMissingRadio) {
  EXPECT_EQ(reply("radio on"), "ok: radio on");
  EXPECT_TRUE(llcc68HandlerInstance().isInitialized());
  for (const char* line : {"radio", "radio off", "radio on now", "radio  On"}) {
    EXPECT_EQ(reply(line), "err: radio takes on (use 'pin lora off' to cut power)") << line;
  }

  SetUp();
  chip().faults().absent = true;
  EXPECT_EQ(reply("radio on"), "err: radio did not init (check supply and SPI)");
  EXPECT_TRUE(level(0, 8));  // the supply stays on
  EXPECT_EQ(reply("pin lora on"), "err: radio did not init (check supply and SPI)");
  EXPECT_EQ(reply("pin lora off"), "ok: pin lora off");
}

}  // namespace
