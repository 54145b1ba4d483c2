// The emulated USB device as the real libusb and libudev of this process see it. The
// executable runs itself again under umockdev-wrapper when started without it.
#include <libudev.h>
#include <libusb.h>
#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "fiscalsim/device_model.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/usb_device_linux.h"
#include "platform/serial_port.h"
#include "scoped_threads.h"
#include "usb_testbed.h"
#include "wait_for.h"

namespace fiscalsim {
namespace {

using namespace std::chrono_literals;

const bool kUnderWrapper = fiscal_test::EnterUsbTestbed();

using fiscal_test::CpuMs;

// The least CPU of up to `runs` runs of fn, stopping at the first under `enough`: a wait that
// spins costs much in every run, while one that sleeps may still meet the end of earlier work
// of the process (a plug, an open) in its first.
double LeastCpuMs(const std::function<void()> &fn, double enough, int runs = 3) {
  double least = 0;
  for (int i = 0; i < runs; ++i) {
    const double before = CpuMs();
    fn();
    const double used = CpuMs() - before;
    if (i == 0 || used < least) least = used;
    if (least < enough) break;
  }
  return least;
}

struct Host {
  Host() { EXPECT_EQ(libusb_init(&ctx), 0); }
  ~Host() {
    Close();
    libusb_exit(ctx);
  }

  bool Open(uint16_t vid, uint16_t pid, int iface = 1) {
    handle = libusb_open_device_with_vid_pid(ctx, vid, pid);
    if (handle == nullptr) return false;
    libusb_set_auto_detach_kernel_driver(handle, 1);
    return libusb_claim_interface(handle, iface) == 0;
  }
  void Close() {
    if (handle != nullptr) libusb_close(handle);
    handle = nullptr;
  }

  int Out(const Bytes &bytes, int *moved, unsigned timeoutMs = 2000) {
    return libusb_bulk_transfer(handle, 0x03, const_cast<uint8_t *>(bytes.data()), static_cast<int>(bytes.size()), moved,
                                timeoutMs);
  }
  int In(Bytes &into, unsigned timeoutMs = 2000) {
    uint8_t buffer[1024];
    int moved = 0;
    const int r = libusb_bulk_transfer(handle, 0x81, buffer, sizeof buffer, &moved, timeoutMs);
    into.assign(buffer, buffer + moved);
    return r;
  }
  // Reads until a whole reply frame is there.
  Bytes Reply() {
    Bytes all;
    for (int i = 0; i < 10 && (all.empty() || all.back() != kFrameEnd); ++i) {
      Bytes part;
      if (In(part) != 0) break;
      all.insert(all.end(), part.begin(), part.end());
    }
    return all;
  }

