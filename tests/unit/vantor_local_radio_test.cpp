// The Vantor's own radio on a Linux board, against the LLCC68 model behind a fake spidev device and
// fake GPIO lines: the same code path as on the board up to each ioctl and libgpiod call. The node
// is the firmware on the simulated board, on the same medium: it is provisioned and takes a remote
// setting through the local radio.
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "air_listen.h"
#include "cli.h"
#include "gpio_model.h"
#include "llcc68_model.h"
#include "local_radio.h"
#include "lora_inbound.h"
#include "node_frames.h"
#include "packethandler.h"
#include "radio_fixture.h"
#include "settings.h"
#include "vantor.h"

using namespace testing_support;

// The test holds the node's firmware too, whose bus glue answers calls with a null context (the
// node's). The local radio's calls carry its bus: this routes them (linked with --wrap).
extern "C" {
llcc68_hal_status_t __real_llcc68_hal_write(const void*, const uint8_t*, uint16_t, const uint8_t*, uint16_t);
llcc68_hal_status_t __real_llcc68_hal_read(const void*, const uint8_t*, uint16_t, uint8_t*, uint16_t);
llcc68_hal_status_t __real_llcc68_hal_reset(const void*);
llcc68_hal_status_t __real_llcc68_hal_wakeup(const void*);

llcc68_hal_status_t __wrap_llcc68_hal_write(const void* ctx, const uint8_t* cmd, uint16_t n, const uint8_t* data,
                                            uint16_t dn) {
  return ctx != nullptr ? static_cast<const vantor::RadioBus*>(ctx)->write(cmd, n, data, dn)
                        : __real_llcc68_hal_write(ctx, cmd, n, data, dn);
}
llcc68_hal_status_t __wrap_llcc68_hal_read(const void* ctx, const uint8_t* cmd, uint16_t n, uint8_t* data,
                                           uint16_t dn) {
  return ctx != nullptr ? static_cast<const vantor::RadioBus*>(ctx)->read(cmd, n, data, dn)
                        : __real_llcc68_hal_read(ctx, cmd, n, data, dn);
}
llcc68_hal_status_t __wrap_llcc68_hal_reset(const void* ctx) {
  return ctx != nullptr ? static_cast<const vantor::RadioBus*>(ctx)->reset() : __real_llcc68_hal_reset(ctx);
}
llcc68_hal_status_t __wrap_llcc68_hal_wakeup(const void* ctx) {
  return ctx != nullptr ? static_cast<const vantor::RadioBus*>(ctx)->wakeup() : __real_llcc68_hal_wakeup(ctx);
}
}

namespace {

constexpr uint64_t kMs = 1000;
constexpr uint64_t kEpochUs = 1'800'000'000'000'000ull;  // what the fake's UTC clock adds to virtual time
constexpr const char* kSpidev = "/dev/spidev0.0";
constexpr const char* kGpioChip = "gpiochip0";

// The board the Vantor's chip sits on: its own pins, the node's board's clock and records.
class ChipHost final : public sim::DeviceHost {
 public:
  uint64_t nowUs() const override { return sim::board().nowUs(); }
  uint32_t pclkHz() const override { return sim::board().pclkHz(); }
  void pendIrq(IRQn_Type) override {}
  sim::Gpio& gpio() override { return gpio_; }
  std::string statePath(const std::string&) const override { return {}; }
  void busyWait(uint64_t) override {}
  [[noreturn]] void restart(sim::ResetKind, uint32_t) override { std::abort(); }
  void addPersistHook(std::function<void(sim::ResetKind)>) override {}
  sim::DeviceRecords& records() override { return sim::board().records(); }

