// fiscal-hub: point-of-sale programs print through HTTP/JSON on this machine, each device by its
// serial number, every document exactly once (see http_api.h).
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/port_scan.h"
#include "device_watch.h"
#include "devices.h"
#include "fiscal_version.h"
#include "http_api.h"
#include "store.h"
#include "worker_port.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string listen = "127.0.0.1:8765";
  std::string tokenFile;
  std::vector<std::string> ports;
  uint32_t baud = 115200;
  std::string database;
  int codePage = 1251;
  std::string worker;
  int answerWait = 60;
};

bool Loopback(const std::string &host) { return host == "127.0.0.1" || host == "::1" || host == "localhost"; }

// The worker sits beside this program in the build tree, and in libexec beside bin where it is
// installed (the package's /usr, or any other prefix).
std::string DefaultWorker() {
  std::error_code error;
  const fs::path dir = fs::read_symlink("/proc/self/exe", error).parent_path();
  if (!error) {
    for (const fs::path &candidate :
         {dir / "fiscal-hub-worker", dir.parent_path() / "libexec" / "fiscal-hub" / "fiscal-hub-worker"}) {
      if (fs::exists(candidate)) return candidate.string();
    }
  }
  return "/usr/libexec/fiscal-hub/fiscal-hub-worker";
}

std::string DefaultDatabase() {
  // systemd's StateDirectory= when run as a service; the person's own state folder otherwise.
  if (const char *state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
    return (fs::path(state) / "hub.sqlite").string();
  }
  const char *home = std::getenv("HOME");
  fs::path dir = std::getenv("XDG_STATE_HOME") != nullptr && *std::getenv("XDG_STATE_HOME") != '\0'
                     ? fs::path(std::getenv("XDG_STATE_HOME"))
                     : fs::path(home != nullptr ? home : ".") / ".local" / "state";
  return (dir / "fiscal-hub" / "hub.sqlite").string();
}

// A token is read from a file that only its owner can read: a token on the command line shows
// in every process list.
bool ReadToken(const std::string &path, std::string &token, std::string &error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    error = path + ": others can read the token; chmod 600 it";
    return false;
  }
  std::ifstream in(path);
  std::getline(in, token);
  while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
  if (token.size() < 16) {
    error = path + ": the token must be at least 16 characters";
    return false;
  }
  return true;
}

