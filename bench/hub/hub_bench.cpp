// fiscal-hub beside the printer library in the caller's own process, on simulators paced as a
// line of 115200 baud: what the hub adds to one receipt (HTTP, the record, the worker, the
// counter it reads first), and how four devices' receipts go at once beside one device's.
//   hub_bench [receipts [folder]]   the hub's record in a new folder under `folder` (/tmp): its
//                                   disk's flush time is part of every receipt
#include <httplib.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "devices.h"
#include "fiscalsim/device_model.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "http_api.h"
#include "store.h"
#include "tallyport.h"
#include "worker_port.h"

namespace {

namespace fs = std::filesystem;
constexpr uint32_t kBaud = 115200;
constexpr int kDevices = 4;

constexpr const char *kReceipt = R"({"operator": {"number": 1, "password": "0000", "till": 1},
 "items": [{"text": "Bread", "taxGroup": "B", "price": 1.20, "quantity": 2},
           {"text": "Milk", "taxGroup": "A", "price": 2.50}],
 "payments": [{"type": "P", "amount": 10.00}]})";

std::unique_ptr<fiscalsim::Simulator> PacedDevice(const std::string &serial) {
  auto sim =
      std::make_unique<fiscalsim::Simulator>(fiscalsim::OpenPtyLink(), fiscalsim::SimulatorOptions::PacedAt(kBaud));
  sim->WithModel([&](fiscalsim::DeviceModel &m) { m.State().serialNumber = serial; });
  sim->Start();
  return sim;
}

// The same receipt as the hub's steps, through the exports.
bool LibraryReceipt() {
  int16_t a = 0, b = 0, code = 0;
  double amount = 0;
  return BeginFiscalBon(1, "0000", 1, 0, &a, &b) == 0 && Sale("Bread", "B", 1.20, 2, 0) == 0 &&
         Sale("Milk", "A", 2.50, 1, 0) == 0 && Total("", "P", 10.00, &code, &amount) == 0 && EndFiscalBon(&a, &b) == 0;
}

// The hub of this process on the devices' ports, with its record in a folder of its own.
class Hub {
 public:
  Hub(const std::vector<std::string> &ports, const fs::path &dir) {
    std::string error;
    store_ = hub::Store::Open((dir / "hub.sqlite").string(), error);
    if (!store_) {
      std::fprintf(stderr, "hub_bench: %s\n", error.c_str());
      std::exit(1);
    }
    devices_ = std::make_unique<hub::Devices>(
        [](const std::string &port) {
          hub::WorkerOptions options;
          options.workerPath = FISCAL_HUB_WORKER_PATH;
          options.port = port;
          options.baud = kBaud;
          return std::make_unique<hub::WorkerPort>(options);
        },
        *store_, text_);
    devices_->Scan(ports);
    hub::RegisterApi(server_, *devices_, *store_, text_, {});
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Hub() {
    server_.stop();
    thread_.join();
    devices_.reset();
  }

  bool Receipt(const std::string &serial, const std::string &key) const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(60, 0);
    const httplib::Result r = client.Post(("/devices/" + serial + "/receipts").c_str(), {{"Idempotency-Key", key}},
                                          kReceipt, "application/json");
    return r && r->status == 200;
  }

 private:
  hub::DeviceText text_;
  std::unique_ptr<hub::Store> store_;
  std::unique_ptr<hub::Devices> devices_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

// Receipts a second when `devices` devices each print `each` receipts at once.
double Throughput(const Hub &hub, int devices, int each, int &failures) {
  static int round = 0;
  ++round;
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> callers;
  std::vector<int> failed(static_cast<size_t>(devices), 0);
  for (int d = 0; d < devices; ++d) {
    callers.emplace_back([&, d] {
      const std::string serial = "SV00010" + std::to_string(d);
      for (int i = 0; i < each; ++i) {
        if (!hub.Receipt(serial, "t" + std::to_string(round) + "-" + std::to_string(d) + "-" + std::to_string(i))) {
          ++failed[static_cast<size_t>(d)];
        }
      }
    });
  }
  for (std::thread &caller : callers) caller.join();
  for (const int f : failed) failures += f;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return devices * each / seconds;
}

}  // namespace

int main(int argc, char **argv) {
  const int receipts = argc > 1 ? std::atoi(argv[1]) : 100;
  if (receipts <= 0 || argc > 3) {
    std::fprintf(stderr, "usage: hub_bench [receipts [folder]]\n");
    return 2;
  }
  std::string pattern = std::string(argc > 2 ? argv[2] : "/tmp") + "/hub-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror(pattern.c_str());
    return 1;
  }
  const fs::path dir = pattern;

  // The library alone, on a device of its own.
  auto alone = PacedDevice("SV000900");
  if (Connect(alone->PortName().c_str(), static_cast<int32_t>(kBaud), 8, 0, 0) != 0) return 1;
  bool ok = true;
  const bench::Stats library = bench::Summarise(bench::Time(receipts, 5, [&] { ok = LibraryReceipt() && ok; }));
  char text[TALLYPORT_TEXT_SIZE];
  const bench::Stats query = bench::Summarise(bench::Time(receipts, 5, [&] { ok = GetDocNumber(text) == 0 && ok; }));
  Disconnect();
  // The same query through a worker process: what the line between hub and worker adds.
  bench::Stats worker;
  {
    hub::WorkerOptions options;
    options.workerPath = FISCAL_HUB_WORKER_PATH;
    options.port = alone->PortName();
    options.baud = kBaud;
    hub::WorkerPort port(options);
    worker = bench::Summarise(
        bench::Time(receipts, 5, [&] { ok = port.Call("GetDocNumber", nlohmann::json::array()).code == 0 && ok; }));
  }

  std::vector<std::unique_ptr<fiscalsim::Simulator>> sims;
  std::vector<std::string> ports;
  for (int d = 0; d < kDevices; ++d) {
    sims.push_back(PacedDevice("SV00010" + std::to_string(d)));
    ports.push_back(sims.back()->PortName());
  }
  int failures = ok ? 0 : 1;
  double one = 0, four = 0;
  bench::Stats viaHub;
  {
    const Hub hub(ports, dir);
    int n = 0;
    viaHub = bench::Summarise(bench::Time(receipts, 5, [&] {
      if (!hub.Receipt("SV000100", "r" + std::to_string(n++))) ++failures;
    }));
    one = Throughput(hub, 1, receipts, failures);
    four = Throughput(hub, kDevices, receipts, failures);
  }
  fs::remove_all(dir);

  std::printf("one receipt (open, two sales, payment, close) at %u baud, the record in %s\n", kBaud,
              dir.parent_path().c_str());
  bench::PrintRow("GetDocNumber in the caller's process", query);
  bench::PrintRow("GetDocNumber through a worker", worker);
  bench::PrintRow("tallyport in the caller's process", library);
  bench::PrintRow("fiscal-hub over HTTP", viaHub);
  std::printf("  hub / library: %.2f (goal <= 1.2)\n", viaHub.median / library.median);
  // The document counter read before every receipt is on the line too: no hub goes below this.
  std::printf("  the line alone, with the counter read first: %.2f\n",
              (library.median + query.median) / library.median);
  std::printf("throughput: 1 device %.1f receipts/s, %d devices %.1f receipts/s: %.2f x (goal >= 3.5)\n", one, kDevices,
              four, four / one);
  if (failures != 0) {
    std::fprintf(stderr, "hub_bench: %d receipts failed\n", failures);
    return 1;
  }
  return 0;
}