 private:
  sim::Gpio gpio_;
};

// The pins of the Vantor's chip on its host's port A.
constexpr Wiring::Line line(uint8_t index) {
  return Wiring::Line{Wiring::Port::A, index, Wiring::Use::output, Wiring::Boot::output, -1, 0};
}
const sim::Llcc68Model::Pins kChipPins{line(0), line(1), line(2), line(3)};  // supply, reset, busy, cs

// Linux as the local radio sees it, in front of the model: a spidev device whose messages frame the
// chip's SPI with its chip select, and a GPIO chip whose lines are the model's pins. The radio's
// thread and the board's take turns, so that virtual time is the only time: the radio runs while
// the board waits in fire(), the board runs while the radio sleeps.
class FakeLinux final : public vantor::RadioSystem, public sim::Device {
 public:
  FakeLinux(ChipHost& host, sim::Llcc68Model& chip, const vantor::RadioWiring& wiring)
      : host_(host), chip_(chip), wiring_(wiring) {
    host_.gpio().configure(0, kChipPins.supply.index, sim::PinMode::output, sim::PinPull::none);
    host_.gpio().write(0, kChipPins.supply.index, true);
    host_.gpio().configure(0, kChipPins.cs.index, sim::PinMode::output, sim::PinPull::none);
    host_.gpio().write(0, kChipPins.cs.index, true);
  }
  ~FakeLinux() override { stop(); }

