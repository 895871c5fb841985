// The Vantor over arbitrary bytes from the air: nothing may crash or read outside the frame, and
// the registry keeps its rules (a node's counter never goes back). The first input byte chooses
// how the rest is shaped: as it is, or as a frame of node 1 tagged under its key (or the zero key),
// so that the decoders of every packet, the counter rules, captures and answers are reached.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "vantor.h"

namespace {

constexpr uint32_t kNode = 1;

struct World {
  vantor::Registry registry{":memory:", true};
  vantor::Vantor vantor{registry, 5};
  HMAC::Key key{};
  uint64_t now = 0;
  size_t frames = 0;

  World() {
    vantor::NodeRecord n;
    n.uid = kNode;
    n.chipId = "0D0000007856341248BADCAF";
    n.key = vantor.keyFor(kNode);
    n.state = "confirmed";
    registry.insertNode(n, 0);
    key = vantor::tagKey(n.key);
  }
};

std::unique_ptr<World> gWorld;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A fresh database now and then keeps memory flat over long runs.
  if (!gWorld || gWorld->frames > 2000) gWorld = std::make_unique<World>();
  World& w = *gWorld;
  std::vector<uint8_t> frame(data + 1, data + size);
  const uint8_t shape = data[0] % 4;
  if (shape != 0 && frame.size() >= 7) {
    frame[1] = kNode;
    frame[2] = 0;
    frame[3] = 0;
    if (frame.size() >= 11) {
      const size_t body = frame.size() - 4;
      const uint32_t tag = HMAC::compute(shape == 3 ? HMAC::Key{0, 0} : w.key, frame.data(), body);
      for (size_t i = 0; i < 4; ++i) frame[body + i] = static_cast<uint8_t>(tag >> (8 * i));
    }
  }
  const std::optional<uint32_t> before = w.registry.nodeByUid(kNode)->lastCounter;
  w.now += 1000;
  const auto answer = w.vantor.onFrame(frame, vantor::Reception{w.now, -70.0, 5.0}, vantor::Behaviour{});
  ++w.frames;
  const std::optional<uint32_t> after = w.registry.nodeByUid(kNode)->lastCounter;
  if (before && after && vantor::compareCounter(*after, *before) == vantor::CounterOrder::behind) std::abort();
  if (answer && answer->frame.empty()) std::abort();
  return 0;
}
