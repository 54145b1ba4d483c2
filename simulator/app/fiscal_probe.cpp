// fiscal-probe: sends one request to a device and shows its reply.
//   fiscal-probe PORT CODE [DATA]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fiscal_version.h"
#include "fiscalsim/device_model.h"
#include "fiscalsim/frame_codec.h"
#include "platform/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kSeq = fiscalsim::kFirstSeq;
constexpr auto kReplyWait = std::chrono::seconds(2);
constexpr auto kWriteWait = std::chrono::milliseconds(1000);

void PrintHex(const char *label, const fiscalsim::Bytes &bytes) {
  std::printf("%s", label);
  for (uint8_t b : bytes) std::printf(" %02X", b);
  std::printf("\n");
}

// The same options as the OPTIONS of fiscal-probe(1).
constexpr char kUsage[] =
    "usage: fiscal-probe PORT CODE [DATA]\n"
    "Sends one request to a fiscal device and shows its reply.\n"
    "  PORT       COMn or a device path\n"
    "  CODE       the command, decimal or 0x hex, 0 to 255\n"
    "  DATA       the request's data, as it is\n"
    "  --help     show this text and end\n"
    "  --version  show the version and end\n"
    "Exit status: 0 when the device answered with a sound frame, 1 when it did not, 2 on bad\n"
    "arguments.\n";

bool ParseCode(const char *text, uint8_t *code) {
  char *end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (*text == '\0' || *end != '\0' || value > 0xFF || (text[0] == '0' && text[1] != 'x' && text[1] != 'X' && text[1] != '\0')) {
    return false;
  }
  *code = static_cast<uint8_t>(value);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("fiscal-probe %s\n", FISCAL_SUITE_VERSION);
    return 0;
  }
  uint8_t code = 0;
  if (argc < 3 || argc > 4 || !ParseCode(argv[2], &code)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string data = argc == 4 ? argv[3] : "";
  if (data.size() > fiscalsim::kMaxRequestData) {
    std::fprintf(stderr, "fiscal-probe: data longer than %zu bytes\n", fiscalsim::kMaxRequestData);
    return 2;
  }

  platform::SerialPort port;
  if (const int error = port.Open(argv[1]); error != 0) {
    std::fprintf(stderr, "fiscal-probe: cannot open %s: %s\n", argv[1], std::strerror(error));
    return 1;
  }
  port.Configure(platform::LineSettings{});  // 115200 8N1; a pseudo-terminal ignores it
  port.Purge();

  const fiscalsim::Bytes request = fiscalsim::BuildRequest(kSeq, code, data);
  PrintHex("request:", request);
  if (port.Write(request.data(), request.size(), kWriteWait) != request.size()) {
    std::fprintf(stderr, "fiscal-probe: cannot write to %s\n", argv[1]);
    return 1;
  }

  fiscalsim::ReplyReader reader;
  std::vector<fiscalsim::ReplyReader::Event> events;
  const Clock::time_point deadline = Clock::now() + kReplyWait;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || port.WaitReadable(left) != platform::WaitResult::Readable) break;
    uint8_t buffer[512];
    const ptrdiff_t n = port.Read(buffer, sizeof buffer);
    if (n < 0) break;
    reader.Feed(std::span(buffer, static_cast<size_t>(n)), events);
    for (const auto &event : events) {
      if (event.kind == fiscalsim::ReplyReader::Kind::Nak) {
        std::printf("NAK: the device refused the request\n");
        return 1;
      }
      if (event.kind != fiscalsim::ReplyReader::Kind::Frame) continue;  // busy: keep waiting
      PrintHex("reply:  ", event.frame);
      const auto reply = fiscalsim::ParseReply(event.frame);
      if (!reply) {
        std::printf("malformed reply\n");
        return 1;
      }
      std::printf("data:    \"%s\"\n", reply->data.c_str());
      std::printf("status: ");
      for (uint8_t b : reply->status) std::printf(" %02X", b);
      std::printf("\n");
      if ((reply->status[0] & fiscalsim::status::kError) != 0) std::printf("the device refused the command (error flag 0x20 of status byte 0)\n");
      if (!reply->checkOk) std::printf("wrong check characters\n");
      if (reply->seq != kSeq) std::printf("wrong sequence number %02X\n", reply->seq);
      return reply->checkOk && reply->seq == kSeq ? 0 : 1;
    }
    events.clear();
  }
  std::printf("no reply\n");
  return 1;
}