  // Runs `body` in the radio's thread from the board's next step.
  void start(std::function<void()> body) {
    wakeUs_ = sim::board().nowUs();
    thread_ = std::thread([this, body = std::move(body)] {
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return radioTurn_; });
      }
      body();
      std::lock_guard<std::mutex> lock(m_);
      finished_ = true;
      wakeUs_ = sim::kNever;
      radioTurn_ = false;
      cv_.notify_all();
    });
  }
  // Asks the radio's loop to end and lets it.
  void stop() {
    stopping_ = true;
    while (thread_.joinable() && !finished_) runFor(5 * kMs);
    if (thread_.joinable()) thread_.join();
  }
  bool stopping() const { return stopping_; }

  // What the radio drove on its output lines, in time order.
  struct LineEvent {
    uint64_t atUs;
    unsigned offset;
    int value;
  };
  std::vector<LineEvent> lineEvents;
  int levelAt(unsigned offset, uint64_t atUs) const {
    int level = -1;
    for (const LineEvent& e : lineEvents) {
      if (e.offset == offset && e.atUs <= atUs) level = e.value;
    }
    return level;
  }
  // What the radio set on the SPI device.
  std::map<unsigned long, uint32_t> spiSettings;
  unsigned messages = 0;

  // Device.
  uint64_t nextEventUs() const override { return wakeUs_; }
  void fire(uint64_t) override {
    std::unique_lock<std::mutex> lock(m_);
    radioTurn_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return !radioTurn_; });
  }
  bool periodic() const override { return true; }

  // RadioSystem.
  int open(const char* path, int) override {
    if (std::string(path) == kSpidev) return kFd;
    errno = ENOENT;
    return -1;
  }
  int ioctl(int fd, unsigned long request, void* arg) override {
    if (fd != kFd) {
      errno = EBADF;
      return -1;
    }
    if (request == SPI_IOC_WR_MODE || request == SPI_IOC_WR_BITS_PER_WORD) {
      spiSettings[request] = *static_cast<uint8_t*>(arg);
      return 0;
    }
    if (request == SPI_IOC_WR_MAX_SPEED_HZ) {
      spiSettings[request] = *static_cast<uint32_t*>(arg);
      return 0;
    }
    if (_IOC_TYPE(request) != SPI_IOC_MAGIC || _IOC_NR(request) != 0 || _IOC_DIR(request) != _IOC_WRITE) {
      errno = ENOTTY;
      return -1;
    }
    // SPI_IOC_MESSAGE(n): the transfers in one chip-select frame.
    const size_t n = _IOC_SIZE(request) / sizeof(spi_ioc_transfer);
    auto* transfers = static_cast<spi_ioc_transfer*>(arg);
    ++messages;
    setCs(false);
    int total = 0;
    for (size_t i = 0; i < n; ++i) {
      const auto* tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(transfers[i].tx_buf));
      auto* rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(transfers[i].rx_buf));
      if (transfers[i].len != 0 && !chip_.spiTransferAllowed(tx != nullptr ? tx[0] : 0)) {
        setCs(true);
        errno = EIO;
        return -1;
      }
      for (uint32_t k = 0; k < transfers[i].len; ++k) {
        const uint8_t in = chip_.spiExchange(tx != nullptr ? tx[k] : 0);
        if (rx != nullptr) rx[k] = in;
      }
      total += static_cast<int>(transfers[i].len);
    }
    setCs(true);
    return total;
  }
  int close(int) override { return 0; }
  gpiod_chip* chipOpenLookup(const char* descr) override {
    if (std::string(descr) == kGpioChip) return reinterpret_cast<gpiod_chip*>(&chipToken_);
    errno = ENODEV;
    return nullptr;
  }
  void chipClose(gpiod_chip*) override {}
  gpiod_line* chipGetLine(gpiod_chip*, unsigned offset) override {
    return reinterpret_cast<gpiod_line*>(&lines_[offset]);
  }
  int lineRequestInput(gpiod_line* l, const char*) override { return request(l, false, 0); }
  int lineRequestOutput(gpiod_line* l, const char*, int value) override { return request(l, true, value); }
  int lineGetValue(gpiod_line* l) override {
    const unsigned offset = offsetOf(l);
    if (offset == wiring_.busy) return host_.gpio().level(kChipPins.busy) ? 1 : 0;
    // The model keeps no DIO pins: DIO1 is high while a flag the IRQ mask lets through is set.
    if (wiring_.dio1 && offset == *wiring_.dio1) return chip_.irqFlags() != 0 ? 1 : 0;
    return levels_[offset];
  }
  int lineSetValue(gpiod_line* l, int value) override {
    const unsigned offset = offsetOf(l);
    levels_[offset] = value;
    lineEvents.push_back({sim::board().nowUs(), offset, value});
    if (offset == wiring_.reset) {
      host_.gpio().configure(0, kChipPins.reset.index, sim::PinMode::output, sim::PinPull::none);
      host_.gpio().write(0, kChipPins.reset.index, value != 0);
    }
    return 0;
  }
  uint64_t monotonicUs() override { return sim::board().nowUs(); }
  uint64_t utcUs() override { return kEpochUs + sim::board().nowUs(); }
  void sleepUs(uint64_t us) override {
    std::unique_lock<std::mutex> lock(m_);
    wakeUs_ = sim::board().nowUs() + us;
    radioTurn_ = false;
    cv_.notify_all();
    cv_.wait(lock, [this] { return radioTurn_; });
  }

 private:
  static constexpr int kFd = 7;
  unsigned offsetOf(gpiod_line* l) const {
    for (const auto& [offset, token] : lines_) {
      if (reinterpret_cast<const gpiod_line*>(&token) == l) return offset;
    }
    return ~0u;
  }
  int request(gpiod_line* l, bool output, int value) {
    if (output) return lineSetValue(l, value);
    return 0;
  }
  void setCs(bool high) { host_.gpio().write(0, kChipPins.cs.index, high); }

  ChipHost& host_;
  sim::Llcc68Model& chip_;
  vantor::RadioWiring wiring_;
  int chipToken_ = 0;
  std::map<unsigned, int> lines_;
  std::map<unsigned, int> levels_;
  std::mutex m_;
  std::condition_variable cv_;
  bool radioTurn_ = false;
  bool finished_ = false;
  std::atomic<bool> stopping_{false};
  uint64_t wakeUs_ = sim::kNever;
  std::thread thread_;
};

class LocalRadioTest : public RadioTest {
 protected:
  // The node's own receive dispatcher stays registered.
  bool resetsRxCallback() const override { return false; }

