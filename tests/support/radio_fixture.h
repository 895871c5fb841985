// The simulated board with its radio wired as at boot (GPIO, SPI1), for tests of the radio code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MCUState.h"
#include "air_script.h"
#include "llcc68_model.h"
#include "llcc68handler.h"
#include "main.h"
#include "radio_medium.h"
#include "test_board.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

class RadioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    freshBoard();
    chip().recordTransactions(true);
    llcc68HandlerInstance().markPoweredOff();
    if (resetsRxCallback()) llcc68HandlerInstance().setRxCallback(nullptr, nullptr);
  }
  // Tests of the node's own receive path keep the callback it registered once for the program.
  virtual bool resetsRxCallback() const { return true; }

  sim::Llcc68Model& chip() { return sim::board().radio(); }
  sim::RadioMedium& medium() { return sim::board().radioMedium(); }
  uint64_t nowUs() { return sim::board().nowUs(); }

  // Supply on and the chip out of reset and awake, without configuring it.
  void powerChip() {
    mcustate().pin.switch_.lora.pin_.setOn();
    ASSERT_EQ(llcc68_reset(nullptr), LLCC68_STATUS_OK);
    ASSERT_EQ(llcc68_wakeup(nullptr), LLCC68_STATUS_OK);
    chip().clearTransactions();
  }
  // Supply on and the handler's configuration, as "radio on" does.
  void radioOn() {
    ASSERT_TRUE(mcustate().pin.switch_.lora.setOn());
    takeOutput();
    chip().clearTransactions();
  }
  // A frame from the scripted transmitter.
  static sim::ScriptedFrame scripted(const std::string& line) {
    sim::ScriptedFrame f;
    std::string error;
    EXPECT_TRUE(sim::AirScript::parseLine(line, f, error)) << error;
    return f;
  }
  // Transactions whose first byte is `opcode`.
  std::vector<Bytes> framesWith(uint8_t opcode) {
    std::vector<Bytes> out;
    for (const Bytes& t : chip().transactions()) {
      if (!t.empty() && t[0] == opcode) out.push_back(t);
    }
    return out;
  }
  // Transmissions of one radio since start: the node's, the Vantor's.
  std::vector<sim::AirFrame> framesFrom(const std::string& sender) {
    std::vector<sim::AirFrame> out;
    for (const sim::AirFrame& f : medium().history()) {
      if (f.sender == sender) out.push_back(f);
    }
    return out;
  }
  std::vector<sim::AirFrame> nodeFrames() { return framesFrom("node"); }
  std::vector<sim::AirFrame> vantorFrames() { return framesFrom("vantor"); }
  // A frame of a node put on the air now, without the node's radio code; returns its end.
  uint64_t nodeSends(const Bytes& bytes) {
    sim::AirFrame f;
    f.sender = "node";
    f.bytes = bytes;
    f.startUs = nowUs();
    f.endUs = f.startUs + f.air.timeOnAirUs(bytes.size());
    medium().transmit(f);
    return f.endUs;
  }
};

}  // namespace testing_support
