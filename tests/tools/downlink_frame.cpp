// Builds a downlink frame with the node's own encoders and prints it as hex, for the air scripts of
// the end-to-end tests.
//   downlink_frame p14 KEY UID COUNTER OPCODE [ARG0 .. ARG7]
//   downlink_frame p13 KEY UID CHIP assign|confirm NEWKEY
// KEY and NEWKEY: 32 hex digits (the tag uses the first 8 bytes; a 0 key is written 0); UID: hex;
// CHIP: the 24 hex digits of orvane-sim's --chip-id; COUNTER, OPCODE, ARGn: decimal or 0x hex.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rxpacket13.h"
#include "rxpacket14.h"

namespace {

int usage() {
  std::fputs(
      "usage: downlink_frame p14 KEY UID COUNTER OPCODE [ARG0 .. ARG7]\n"
      "       downlink_frame p13 KEY UID CHIP assign|confirm NEWKEY\n",
      stderr);
  return 2;
}

bool hexBytes(const char* text, uint8_t* out, size_t n) {
  if (std::strlen(text) != 2 * n) return false;
  for (size_t i = 0; i < n; ++i) {
    char pair[3] = {text[2 * i], text[2 * i + 1], 0};
    char* end = nullptr;
    out[i] = static_cast<uint8_t>(std::strtoul(pair, &end, 16));
    if (*end != '\0') return false;
  }
  return true;
}

bool key16(const char* text, std::array<uint8_t, 16>& out) {
  out.fill(0);
  return std::strcmp(text, "0") == 0 || hexBytes(text, out.data(), out.size());
}

UID uid(const char* text) {
  UID u;
  u.storeU24(static_cast<uint32_t>(std::strtoul(text, nullptr, 16)));
  return u;
}

void print(const LoRaFrameBuffer& frame) {
  for (size_t i = 0; i < frame.used_bytes(); ++i) std::printf("%02X", frame.data()[i]);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::array<uint8_t, 16> key{};
  if (argc < 3 || !key16(argv[2], key)) return usage();
  const HMAC::Key tagKey = HMAC::keyFromBytes(key.data());
  if (std::strcmp(argv[1], "p14") == 0 && argc >= 6 && argc <= 14) {
    LoRaRXPacket14::Args args{};
    for (int i = 6; i < argc; ++i)
      args[static_cast<size_t>(i - 6)] = static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 0));
    const auto counter = LoRaPacketCounterU24::fromU32(static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 0)));
    const auto op = static_cast<LoRaRXPacket14::Op>(std::strtoul(argv[5], nullptr, 0));
    print(LoRaRXPacket14::encode(LoRaRXPacket14::makePayload(counter, uid(argv[3]), op, args), tagKey));
    return 0;
  }
  if (std::strcmp(argv[1], "p13") == 0 && argc == 7) {
    // orvane-sim's --chip-id gives the three words most significant first: word 2, word 1, word 0.
    uint8_t id[12];
    std::array<uint8_t, 16> newKey{};
    const bool assign = std::strcmp(argv[5], "assign") == 0;
    if (!hexBytes(argv[4], id, sizeof id) || !key16(argv[6], newKey) ||
        (!assign && std::strcmp(argv[5], "confirm") != 0))
      return usage();
    std::array<uint32_t, 3> words{};
    for (size_t w = 0; w < 3; ++w) {
      for (size_t b = 0; b < 4; ++b) words[2 - w] = (words[2 - w] << 8) | id[4 * w + b];
    }
    const uint16_t tag = assign ? LoRaPacket10::kPhaseTagAssign : LoRaPacket10::kPhaseTagConfirm;
    print(LoRaRXPacket13::encode(LoRaRXPacket13::makePayload(LoRaPacketCounterU24::fromU32(1), uid(argv[3]),
                                                             LoRaPacket10::packStUidBytes(words), tag, newKey),
                                 tagKey));
    return 0;
  }
  return usage();
}