  // The Vantor's chip on the node's medium and the local radio started on it; `faults` of the chip
  // hold from the start. A radio that does not start leaves its reason in busError_.
  void start(const std::string& gpio, const std::string& spidev = kSpidev, const std::string& gpioChip = kGpioChip,
             const std::string& faults = "") {
    ASSERT_TRUE(vantor::parseRadioOption("spidev:" + spidev, wiring_, error_)) << error_;
    ASSERT_TRUE(vantor::parseGpioOption(gpioChip + ":" + gpio, wiring_, error_)) << error_;
    store_ = vantor::openStore(":memory:", true);
    vantor_ = std::make_unique<vantor::Vantor>(*store_, 11);
    host_ = std::make_unique<ChipHost>();
    chip_ = std::make_unique<sim::Llcc68Model>(*host_, medium(), "vantor", 5, kChipPins);
    if (!faults.empty()) {
      ASSERT_TRUE(chip_->applyFault(faults, error_)) << error_;
    }
    chip_->recordTransactions(true);
    linux_ = std::make_unique<FakeLinux>(*host_, *chip_, wiring_);
    sim::board().addDevice(chip_.get());
    sim::board().addDevice(linux_.get());
    linux_->start([this] {
      bus_ = vantor::RadioBus::open(*linux_, wiring_, busError_);
      if (!bus_) return;
      radio_ = std::make_unique<vantor::LocalRadio>(*bus_, *vantor_, log_);
      if (!radio_->start(busError_)) return;
      radio_->run([this] { return linux_->stopping(); });
    });
    runFor(50 * kMs);
  }
  void startNode(const std::string& gpio) {
    start(gpio);
    ASSERT_TRUE(bus_ != nullptr && radio_ != nullptr) << busError_;
    ASSERT_EQ(busError_, "");
  }
  // Node 1 provisioned in the registry, with a setting queued; returns its key.
  HMAC::Key provisioned() {
    vantor_->onFrame(packet10(0, 1, chipOf(), kZeroKey), {kEpochUs + nowUs()}, {});
    const HMAC::Key key = vantor::tagKey(store_->nodeByUid(1)->key);
    vantor_->onFrame(packet10(1, 1, chipOf(), key), {kEpochUs + nowUs()}, {});
    EXPECT_EQ(vantor::queueSetting(*store_, vantor::QueueRequest{"0x000001", {"tx-power", "9"}}, nullptr).status,
              vantor::QueueOutcome::Status::queued);
    return key;
  }
  size_t commandsWith(uint8_t opcode) const {
    size_t n = 0;
    for (const Bytes& t : chip_->transactions()) n += !t.empty() && t[0] == opcode;
    return n;
  }
  void TearDown() override {
    if (linux_) linux_->stop();
    radio_.reset();
    bus_.reset();
    linux_.reset();
    chip_.reset();  // off the medium before the board goes
    host_.reset();
  }

  std::unique_ptr<ChipHost> host_;
  vantor::RadioWiring wiring_;
  std::string error_;
  std::string busError_;
  std::ostringstream log_;
  std::unique_ptr<vantor::Store> store_;
  std::unique_ptr<vantor::Vantor> vantor_;
  std::unique_ptr<sim::Llcc68Model> chip_;
  std::unique_ptr<FakeLinux> linux_;
  std::unique_ptr<vantor::RadioBus> bus_;
  std::unique_ptr<vantor::LocalRadio> radio_;
};