bool MakeStateFolder(const std::string &database, std::string &error) {
  const fs::path dir = fs::path(database).parent_path();
  if (dir.empty() || fs::exists(dir)) return true;
  std::error_code ec;
  fs::create_directories(dir.parent_path(), ec);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = dir.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Not pinned to ports: fiscal USB devices are followed as they are plugged, unplugged and
// renumbered, where udev can be heard.
std::unique_ptr<hub::DeviceWatch> WatchUsb(hub::Devices &devices) {
  const auto log = [](const std::string &line) {
    std::printf("fiscal-hub: %s\n", line.c_str());
    std::fflush(stdout);
  };
  std::string why;
  std::unique_ptr<hub::DeviceWatch> watch = hub::DeviceWatch::Start(devices, log, why);
  if (!watch) {
    std::printf("fiscal-hub: USB devices are not followed (%s): POST /devices/scan finds new ones\n", why.c_str());
  }
  return watch;
}

int Serve(const Options &options) {
  const size_t colon = options.listen.rfind(':');
  const std::string host = colon == std::string::npos ? options.listen : options.listen.substr(0, colon);
  const int port = colon == std::string::npos ? 8765 : std::atoi(options.listen.c_str() + colon + 1);
  std::string token;
  std::string error;
  if (!options.tokenFile.empty() && !ReadToken(options.tokenFile, token, error)) {
    std::fprintf(stderr, "fiscal-hub: %s\n", error.c_str());
    return 2;
  }
  if (!Loopback(host) && token.empty()) {
    std::fprintf(stderr, "fiscal-hub: listening on %s needs --token-file: only this machine may print without one\n",
                 host.c_str());
    return 2;
  }
  const std::string database = options.database.empty() ? DefaultDatabase() : options.database;
  if (!MakeStateFolder(database, error)) {
    std::fprintf(stderr, "fiscal-hub: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<hub::Store> store = hub::Store::Open(database, error);
  if (!store) {
    std::fprintf(stderr, "fiscal-hub: %s\n", error.c_str());
    return 1;
  }
  const hub::DeviceText text(options.codePage);
  const std::string worker = options.worker.empty() ? DefaultWorker() : options.worker;
  hub::Devices devices(
      [&](const std::string &name) {
        hub::WorkerOptions w;
        w.workerPath = worker;
        w.port = name;
        w.baud = options.baud;
        return std::make_unique<hub::WorkerPort>(w);
      },
      *store, text);

  httplib::Server server;
  hub::ApiOptions api;
  api.token = token;
  api.answerWait = std::chrono::seconds(options.answerWait);
  api.scanPorts = [&options] { return options.ports.empty() ? tillwright::ScanPortNames() : options.ports; };
  hub::RegisterApi(server, devices, *store, text, api);
  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "fiscal-hub: cannot listen on %s:%d\n", host.c_str(), port);
    return 1;
  }
  std::printf("fiscal-hub: listening on http://%s:%d/\n", host.c_str(), bound);
  std::fflush(stdout);

  // Started before the first scan, so that nothing plugged meanwhile goes unheard.
  const std::unique_ptr<hub::DeviceWatch> watch = options.ports.empty() ? WatchUsb(devices) : nullptr;
  for (const hub::ScanResult &found :
       devices.Scan(options.ports.empty() ? tillwright::ScanPortNames() : options.ports)) {
    if (!found.serial.empty()) std::printf("fiscal-hub: %s on %s\n", found.serial.c_str(), found.port.c_str());
  }
  std::printf("fiscal-hub: ready\n");
  std::fflush(stdout);

  // SIGTERM and SIGINT end the server; documents on the line finish first, as the devices are
  // destroyed after it.
  std::atomic<bool> signalled{false};
  std::thread signals([&server, &signalled] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    int signal = 0;
    sigwait(&set, &signal);
    if (signal == SIGUSR1) return;  // the server ended by itself
    signalled = true;
    server.stop();
  });
  const bool served = server.listen_after_bind();
  // A server that ended by itself leaves the thread waiting: it is woken the same way.
  if (!signalled) pthread_kill(signals.native_handle(), SIGUSR1);
  signals.join();
  // Before the watch goes: a plug it is handling may be waiting on a device's move decision.
  devices.Stop();
  if (!signalled && !served) {
    std::fprintf(stderr, "fiscal-hub: the server stopped on its own\n");
    return 1;
  }
  return 0;
}

int Run(int argc, char **argv) {
  // Blocked before any thread starts, so that only the signal thread takes them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  CLI::App app{"fiscal-hub: fiscal devices for point-of-sale programs over HTTP/JSON"};
  app.set_version_flag("--version", std::string("fiscal-hub ") + FISCAL_SUITE_VERSION);
  Options options;
  app.add_option("--listen", options.listen, "address:port to listen on (127.0.0.1:8765; port 0 picks one)");
  app.add_option("--token-file", options.tokenFile, "file holding the token callers must send (needed off loopback)");
  app.add_option("--port", options.ports, "a port to look for a device on (repeatable; default: the scan's list)");
  app.add_option("--baud", options.baud, "the devices' line speed")->check(CLI::Range(1200u, 921600u));
  app.add_option("--database", options.database, "the document record (default: the state folder's hub.sqlite)");
  app.add_option("--codepage", options.codePage, "the devices' code page")->check(CLI::IsMember({1250, 1251}));
  app.add_option("--worker", options.worker, "the fiscal-hub-worker program");
  app.add_option("--answer-wait", options.answerWait, "seconds a request waits for its document before 202")
      ->check(CLI::Range(0, 3600));
  CLI11_PARSE(app, argc, argv);
  return Serve(options);
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "fiscal-hub: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "fiscal-hub: an unexpected failure\n");
  }
  return 1;
}
