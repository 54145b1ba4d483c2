// Round trip of vrn_request over the emulated USB device beside its floor, the same request
// and reply as plain libusb bulk transfers on the same device, taken in turns in one run; the
// same request over a pseudo-terminal to the same kind of simulator; and the CPU an idle
// library with the device attached uses. Runs itself under umockdev-wrapper.
//   transport_usb_bench [rounds]
// Goal: the vrn_request median within 1.3 times the floor's.
#include <libusb.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/usb_device_linux.h"
#include "vrn_interface.h"

namespace {

constexpr uint16_t kDateTime = 0x3E;  // a short request with a short reply

double CpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Times `rounds` requests; false when one failed.
bool Measure(int rounds, bench::Stats &stats) {
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];
  int failures = 0;
  const auto samples = bench::Time(rounds, rounds / 10, [&] { failures += vrn_request(kDateTime, "", reply, status) != 0; });
  stats = bench::Summarise(samples);
  if (failures != 0) std::fprintf(stderr, "%d requests failed\n", failures);
  return failures == 0;
}

// The floor: one bulk OUT transfer of the request frame and bulk IN transfers until the reply
// frame is complete, on a handle of its own, with nothing else between the caller and libusb.
class RawUsbHost {
 public:
  RawUsbHost() {
    if (libusb_init(&context_) != LIBUSB_SUCCESS) return;
    handle_ = libusb_open_device_with_vid_pid(context_, 0x0483, 0x5740);
    if (handle_ != nullptr && libusb_claim_interface(handle_, kInterface) != LIBUSB_SUCCESS) {
      libusb_close(handle_);
      handle_ = nullptr;
    }
  }
  ~RawUsbHost() {
    if (handle_ != nullptr) {
      libusb_release_interface(handle_, kInterface);
      libusb_close(handle_);
    }
    if (context_ != nullptr) libusb_exit(context_);
  }
  RawUsbHost(const RawUsbHost &) = delete;
  RawUsbHost &operator=(const RawUsbHost &) = delete;

  bool IsOpen() const { return handle_ != nullptr; }

  bool RoundTrip(const fiscalsim::Bytes &request) {
    int moved = 0;
    if (libusb_bulk_transfer(handle_, kOut, const_cast<uint8_t *>(request.data()), static_cast<int>(request.size()),
                             &moved, kTimeoutMs) != LIBUSB_SUCCESS ||
        moved != static_cast<int>(request.size())) {
      return false;
    }
    fiscalsim::ReplyReader reader;
    std::vector<fiscalsim::ReplyReader::Event> events;
    // As many bytes a read as the library's receiver asks for.
    uint8_t buffer[1024];
    for (int reads = 0; reads < 16; ++reads) {
      if (libusb_bulk_transfer(handle_, kIn, buffer, sizeof buffer, &moved, kTimeoutMs) != LIBUSB_SUCCESS) return false;
      reader.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(moved)), events);
      for (const auto &e : events) {
        if (e.kind == fiscalsim::ReplyReader::Kind::Frame) return true;
      }
      events.clear();
    }
    return false;
  }

 private:
  static constexpr int kInterface = 1;
  static constexpr unsigned char kOut = 0x03;
  static constexpr unsigned char kIn = 0x81;
  static constexpr unsigned kTimeoutMs = 3000;
  libusb_context *context_ = nullptr;
  libusb_device_handle *handle_ = nullptr;
};

}  // namespace

int main(int argc, char **argv) {
  fiscalsim::ReexecUnderUmockdev();
  fiscalsim::UsbTestbed::Instance();
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: transport_usb_bench [rounds]\n");
    return 2;
  }

  bench::Stats pty;
  {
    fiscalsim::Simulator sim(fiscalsim::OpenPtyLink());
    sim.Start();
    if (!vrn_init(sim.PortName().c_str()) || vrn_test_connection() != 1) {
      std::fprintf(stderr, "cannot reach the simulator on %s\n", sim.PortName().c_str());
      return 1;
    }
    if (!Measure(rounds, pty)) return 1;
    vrn_dispose();
  }

  fiscalsim::EmulatedUsbDevice usb;
  fiscalsim::Simulator sim(usb.TakeLink());
  sim.Start();
  usb.Plug();
  if (!vrn_init(nullptr) || vrn_test_connection() != 1) {
    std::fprintf(stderr, "cannot reach the emulated USB device\n");
    return 1;
  }
  RawUsbHost raw;
  if (!raw.IsOpen()) {
    std::fprintf(stderr, "cannot open the emulated USB device with libusb\n");
    return 1;
  }
  // In turns, so that a change of load on the machine meets both alike. Between its requests
  // the library has no transfer pending, so every reply goes to the one who asked.
  const fiscalsim::Bytes request = fiscalsim::BuildRequest(0x20, kDateTime, "");
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];
  int failures = 0;
  std::vector<double> rawSamples;
  std::vector<double> libSamples;
  const auto one = [](auto &&fn, std::vector<double> *samples) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    if (samples != nullptr) {
      samples->push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
  };
  for (int i = 0; i < rounds + rounds / 10; ++i) {
    const bool warm = i >= rounds / 10;
    one([&] { failures += raw.RoundTrip(request) ? 0 : 1; }, warm ? &rawSamples : nullptr);
    one([&] { failures += vrn_request(kDateTime, "", reply, status) != 0; }, warm ? &libSamples : nullptr);
  }
  if (failures != 0) {
    std::fprintf(stderr, "%d round trips failed\n", failures);
    return 1;
  }
  const bench::Stats floor = bench::Summarise(rawSamples);
  const bench::Stats overUsb = bench::Summarise(libSamples);
  bench::PrintRow("vrn_request, pty (COM port)", pty);
  bench::PrintRow("raw libusb bulk OUT+IN (floor)", floor);
  bench::PrintRow("vrn_request, emulated USB", overUsb, &floor);
  std::printf("vrn_request / raw libusb floor median: x%.2f (goal x1.30)\n",
              floor.median > 0 ? overUsb.median / floor.median : 0.0);
  // The emulation's every ioctl is a round trip to umockdev's worker thread: the USB figures
  // are upper bounds of the host's own cost, not a real bus's timing.
  std::printf("emulated USB / pty median: x%.2f\n", pty.median > 0 ? overUsb.median / pty.median : 0.0);

  // The receiver disarms after its empty passes; from then on no thread may wake.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double before = CpuMs();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::printf("idle library, USB device attached: %.1f ms CPU in 1 s\n", CpuMs() - before);
  vrn_dispose();
  return 0;
}