TEST_F(LocalRadioTest, TheNodeIsProvisionedAndTakesASettingThroughTheLocalRadio) {
  startNode("busy=20,reset=18");
  EXPECT_EQ(linux_->spiSettings[SPI_IOC_WR_MODE], static_cast<uint32_t>(SPI_MODE_0));
  EXPECT_EQ(linux_->spiSettings[SPI_IOC_WR_BITS_PER_WORD], 8u);
  // The chip as the node's settings have it, receiving continuously.
  const sim::LoraAirSettings air = chip_->airSettings();
  EXPECT_EQ(air.freqHz, 868'000'000u);
  EXPECT_EQ(air.sf, 7);
  EXPECT_EQ(air.bwCode, LLCC68_LORA_BW_125);
  EXPECT_EQ(air.cr, LLCC68_LORA_CR_4_5);
  EXPECT_EQ(air.syncWord, 0x12);
  EXPECT_FALSE(air.iqInverted);
  EXPECT_FALSE(air.implicitHeader);
  EXPECT_TRUE(air.crcOn);
  EXPECT_EQ(chip_->mode(), sim::Llcc68Model::Mode::rx);

  ASSERT_TRUE(loraProvision());
  const std::optional<vantor::NodeRecord> node = store_->nodeByUid(1);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->state, "confirmed");

  vantor::QueueOutcome queued =
      vantor::queueSetting(*store_, vantor::QueueRequest{"0x000001", {"tx-power", "9"}}, &vantor_->outputs());
  ASSERT_EQ(queued.status, vantor::QueueOutcome::Status::queued) << queued.message;
  sendPacket3(true);
  (void)loraListen(500);
  runFor(500 * kMs);  // the packet 17 reaches the Vantor
  EXPECT_EQ(storedTxPowerDbm(), 9);
  const std::vector<vantor::QueueItem> items = store_->queue(1);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].state, "done");

  // Every answer 50 ms after the end of the frame it answers (seen at the next 5 ms poll), and
  // five channel samples 1 ms apart after that.
  const std::vector<sim::AirFrame> answers = vantorFrames();
  ASSERT_EQ(answers.size(), 3u);  // assign, confirm, setting
  const std::vector<sim::AirFrame> uplinks = nodeFrames();
  for (const sim::AirFrame& a : answers) {
    const sim::AirFrame* answered = nullptr;
    for (const sim::AirFrame& f : uplinks) {
      if (f.endUs < a.startUs) answered = &f;
    }
    ASSERT_NE(answered, nullptr);
    const uint64_t delay = a.startUs - answered->endUs;
    EXPECT_GE(delay, (50 + 4) * kMs);
    EXPECT_LE(delay, (50 + 4 + 5) * kMs + 1 * kMs);
  }
  EXPECT_EQ(radio_->counts().answered, 3u);
  EXPECT_EQ(radio_->counts().failed, 0u);
}

TEST_F(LocalRadioTest, ABusyChannelDelaysTheAnswerByTheNodesBackoffsThenItGoesRegardless) {
  startNode("busy=20,reset=18");
  const HMAC::Key key = provisioned();
  medium().setInterferer(sim::Interferer{-80.0, 0, 0, true});
  const uint64_t end = nodeSends(packet3(1, 2, key, true));
  runFor(8000 * kMs);
  const std::vector<sim::AirFrame> answers = vantorFrames();
  ASSERT_EQ(answers.size(), 1u);
  // 51 rounds of five samples (4 ms) and a backoff of 119 ms, then sent without sensing; the frame's
  // end is seen at the next poll (5 ms).
  EXPECT_GE(answers[0].startUs, end + (50 + 51 * (4 + 119)) * kMs);
  EXPECT_LE(answers[0].startUs, end + (50 + 5 + 51 * (4 + 119) + 1) * kMs);
}

TEST_F(LocalRadioTest, ARadioThatStopsAnsweringIsResetUntilItComesBackAndGoesOnReceiving) {
  startNode("busy=20,reset=18");
  const HMAC::Key key = provisioned();
  // Three polls fail, then the wake-up after the reset: down until the next try a second later.
  chip_->scheduleFault("spi-error=4", nowUs() + 100 * kMs);
  runFor(1500 * kMs);
  EXPECT_EQ(log_.str(),
            "vantor: the radio stopped answering\n"
            "vantor: a reset did not help (no LLCC68 answers on /dev/spidev0.0: its status reads mode 0 (standby is 2 "
            "or 3)); trying again every second\n"
            "vantor: the radio answers again\n");
  EXPECT_EQ(radio_->counts().resets, 1u);
  nodeSends(packet3(1, 2, key, true));
  runFor(1000 * kMs);
  EXPECT_EQ(vantorFrames().size(), 1u);
  EXPECT_EQ(radio_->counts().heard, 1u);
}

