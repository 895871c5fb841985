// The image boots on the emulated chip and configures it as the reference manual's registers say it
// must be for this board: the start on the console (banner, build identity, "ready"), the register
// state when the console first speaks (the end of the bring-up) against values written here from the
// STM32G0x0 reference manual (RM0454) and the board's bring-up, the order of some writes, and lines
// typed into the receive path (USART1 through DMA1 channel 2, idle-line interrupt) with their answers,
// among them a reading that runs on TIM6 and the ADC's DMA completion.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <vector>

#include <fstream>
#include <sstream>

#include "adc_model.h"
#include "image_on_chip.h"

namespace {

using emu_test::ImageOnChip;

struct Expected {
  const char* name;
  uint32_t address;
  uint32_t mask;
  uint32_t value;
};

constexpr uint32_t bits(unsigned pin, unsigned width, uint32_t value) { return value << (pin * width); }

enum Mode : uint32_t { kInput = 0, kOutput = 1, kAlternate = 2, kAnalog = 3 };

// The pin table of the board as GPIO register values.
struct Port {
  const char* name;
  uint32_t base;
  std::map<unsigned, Mode> modes;        // pins not listed: analog
  std::map<unsigned, uint32_t> pulls;    // PUPDR codes
  std::vector<unsigned> lowSpeed;        // OSPEEDR 01, "low speed" (00 is very low)
  std::map<unsigned, uint32_t> afs;      // alternate functions
  std::vector<unsigned> drivenLow;       // ODR bits 0
};

std::vector<Port> ports() {
  // Port A: PA0-PA4 ADC inputs (analog), PA5-PA7 SPI1 (AF0), PA8 radio supply (output), PA9/PA10 USART1
  // (AF1, PA10 pulled up), PA11/PA12/PA15 radio DIO inputs, PA13/PA14 serial-wire debug (their reset
  // state: AF, pull-up / pull-down, very high speed on PA13). Port B: PB0, PB2, PB5, PB6, PB7, PB10
  // outputs; PB11 (radio BUSY) input; the rest analog. PB1 leaves the GPIO bring-up as an output driven
  // low, then the ADC's set-up makes it the analog input of channel 9 (the inductive pick-up), which a
  // driven pin would short. Port D: PD3 the provisioning button (input).
  return {
      {"A", 0x50000000,
       {{5, kAlternate}, {6, kAlternate}, {7, kAlternate}, {8, kOutput}, {9, kAlternate}, {10, kAlternate},
        {11, kInput}, {12, kInput}, {13, kAlternate}, {14, kAlternate}, {15, kInput}},
       {{10, 1}, {13, 1}, {14, 2}},
       {5, 6, 7, 8, 9, 10},
       {{5, 0}, {6, 0}, {7, 0}, {9, 1}, {10, 1}},
       {8}},
      {"B", 0x50000400,
       {{0, kOutput}, {2, kOutput}, {5, kOutput}, {6, kOutput}, {7, kOutput}, {10, kOutput}, {11, kInput}},
       {},
       {0, 1, 2, 5, 6, 7, 10},
       {},
       {0, 1, 2, 6, 7, 10}},
      {"C", 0x50000800, {}, {}, {}, {}, {}},
      {"D", 0x50000C00, {{3, kInput}}, {}, {}, {}, {}},
      {"F", 0x50001400, {}, {}, {}, {}, {}},
  };
}

std::vector<Expected> expectedRegisters() {
  std::vector<Expected> e;
  static std::vector<std::string> names;  // the names live as long as the checks
  names.reserve(200);
  auto named = [&](const std::string& n) { return names.emplace_back(n).c_str(); };
  for (const Port& p : ports()) {
    uint32_t moder = 0, pupdr = 0, speed = 0, afrl = 0, afrh = 0;
    for (unsigned pin = 0; pin < 16; ++pin) {
      const auto m = p.modes.find(pin);
      moder |= bits(pin, 2, m == p.modes.end() ? kAnalog : m->second);
    }
    for (const auto& [pin, pull] : p.pulls) pupdr |= bits(pin, 2, pull);
    for (unsigned pin : p.lowSpeed) speed |= bits(pin, 2, 1);
    if (std::string(p.name) == "A") speed |= bits(13, 2, 3);
    for (const auto& [pin, af] : p.afs) (pin < 8 ? afrl : afrh) |= bits(pin % 8, 4, af);
    const std::string port = std::string("GPIO") + p.name;
    e.push_back({named(port + "_MODER"), p.base + 0x00, 0xFFFFFFFF, moder});
    e.push_back({named(port + "_OTYPER push-pull"), p.base + 0x04, 0xFFFF, 0});
    e.push_back({named(port + "_OSPEEDR"), p.base + 0x08, 0xFFFFFFFF, speed});
    e.push_back({named(port + "_PUPDR"), p.base + 0x0C, 0xFFFFFFFF, pupdr});
    for (unsigned pin : p.drivenLow) {
      e.push_back({named(port + "_ODR pin " + std::to_string(pin) + " low"), p.base + 0x14, 1u << pin, 0});
    }
    e.push_back({named(port + "_AFRL"), p.base + 0x20, 0xFFFFFFFF, afrl});
    e.push_back({named(port + "_AFRH"), p.base + 0x24, 0xFFFFFFFF, afrh});
  }
  constexpr uint32_t kRcc = 0x40021000, kFlash = 0x40022000, kPwr = 0x40007000;
  const std::vector<Expected> rest = {
      // Clock tree: HSI16 on, divided by 4 (HSIDIV = 010); HSE and PLL off; HSITRIM at its default 64;
      // SYSCLK = HSISYS (SW = 000), AHB and APB undivided; LSI on; flash latency 0.
      {"RCC_CR HSION, HSIDIV /4, HSE and PLL off", kRcc + 0x00, (1u << 8) | (7u << 11) | (1u << 16) | (1u << 24),
       (1u << 8) | (2u << 11)},
      {"RCC_ICSCR HSITRIM 64", kRcc + 0x04, 0x7Fu << 8, 64u << 8},
      {"RCC_CFGR SW HSISYS, HPRE /1, PPRE /1", kRcc + 0x08, 0x7u | (0xFu << 8) | (0x7u << 12), 0},
      {"RCC_CSR LSION", kRcc + 0x60, 1, 1},
      {"FLASH_ACR LATENCY 0", kFlash + 0x00, 0x7, 0},
      {"PWR_CR1 VOS range 1", kPwr + 0x00, 3u << 9, 1u << 9},
      // Clocks of what the board uses: GPIO A, B, C, D, F; DMA1; PWR, RTC APB, TIM6; SYSCFG, SPI1,
      // USART1, ADC. USART1 kernel clock = PCLK (USART1SEL = 00).
      {"RCC_IOPENR GPIOA..D, GPIOF", kRcc + 0x34, 0x2F, 0x2F},
      {"RCC_AHBENR DMA1EN", kRcc + 0x38, 1, 1},
      {"RCC_APBENR1 PWREN, RTCAPBEN, TIM6EN", kRcc + 0x3C, (1u << 28) | (1u << 10) | (1u << 4),
       (1u << 28) | (1u << 10) | (1u << 4)},
      {"RCC_APBENR2 SYSCFGEN, SPI1EN, USART1EN, ADCEN", kRcc + 0x40, 1u | (1u << 12) | (1u << 14) | (1u << 20),
       1u | (1u << 12) | (1u << 14) | (1u << 20)},
      {"RCC_CCIPR USART1SEL PCLK", kRcc + 0x54, 0x3, 0},
      // RTC clocked by LSI and enabled; 24-hour format, output off, prescalers 127 and 255.
      {"RCC_BDCR RTCSEL LSI, RTCEN", kRcc + 0x5C, (3u << 8) | (1u << 15), (2u << 8) | (1u << 15)},
      {"RTC_PRER PREDIV_A 127, PREDIV_S 255", 0x40002810, 0x007F7FFF, (127u << 16) | 255u},
      // RTC_CR: FMT 0 (24 h), OSEL 00 and COE 0 (no output), POL 0 (high), TAMPALRM_TYPE 1 (open
      // drain), TAMPALRM_PU 0, OUT2EN 0 (no remap).
      {"RTC_CR", 0x40002818, (1u << 6) | (3u << 21) | (1u << 23) | (1u << 20) | (1u << 30) | (1u << 29) | (1u << 31),
       1u << 30},
      // DMA1 channel 1: ADC, peripheral to memory, memory increment, 16/16 bits, normal, low priority.
      // Channel 2: USART1 receive, memory increment, 8/8 bits, normal, high priority, running (the
      // console's receive-to-idle) from USART1_RDR.
      {"DMA1_CCR1 ADC channel settings", 0x40020008, 0x7FF0, (1u << 7) | (1u << 8) | (1u << 10)},
      {"DMAMUX_C0CR request ADC (5)", 0x40020800, 0x7F, 5},
      {"DMA1_CCR2 USART1 receive settings", 0x4002001C, 0x7FF0, (1u << 7) | (2u << 12)},
      {"DMA1_CCR2 EN", 0x4002001C, 1, 1},
      {"DMA1_CPAR2 USART1_RDR", 0x40020024, 0xFFFFFFFF, 0x40013824},
      {"DMAMUX_C1CR request USART1_RX (50)", 0x40020804, 0x7F, 50},
      // ADC: clock PCLK/2 (CKMODE = 01), 12 bits right-aligned, forward scan, continuous, no
      // discontinuous mode, software trigger, one-shot DMA, overrun keeps the old data, no auto-wait or
      // auto-off, oversampling off, high trigger frequency; SMP1 = 160.5 cycles (111), SMP2 = 1.5
      // cycles (000), channel 0 on SMP1; regulator on.
      {"ADC_CFGR1", 0x4001240C, 0x0021FFFF, 1u << 13},
      {"ADC_CFGR2 CKMODE PCLK/2, LFTRIG off, OVSE off", 0x40012410, (3u << 30) | (1u << 29) | 1u, 1u << 30},
      {"ADC_SMPR SMP1 160.5, SMP2 1.5, channel 0 on SMP1", 0x40012414, 0x77u | (1u << 8), 0x7},
      {"ADC_CHSELR channel 0", 0x40012428, 0x7FFFF, 1},
      {"ADC_CR ADVREGEN", 0x40012408, 1u << 28, 1u << 28},
      // SPI1: master, 2 lines, CPOL 0, CPHA 0, software NSS (SSM, SSI), baud /32 (BR = 100), MSB first,
      // CRC off, 8-bit data (DS = 0111) with an 8-bit receive threshold, Motorola frame, NSS pulse on;
      // CRC polynomial 7.
      {"SPI1_CR1", 0x40013000, 0xFFBF, (1u << 2) | (4u << 3) | (1u << 8) | (1u << 9)},
      {"SPI1_CR2", 0x40013004, 0x1F1F, (7u << 8) | (1u << 12) | (1u << 3)},
      {"SPI1_CRCPR 7", 0x40013010, 0xFFFF, 7},
      // USART1: 115200 baud from 4 MHz with 16x oversampling: BRR = 4000000 / 115200 = 34.7, rounded 35;
      // 8 data bits, no parity, 1 stop bit, transmit and receive, FIFO off, three-sample bit detection,
      // no flow control, FIFO thresholds 1/8, prescaler /1; receiving by DMA.
      {"USART1_BRR 35", 0x4001380C, 0xFFFF, 35},
      {"USART1_CR1 8N1, TE, RE, UE, FIFO off, OVER8 0", 0x40013800,
       (1u << 28) | (1u << 12) | (1u << 15) | (1u << 10) | (1u << 29) | 0xDu, 0xD},
      {"USART1_CR2 1 stop bit", 0x40013804, 3u << 12, 0},
      {"USART1_CR3 thresholds 1/8, three samples, no flow control, DMAR", 0x40013808,
       (7u << 29) | (7u << 25) | (1u << 11) | (3u << 8) | (1u << 6), 1u << 6},
      {"USART1_PRESC /1", 0x4001382C, 0xF, 0},
      // TIM6: 1 kHz count at 4 MHz (PSC = 4 MHz / 1 kHz - 1 = 3999), period 0 for the delay timer, no
      // auto-reload preload, TRGO reset.
      {"TIM6_PSC 3999", 0x40001028, 0xFFFF, 3999},
      {"TIM6_ARR 0", 0x4000102C, 0xFFFF, 0},
      {"TIM6_CR1 ARPE off", 0x40001000, 1u << 7, 0},
      {"TIM6_CR2 MMS reset", 0x40001004, 7u << 4, 0},
      // Interrupts: DMA1 channel 1 (9), DMA1 channels 2-3 (10), TIM6 (17), USART1 (27) enabled, nothing
      // else (not the RTC); all four at priority 0; SysTick at priority 3 (top two bits of its byte),
      // 1 ms at 4 MHz (reload 3999), processor clock, interrupt on.
      {"NVIC_ISER", 0xE000E100, 0xFFFFFFFF, (1u << 9) | (1u << 10) | (1u << 17) | (1u << 27)},
      {"NVIC_IPR2 IRQ 9, 10 priority 0", 0xE000E408, 0x00FFFF00, 0},
      {"NVIC_IPR4 IRQ 17 priority 0", 0xE000E410, 0x0000FF00, 0},
      {"NVIC_IPR6 IRQ 27 priority 0", 0xE000E418, 0xFF000000, 0},
      {"SCB_SHPR3 SysTick priority 3", 0xE000ED20, 0xFF000000, 0xC0000000},
      {"SYST_RVR 3999", 0xE000E014, 0xFFFFFF, 3999},
      {"SYST_CSR ENABLE, TICKINT, CLKSOURCE", 0xE000E010, 0x7, 0x7},
  };
  e.insert(e.end(), rest.begin(), rest.end());
  return e;
}

// The register took these values in this order (other writes in between allowed).
bool writtenInOrder(const std::vector<std::pair<uint32_t, uint32_t>>& writes, uint32_t address,
                    const std::vector<uint32_t>& values) {
  size_t i = 0;
  for (const auto& [a, v] : writes) {
    if (a == address && i < values.size() && v == values[i]) ++i;
  }
  return i == values.size();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  lines.push_back(line);
  return lines;
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

constexpr uint32_t kUsart1Tdr = 0x40013828;
constexpr uint64_t kBootLimitMs = 2000;

// Ready and the command list after it, up to its closing note.
bool started(const std::string& out) {
  const size_t ready = out.find("\nready");
  return ready != std::string::npos && out.find("\nnote:", ready) != std::string::npos && out.back() == '\n';
}

TEST(BootImage, BringsTheChipUpAsTheManualAndTheBoardSay) {
  ImageOnChip on("current=5,pf=0.8");
  // The bring-up is over when the console first speaks: the registers then, and the writes before.
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  std::map<uint32_t, uint32_t> atFirstOutput;
  bool spoken = false;
  const std::vector<Expected> expected = expectedRegisters();
  on.chip().watchWrites([&](uint32_t address, uint32_t value) {
    if (spoken) return;
    if (address == kUsart1Tdr) {
      spoken = true;
      for (const Expected& e : expected) atFirstOutput[e.address] = on.chip().peek(e.address);
      return;
    }
    writes.emplace_back(address, value);
  });
  ASSERT_TRUE(on.runUntil(started, kBootLimitMs)) << on.console();

  const std::vector<std::string> boot = linesOf(on.console());
  const auto at = [&](const std::string& prefix) {
    for (size_t i = 0; i < boot.size(); ++i) {
      if (boot[i].rfind(prefix, 0) == 0) return static_cast<long>(i);
    }
    return -1L;
  };
  EXPECT_LT(-1, at("=== Orvane demo shell ==="));
  EXPECT_LT(at("=== Orvane demo shell ==="), at("git rev: "));
  EXPECT_LT(at("git rev: "), at("ready"));
  // The build identity is the image's own (its build's generated header).
  if (!emu_test::metaPath().empty()) {
    std::ifstream in(emu_test::metaPath());
    std::stringstream text;
    text << in.rdbuf();
    std::map<std::string, std::string> meta;
    const std::string all = text.str();
    const std::regex define(R"re(#define (BUILD_\w+) "([^"]*)")re");
    for (auto it = std::sregex_iterator(all.begin(), all.end(), define); it != std::sregex_iterator(); ++it) {
      meta[(*it)[1]] = (*it)[2];
    }
    EXPECT_TRUE(has(boot, "git rev: " + meta["BUILD_GIT_REVISION"] + "  dirty: " + meta["BUILD_GIT_DIRTY"] +
                              "  built: " + meta["BUILD_TIMESTAMP"]));
  }
  EXPECT_TRUE(has(boot, "Reset cause: PWRRSTF (power-on/brownout reset)")) << "a power-on start reported as such";
  // The supply from the reference: 3000 mV x VREFINT_CAL / reading, rounded as the firmware prints it.
  const uint16_t cal = on.board().adc().factory().vrefintCal;
  std::smatch m;
  const std::string& out = on.console();
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(VRef Calibration, read (\d+) \(0x[0-9A-F]{4}\) VDDA estimated at \((\d+)\) mV)")));
  const int read = std::stoi(m[1]);
  EXPECT_NEAR(std::stoi(m[2]), 3000.0 * cal / read, 1.0);
  EXPECT_NEAR(read, 1.212 / 3.3 * 4096, 8) << "the reference read at VDDA 3.3 V";

  for (const Expected& e : expected) {
    const uint32_t got = atFirstOutput[e.address] & e.mask;
    EXPECT_EQ(got, e.value) << e.name << " (mask 0x" << std::hex << e.mask << ")";
  }
  EXPECT_TRUE(writtenInOrder(writes, 0x40001028, {0, 3999})) << "TIM6_PSC: 0 (TIM6 set-up), then 3999 (delay timer)";
  EXPECT_TRUE(writtenInOrder(writes, 0x4000102C, {0xFFFF, 0})) << "TIM6_ARR: 65535 (TIM6 set-up), then 0 (delay timer)";
  EXPECT_TRUE(writtenInOrder(writes, 0xE000E014, {15999, 3999})) << "SysTick reload: 1 ms at 16 MHz, then at 4 MHz";
  EXPECT_TRUE(writtenInOrder(writes, 0x40002824, {0xCA, 0x53})) << "RTC_WPR unlocked with its two keys";
}

TEST(BootImage, AnswersLinesTypedIntoItsReceivePath) {
  ImageOnChip on("current=5,pf=0.8");
  ASSERT_TRUE(on.runUntil(started, kBootLimitMs)) << on.console();
  const std::vector<std::string> boot = linesOf(on.console());
  std::vector<std::string> commands(std::find(boot.begin(), boot.end(), "ready") + 1, boot.end());
  commands.resize(static_cast<size_t>(std::find_if(commands.begin(), commands.end(),
                                                   [](const std::string& l) { return l.rfind("note:", 0) == 0; }) -
                                      commands.begin()) +
                  1);

  size_t mark = on.console().size();
  on.type("help\r\n");
  ASSERT_TRUE(on.runUntilShown("\nok: help", 1000, mark));
  std::vector<std::string> reply = linesOf(on.console().substr(mark));
  ASSERT_GE(reply.size(), 2u);
  EXPECT_EQ(reply[0], std::string(26, '#'));
  EXPECT_EQ(reply[1], "> help");
  std::vector<std::string> body;
  for (size_t i = 2; i < reply.size(); ++i) {
    if (!reply[i].empty()) body.push_back(reply[i]);
  }
  ASSERT_GT(body.size(), commands.size());
  EXPECT_EQ(std::vector<std::string>(body.begin(), body.begin() + static_cast<long>(commands.size())), commands);
  EXPECT_EQ(body[commands.size()], "ok: help");

  mark = on.console().size();
  on.type("sample hp\r\n");
  ASSERT_TRUE(on.runUntil(
      [&](const std::string& o) { return o.find("phase corr (rad)", mark) != std::string::npos && o.back() == '\n'; },
      3000));
  reply = linesOf(on.console().substr(mark));
  EXPECT_TRUE(has(reply, "ok: sample hp"));
  // The scenario's 5 A through the clamp model, the ADC with its DMA and the firmware's analysis:
  // within the product's 1 % for 5 to 40 A.
  double amps = NAN;
  for (const std::string& l : reply) {
    if (l.rfind("  current corrected (A)", 0) == 0) amps = std::stod(l.substr(l.find('|') + 1));
  }
  EXPECT_NEAR(amps, 5.0, 0.05);
  // The reading slept until TIM6 (the low-power delay) and the ADC's DMA completion woke it.
  EXPECT_GT(on.chip().core().exceptionsTaken(16 + TIM6_IRQn), 0u);
  EXPECT_GT(on.chip().core().exceptionsTaken(16 + DMA1_Channel1_IRQn), 0u);
}

}  // namespace