  libusb_context *ctx = nullptr;
  libusb_device_handle *handle = nullptr;
};

using fiscal_test::WaitFor;

TEST(UsbEmulation, LibusbSeesTheDescriptorsAsConfigured) {
  EmulatedUsbDevice usb({.vendorId = 0x0483, .productId = 0x5740, .port = 1, .inPacketSize = 48,
                         .outPacketSize = 16, .interruptEndpoints = true, .withTty = false});
  usb.Plug();
  Host host;
  libusb_device **list = nullptr;
  const ssize_t n = libusb_get_device_list(host.ctx, &list);
  libusb_device *found = nullptr;
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device_descriptor d{};
    libusb_get_device_descriptor(list[i], &d);
    if (d.idVendor == 0x0483 && d.idProduct == 0x5740) found = list[i];
  }
  ASSERT_NE(found, nullptr);
  libusb_config_descriptor *config = nullptr;
  ASSERT_EQ(libusb_get_config_descriptor(found, 0, &config), 0);
  ASSERT_EQ(config->bNumInterfaces, 2);
  const libusb_interface_descriptor &data = config->interface[1].altsetting[0];
  ASSERT_EQ(data.bNumEndpoints, 2);
  EXPECT_EQ(data.endpoint[0].bEndpointAddress, 0x03);
  EXPECT_EQ(data.endpoint[0].wMaxPacketSize, 16);
  EXPECT_EQ(data.endpoint[0].bmAttributes & 3, LIBUSB_TRANSFER_TYPE_INTERRUPT);
  EXPECT_EQ(data.endpoint[1].bEndpointAddress, 0x81);
  EXPECT_EQ(data.endpoint[1].wMaxPacketSize, 48);
  libusb_free_config_descriptor(config);
  libusb_free_device_list(list, 1);
}

TEST(UsbEmulation, BulkTransfersReachTheDeviceModel) {
  EmulatedUsbDevice usb({.port = 2});
  Simulator sim(usb.TakeLink());
  sim.Start();
  usb.Plug();
  Host host;
  ASSERT_TRUE(host.Open(0x0483, 0x5740));
  EXPECT_EQ(usb.Claims(), 1u);

  const Bytes request = BuildRequest(0x20, 0x2D, "abc");
  int moved = 0;
  ASSERT_EQ(host.Out(request, &moved), 0);
  EXPECT_EQ(moved, static_cast<int>(request.size()));
  const Bytes reply = host.Reply();
  ASSERT_GE(reply.size(), kReplyOverhead);
  EXPECT_EQ(reply[0], kFrameStart);
  EXPECT_EQ(reply[2], 0x20);  // the request's sequence byte
  EXPECT_EQ(reply.back(), kFrameEnd);
  ASSERT_TRUE(sim.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  EXPECT_EQ(sim.ReceivedFrames().Entries()[0].raw, request);
  EXPECT_EQ(usb.OutTransfers(), std::vector<size_t>{request.size()});

  // Nothing to say: an IN transfer runs into its time-out and the device stays usable.
  Bytes nothing;
  EXPECT_EQ(host.In(nothing, 100), LIBUSB_ERROR_TIMEOUT);
  ASSERT_EQ(host.Out(BuildRequest(0x21, 0x2D, "abc"), &moved), 0);
  EXPECT_EQ(host.Reply()[2], 0x21);
}

TEST(UsbEmulation, UnplugFailsTransfersAndAPlugGivesAWorkingDevice) {
  EmulatedUsbDevice usb({.port = 3});
  Simulator sim(usb.TakeLink());
  sim.Start();
  usb.Plug();

  udev *u = udev_new();
  udev_monitor *monitor = udev_monitor_new_from_netlink(u, "udev");
  udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device");
  udev_monitor_enable_receiving(monitor);

  Host host;
  ASSERT_TRUE(host.Open(0x0483, 0x5740));
  std::thread unplug([&] {
    std::this_thread::sleep_for(100ms);
    usb.Unplug();
  });
  Bytes got;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(host.In(got, 3000), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);  // not the time-out
  unplug.join();
  int moved = 0;
  EXPECT_NE(host.Out(BuildRequest(0x20, 0x2D, ""), &moved), 0);

  pollfd fd{udev_monitor_get_fd(monitor), POLLIN, 0};
  ASSERT_EQ(::poll(&fd, 1, 5000), 1);
  udev_device *event = udev_monitor_receive_device(monitor);
  ASSERT_NE(event, nullptr);
  EXPECT_STREQ(udev_device_get_action(event), "remove");
  EXPECT_EQ(std::string(udev_device_get_syspath(event)), usb.SysPath());
  udev_device_unref(event);

  host.Close();
  usb.Plug();
  ASSERT_EQ(::poll(&fd, 1, 5000), 1);
  event = udev_monitor_receive_device(monitor);
  ASSERT_NE(event, nullptr);
  EXPECT_STREQ(udev_device_get_action(event), "add");
  udev_device_unref(event);

  ASSERT_TRUE(host.Open(0x0483, 0x5740));
  const Bytes request = BuildRequest(0x22, 0x2D, "x");
  ASSERT_EQ(host.Out(request, &moved), 0);
  EXPECT_EQ(host.Reply()[2], 0x22);
  udev_monitor_unref(monitor);
  udev_unref(u);
}

TEST(UsbEmulation, TtyChildCarriesRequestsToTheSameModel) {
  EmulatedUsbDevice usb({.vendorId = 0x1234, .productId = 0x5678, .port = 4, .withTty = true});
  Simulator sim(usb.TakeLink());
  sim.Start();
  usb.Plug();

  udev *u = udev_new();
  udev_enumerate *e = udev_enumerate_new(u);
  udev_enumerate_add_match_subsystem(e, "tty");
  udev_enumerate_add_match_property(e, "ID_VENDOR_ID", "1234");
  udev_enumerate_scan_devices(e);
  udev_list_entry *first = udev_enumerate_get_list_entry(e);
  ASSERT_NE(first, nullptr);
  udev_device *tty = udev_device_new_from_syspath(u, udev_list_entry_get_name(first));
  ASSERT_NE(tty, nullptr);
  EXPECT_EQ(std::string(udev_device_get_devnode(tty)), usb.TtyNode());
  udev_device *parent = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(std::string(udev_device_get_syspath(parent)), usb.SysPath());
  udev_device_unref(tty);
  udev_enumerate_unref(e);
  udev_unref(u);

  platform::SerialPort port;
  ASSERT_EQ(port.Open(usb.TtyNode()), 0);
  ASSERT_EQ(port.Configure({115200, 8, 0, 0}), 0);
  EXPECT_EQ(port.SetDtr(true), 0);
  const Bytes request = BuildRequest(0x20, 0x2D, "abc");
  ASSERT_EQ(port.Write(request.data(), request.size(), 2000ms), request.size());
  Bytes reply;
  uint8_t buffer[256];
  while (reply.empty() || reply.back() != kFrameEnd) {
    ASSERT_EQ(port.WaitReadable(5000ms), platform::WaitResult::Readable);
    const ptrdiff_t n = port.Read(buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    reply.insert(reply.end(), buffer, buffer + n);
  }
  EXPECT_EQ(reply[2], 0x20);
  ASSERT_TRUE(sim.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  EXPECT_EQ(sim.ReceivedFrames().Entries()[0].raw, request);
}

TEST(UsbEmulation, AWaitingTransferCostsNoCpu) {
  EmulatedUsbDevice usb({.port = 5});
  usb.Plug();
  Host host;
  ASSERT_TRUE(host.Open(0x0483, 0x5740));
  // A spinning poll burns most of the 500 ms; a sleeping one a few.
  const double used = LeastCpuMs(
      [&] {
        Bytes nothing;
        EXPECT_EQ(host.In(nothing, 500), LIBUSB_ERROR_TIMEOUT);
      },
      100.0);
  EXPECT_LT(used, 100.0);
}

// A device with the simulator behind it and a host that has claimed its data interface.
class UsbFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    usb_.Plug();
    ASSERT_TRUE(host_.Open(0x0483, 0x5740));
  }

  fiscal_test::EmulatedDevice device_{{.port = 6}, false};
  EmulatedUsbDevice &usb_ = *device_.usb;
  Simulator &sim_ = *device_.sim;
  Host host_;
  const Bytes request_ = BuildRequest(0x20, 0x2D, "abc");
  const Bytes reply_ = BuildReply(0x20, 0x2D, "", kStatusIdle);
};

TEST_F(UsbFaults, AStalledEndpointFailsUntilItsHaltIsClearedAndLosesNothing) {
  usb_.Stall(UsbDirection::Out);
  int moved = -1;
  EXPECT_EQ(host_.Out(request_, &moved), LIBUSB_ERROR_PIPE);
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(host_.Out(request_, &moved), LIBUSB_ERROR_PIPE) << "halted until cleared";
  ASSERT_EQ(libusb_clear_halt(host_.handle, 0x03), 0);
  EXPECT_EQ(usb_.ClearHalts(UsbDirection::Out), 1u);
  EXPECT_EQ(usb_.ClearHalts(UsbDirection::In), 0u);
  ASSERT_EQ(host_.Out(request_, &moved), 0);
  EXPECT_EQ(moved, static_cast<int>(request_.size()));

  // The reply waits in the device while its endpoint is halted.
  usb_.Stall(UsbDirection::In);
  Bytes got;
  EXPECT_EQ(host_.In(got), LIBUSB_ERROR_PIPE);
  EXPECT_TRUE(got.empty());
  ASSERT_EQ(libusb_clear_halt(host_.handle, 0x81), 0);
  EXPECT_EQ(usb_.ClearHalts(UsbDirection::In), 1u);
  EXPECT_EQ(host_.Reply(), reply_);
  ASSERT_TRUE(sim_.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  EXPECT_EQ(sim_.ReceivedFrames().Total(), 1u);
  EXPECT_EQ(sim_.ReceivedFrames().Entries()[0].raw, request_);

  // A reset sets the endpoints back too.
  usb_.Stall(UsbDirection::Out);
  ASSERT_EQ(libusb_reset_device(host_.handle), 0);
  ASSERT_EQ(host_.Out(BuildRequest(0x21, 0x2D, ""), &moved), 0);
  EXPECT_EQ(host_.Reply()[2], 0x21);
}

TEST_F(UsbFaults, AShortOutTransferTakesOnlyItsFirstBytes) {
  usb_.ShortNextOut(4);
  int moved = -1;
  ASSERT_EQ(host_.Out(request_, &moved), 0);
  EXPECT_EQ(moved, 4);
  ASSERT_EQ(host_.Out(Bytes(request_.begin() + 4, request_.end()), &moved), 0);
  EXPECT_EQ(moved, static_cast<int>(request_.size() - 4));
  EXPECT_EQ(host_.Reply(), reply_);
  EXPECT_EQ(usb_.OutTransfers(), (std::vector<size_t>{request_.size(), request_.size() - 4}));
  ASSERT_TRUE(sim_.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  EXPECT_EQ(sim_.ReceivedFrames().Total(), 1u);
  EXPECT_EQ(sim_.ReceivedFrames().Entries()[0].raw, request_);
}

TEST_F(UsbFaults, ZeroLengthInTransfersLeaveTheBytesForTheNextOne) {
  usb_.ZeroLengthNextIn(2);
  int moved = -1;
  ASSERT_EQ(host_.Out(request_, &moved), 0);
  for (int i = 0; i < 2; ++i) {
    Bytes got = {0xEE};
    EXPECT_EQ(host_.In(got), 0);
    EXPECT_TRUE(got.empty()) << i;
  }
  EXPECT_EQ(host_.Reply(), reply_);
}

// libusb gives up on a transfer at its time-out by discarding it; one the device holds
// outlives that, and its caller waits for the release.
TEST_F(UsbFaults, AHeldOutTransferWhoseDiscardIsRefusedGoesOnOnceReleased) {
  usb_.HoldTransfers(UsbDirection::Out);
  std::atomic<bool> done{false};
  int result = -1;
  int moved = -1;
  fiscal_test::ScopedThreads writer([&] { usb_.ReleaseTransfers(UsbDirection::Out); });
  writer.Start([&] {
    result = host_.Out(request_, &moved, 100);
    done = true;
  });
  ASSERT_TRUE(WaitFor([&] { return usb_.Discards() >= 1; })) << "libusb never tried to cancel";
  EXPECT_EQ(usb_.HeldTransfers(UsbDirection::Out), 1u);
  EXPECT_FALSE(done.load());
  EXPECT_EQ(sim_.ReceivedFrames().Total(), 0u) << "a held transfer delivers nothing";
  usb_.ReleaseTransfers(UsbDirection::Out);
  writer.Join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(moved, static_cast<int>(request_.size()));
  EXPECT_EQ(usb_.HeldTransfers(UsbDirection::Out), 0u);
  EXPECT_EQ(host_.Reply(), reply_);
}

TEST_F(UsbFaults, AHeldInTransferWhoseDiscardIsDeferredEndsCancelledAndTheReplyWaits) {
  usb_.HoldTransfers(UsbDirection::In, HeldDiscard::Defer);
  int moved = -1;
  ASSERT_EQ(host_.Out(request_, &moved), 0);
  ASSERT_TRUE(sim_.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  std::atomic<bool> done{false};
  int result = 0;
  Bytes got = {0xEE};
  fiscal_test::ScopedThreads reader([&] { usb_.ReleaseTransfers(UsbDirection::In); });
  reader.Start([&] {
    result = host_.In(got, 100);
    done = true;
  });
  ASSERT_TRUE(WaitFor([&] { return usb_.Discards() >= 1; })) << "libusb never tried to cancel";
  EXPECT_EQ(usb_.HeldTransfers(UsbDirection::In), 1u);
  EXPECT_FALSE(done.load());
  usb_.ReleaseTransfers(UsbDirection::In);
  reader.Join();
  EXPECT_EQ(result, LIBUSB_ERROR_TIMEOUT);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(host_.Reply(), reply_);
}

TEST_F(UsbFaults, UnplugEndsAHeldTransferAndAResetUnderItIsCounted) {
  usb_.HoldTransfers(UsbDirection::In);
  int result = 0;
  fiscal_test::ScopedThreads reader([&] { usb_.Unplug(); });
  reader.Start([&] {
    Bytes got;
    result = host_.In(got, 100);
  });
  ASSERT_TRUE(WaitFor([&] { return usb_.HeldTransfers(UsbDirection::In) == 1; }));
  ASSERT_EQ(libusb_reset_device(host_.handle), 0);
  EXPECT_EQ(usb_.ResetsUnderHeldTransfers(), 1u);
  usb_.Unplug();
  reader.Join();
  EXPECT_EQ(result, LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(usb_.HeldTransfers(UsbDirection::In), 0u);

  // The fault ended with the device: a new one holds nothing.
  host_.Close();
  usb_.Plug();
  ASSERT_TRUE(host_.Open(0x0483, 0x5740));
  int moved = -1;
  ASSERT_EQ(host_.Out(request_, &moved), 0);
  EXPECT_EQ(host_.Reply(), reply_);
  EXPECT_EQ(usb_.ResetsUnderHeldTransfers(), 1u);
}

TEST_F(UsbFaults, ADelayedDiscardEndsTheTransferOnlyAfterTheDelay) {
  usb_.DelayDiscards(300ms);
  int runs = 0;
  const double used = LeastCpuMs(
      [&] {
        ++runs;
        Bytes got;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(host_.In(got, 50), LIBUSB_ERROR_TIMEOUT);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
      },
      100.0);
  EXPECT_LT(used, 100.0) << "waiting for the discard spins";
  EXPECT_EQ(usb_.Discards(), static_cast<unsigned>(runs));

  usb_.DelayDiscards(0ms);
  int moved = -1;
  ASSERT_EQ(host_.Out(request_, &moved), 0);
  EXPECT_EQ(host_.Reply(), reply_);
}

}  // namespace
}  // namespace fiscalsim