TEST_F(LocalRadioTest, ARadioThatLeftReceiveOnItsOwnIsFoundWithinTenSecondsAndSetUpAgain) {
  startNode("busy=20,reset=18");
  const HMAC::Key key = provisioned();
  // A reset the Vantor did not make (a supply dip): the chip boots into standby with its defaults.
  host_->gpio().write(0, kChipPins.reset.index, false);
  host_->gpio().write(0, kChipPins.reset.index, true);
  runFor(10'100 * kMs);
  EXPECT_EQ(log_.str(),
            "vantor: the radio had left receive (its status reads mode 2)\n"
            "vantor: the radio was reset and configured again\n");
  nodeSends(packet3(1, 2, key, true));
  runFor(1000 * kMs);
  EXPECT_EQ(vantorFrames().size(), 1u);
}

// How the chip is watched and the antenna switched, by what is wired.
TEST_F(LocalRadioTest, Dio1SavesThePollsAndTheSwitchLinesFollowReceiveAndTransmit) {
  struct Case {
    const char* gpio;
    size_t irqReadsPerIdleSecond;  // GetIrqStatus while nothing happens
    uint8_t dio2Switch;            // SetDio2AsRfSwitchCtrl's argument
    uint64_t latestAnswerUs;       // after the uplink's end, channel sensing included
  } cases[] = {
      {"busy=20,reset=18", 200, 1, (50 + 4 + 5 + 1) * kMs},
      {"busy=20,reset=18,dio1=16,rxen=24,txen=25", 0, 0, (50 + 4 + 1 + 1) * kMs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gpio);
    TearDown();
    SetUp();
    startNode(c.gpio);
    const HMAC::Key key = provisioned();
    ASSERT_EQ(commandsWith(LLCC68_SET_DIO2_AS_RF_SWITCH_CTRL), 1u);
    for (const Bytes& t : chip_->transactions()) {
      if (t[0] == LLCC68_SET_DIO2_AS_RF_SWITCH_CTRL) {
        EXPECT_EQ(t.at(1), c.dio2Switch);
      }
    }
    chip_->clearTransactions();
    runFor(1000 * kMs);
    EXPECT_EQ(commandsWith(LLCC68_GET_IRQ_STATUS), c.irqReadsPerIdleSecond);

    const uint64_t end = nodeSends(packet3(1, 2, key, true));
    runFor(1000 * kMs);
    const std::vector<sim::AirFrame> answers = vantorFrames();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_GE(answers[0].startUs, end + (50 + 4) * kMs);
    EXPECT_LE(answers[0].startUs, end + c.latestAnswerUs);
    if (!wiring_.rxen) continue;
    // Receiving before and after, transmitting while the answer is on the air.
    const sim::AirFrame& a = answers[0];
    const uint64_t mid = (a.startUs + a.endUs) / 2;
    EXPECT_EQ(linux_->levelAt(*wiring_.rxen, end), 1);
    EXPECT_EQ(linux_->levelAt(*wiring_.txen, end), 0);
    EXPECT_EQ(linux_->levelAt(*wiring_.rxen, mid), 0);
    EXPECT_EQ(linux_->levelAt(*wiring_.txen, mid), 1);
    EXPECT_EQ(linux_->levelAt(*wiring_.rxen, a.endUs + 20 * kMs), 1);
    EXPECT_EQ(linux_->levelAt(*wiring_.txen, a.endUs + 20 * kMs), 0);
  }
}

TEST_F(LocalRadioTest, ARadioThatCannotBeReachedIsRefusedWithItsReason) {
  struct Case {
    const char* name;
    std::string spidev, chip, fault;
    std::string error;
  } cases[] = {
      {"no such SPI device", "/dev/spidev9.0", kGpioChip, "", "cannot open /dev/spidev9.0: No such file or directory"},
      {"no such GPIO chip", kSpidev, "gpiochip7", "", "cannot open GPIO chip gpiochip7: No such device"},
      {"nothing on the bus", kSpidev, kGpioChip, "absent",
       "the radio does not come out of reset: BUSY (line 20 of gpiochip0) stays high after a pulse on RESET (line "
       "18)"},
      {"an oscillator that does not start", kSpidev, kGpioChip, "device-errors-persist=0x0020",
       "the radio does not receive: its status reads mode 5, device errors 0x0020"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    start("busy=20,reset=18", c.spidev, c.chip, c.fault);
    EXPECT_EQ(busError_, c.error);
    EXPECT_EQ(radio_ == nullptr || radio_->counts().heard == 0, true);
  }
}

TEST(LocalRadioOptions, BadWiringIsRefusedWithItsReason) {
  const std::string usage = "--gpio takes CHIP:busy=N,reset=N[,dio1=N][,rxen=N,txen=N]";
  struct Case {
    std::string text, error;
  } cases[] = {
      {"gpiochip0", usage + ", not 'gpiochip0'"},
      {"gpiochip0:", usage + ", not 'gpiochip0:'"},
      {"gpiochip0:busy=20", usage + ": busy and reset are needed"},
      {"gpiochip0:busy=20,reset=x", usage + ": 'reset=x' is not ROLE=N with a line offset 0..1023"},
      {"gpiochip0:busy=20,reset=1024", usage + ": 'reset=1024' is not ROLE=N with a line offset 0..1023"},
      {"gpiochip0:busy=20,reset=18,busy=21", usage + ": busy is given twice"},
      {"gpiochip0:busy=20,reset=20", usage + ": line 20 is given two roles"},
      {"gpiochip0:busy=20,reset=18,nss=8", usage + ": unknown role 'nss'"},
      {"gpiochip0:busy=20,reset=18,rxen=24",
       usage + ": rxen and txen go together (without both, DIO2 switches the antenna)"},
  };
  for (const Case& c : cases) {
    vantor::RadioWiring w;
    std::string error;
    EXPECT_FALSE(vantor::parseGpioOption(c.text, w, error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
  vantor::RadioWiring w;
  std::string error;
  ASSERT_TRUE(vantor::parseGpioOption("/dev/gpiochip0:busy=20,reset=18,dio1=16,rxen=24,txen=25", w, error));
  EXPECT_EQ(w.chip, "/dev/gpiochip0");
  EXPECT_EQ(w.busy, 20u);
  EXPECT_EQ(w.reset, 18u);
  EXPECT_EQ(w.dio1, 16u);
  EXPECT_EQ(w.rxen, 24u);
  EXPECT_EQ(w.txen, 25u);
  for (const char* bad : {"/dev/spidev0.0", "spidev:", "spidev:dev/spidev0.0", "gpio:/dev/spidev0.0"}) {
    EXPECT_FALSE(vantor::parseRadioOption(bad, w, error)) << bad;
    EXPECT_EQ(error, std::string("--radio takes spidev:/dev/spidevB.C, not '") + bad + "'");
  }
}

int gListened = 0;
int countListen(const vantor::ListenOptions&, std::ostream&) {
  ++gListened;
  return vantor::kExitDone;
}

TEST(LocalRadioOptions, ListenTakesARadioWithItsLinesButNotWithTheSimulatedAir) {
  const std::string none =
      "vantor: listen needs --air unix:PATH, --gateway udp://ADDR[:PORT] or --radio spidev:PATH with --gpio\n";
  const std::string both = "vantor: --radio hears the real air and --air the simulated one: not both\n";
  const std::string together = "vantor: --radio and --gpio go together: the SPI device and the radio's lines\n";
  const std::string radio = "--radio=spidev:/dev/spidev0.0", gpio = "--gpio=gpiochip0:busy=20,reset=18";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"listen"}, vantor::kExitUsage, none},
      {{"listen", "--air=unix:/tmp/air.sock", radio, gpio}, vantor::kExitUsage, both},
      {{"listen", radio}, vantor::kExitUsage, together},
      {{"listen", "--air=unix:/tmp/air.sock", gpio}, vantor::kExitUsage, together},
      {{"listen", radio, gpio}, vantor::kExitDone, ""},
      {{"listen", radio, gpio, "--gateway=udp://127.0.0.1:1700"}, vantor::kExitDone, ""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"vantor"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    gListened = 0;
    EXPECT_EQ(vantor::runCli(static_cast<int>(argv.size()), argv.data(), out, err, &countListen), c.status);
    EXPECT_EQ(err.str(), c.err);
    EXPECT_EQ(gListened, c.status == vantor::kExitDone ? 1 : 0);
  }
  // What belongs to the simulated air is refused before anything is opened.
  vantor::ListenOptions o;
  o.radio = "spidev:/dev/spidev0.0";
  o.gpio = "gpiochip0:busy=20,reset=18";
  o.faults = {"silent"};
  std::ostringstream err;
  EXPECT_EQ(vantor::listen(o, err), vantor::kExitUsage);
  EXPECT_EQ(err.str(), "vantor: --fault and --at are for the simulated air, not for a radio\n");
}

}  // namespace
