// fiscal-sim: the device simulator on a pseudo-terminal, reachable by a COM name.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fiscal_version.h"
#include "fiscalsim/fault_script.h"
#include "fiscalsim/logo_image.h"
#include "fiscalsim/paper_output.h"
#include "fiscalsim/paper_roll.h"
#include "fiscalsim/port_alias.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/serial_link.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/state_file.h"
#include "fiscalsim/wire_journal.h"
#include "platform/files.h"
#include "platform/port_names.h"

namespace {

// The same options as the OPTIONS of fiscal-sim(1).
constexpr char kUsage[] =
    "usage: fiscal-sim [--com COMn | --port PATH] [--baud N] [--state FILE] [--logo-png FILE]\n"
    "                  [--paper FILE] [--print-roll] [--faults FILE] [--journal FILE]\n"
    "Serves a simulated fiscal device on a pseudo-terminal until SIGINT or SIGTERM.\n"
    "  --com COMn       also reach it as COMn: a link in the port alias directory\n"
    "  --port PATH      serve this serial port instead, whose other end the host opens (one\n"
    "                   end of fiscal-pty-pair, a null-modem cable)\n"
    "  --baud N         pace every byte as on a line of N baud (10 bits a byte)\n"
    "  --state FILE     keep the device's memory in FILE: loaded at the start (a new device\n"
    "                   when there is none), saved after every command that changed it\n"
    "  --logo-png FILE  on the way out, write the logo the device holds as a PNG picture\n"
    "  --paper FILE     append each printed document to FILE as text; a FILE ending in .html\n"
    "                   is instead one page of the whole roll, rewritten after each document;\n"
    "                   may be given more than once\n"
    "  --print-roll     on the way out, print the whole roll as text on standard output\n"
    "  --faults FILE    misbehave as the fault script in FILE says; SIGHUP reads it again\n"
    "  --faults-help    show how fault scripts are written and end\n"
    "  --journal FILE   append every frame and control byte that crosses the line to FILE, one\n"
    "                   JSON object a line, passwords masked\n"
    "  --help           show this text and end\n"
    "  --version        show the version and end\n";

int Usage(const char *problem) {
  std::fprintf(stderr, "fiscal-sim: %s\n%s", problem, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::string com;
  std::string port;
  std::string logoPng;
  std::string statePath;
  std::vector<std::string> papers;
  bool printRoll = false;
  std::string faults;
  std::string journalPath;
  fiscalsim::SimulatorOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("fiscal-sim %s\n", FISCAL_SUITE_VERSION);
      return 0;
    }
    if (arg == "--faults-help") {
      std::fputs(fiscalsim::kFaultScriptHelp, stdout);
      return 0;
    }
    if ((arg == "--com" || arg == "--port" || arg == "--baud" || arg == "--logo-png" || arg == "--state" ||
         arg == "--paper" || arg == "--faults" || arg == "--journal") &&
        i + 1 >= argc) {
      return Usage(("missing value after " + arg).c_str());
    }
    if (arg == "--com") {
      com = argv[++i];
      if (!platform::ComPortNumber(com)) return Usage(("not a COM port name: " + com).c_str());
    } else if (arg == "--port") {
      port = argv[++i];
      if (port.empty()) return Usage("an empty --port");
    } else if (arg == "--logo-png") {
      logoPng = argv[++i];
    } else if (arg == "--state") {
      statePath = argv[++i];
      if (statePath.empty()) return Usage("an empty --state");
    } else if (arg == "--paper") {
      papers.emplace_back(argv[++i]);
      if (papers.back().empty()) return Usage("an empty --paper");
    } else if (arg == "--print-roll") {
      printRoll = true;
    } else if (arg == "--faults") {
      faults = argv[++i];
    } else if (arg == "--journal") {
      journalPath = argv[++i];
    } else if (arg == "--baud") {
      char *end = nullptr;
      const unsigned long baud = std::strtoul(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || baud == 0 || baud > 100'000'000) {
        return Usage((std::string("bad baud rate: ") + argv[i]).c_str());
      }
      options.baud = static_cast<uint32_t>(baud);
    } else {
      return Usage(("unknown argument: " + arg).c_str());
    }
  }
  // The alias would lead to the simulator's own end of the line, where no host belongs.
  if (!com.empty() && !port.empty()) return Usage("--com and --port exclude each other");

  // A bad script is refused before anything is served: a run without its faults would pass
  // tests it should fail.
  std::optional<std::vector<fiscalsim::FaultRule>> rules;
  if (!faults.empty()) {
    std::string error;
    if (rules = fiscalsim::LoadFaultScript(faults, &error); !rules) {
      std::fprintf(stderr, "fiscal-sim: %s\n", error.c_str());
      return 2;
    }
  }
  // Both outlive the simulator, whose serving thread uses them.
  std::unique_ptr<fiscalsim::WireJournal> journal;
  std::unique_ptr<fiscalsim::PortAlias> alias;
  if (!journalPath.empty()) {
    std::string error;
    if (journal = fiscalsim::WireJournal::Open(journalPath, &error); !journal) {
      std::fprintf(stderr, "fiscal-sim: %s\n", error.c_str());
      return 1;
    }
    options.onWire = [&journal](bool received, std::span<const uint8_t> bytes) { journal->Record(received, bytes); };
  }
  const auto announce = [&](const std::string &name) {
    if (!port.empty()) {
      std::printf("fiscal-sim: serving %s\n", port.c_str());
    } else if (alias) {
      std::printf("fiscal-sim: COM%u -> %s\n", *platform::ComPortNumber(com), name.c_str());
    } else {
      std::printf("fiscal-sim: %s\n", name.c_str());
    }
    std::fflush(stdout);
  };
  // Runs on the serving thread; main only touches the alias before Start() and after Stop().
  options.onPortBack = [&](const std::string &name) {
    std::string error;
    if (alias && !alias->Retarget(name, &error)) {
      std::fprintf(stderr, "fiscal-sim: %s\n", error.c_str());
      alias.reset();
    }
    announce(name);
  };

  // Blocked before any thread starts, so that every thread inherits the mask and only the
  // sigwait below takes them. SIGHUP keeps its usual end unless there is a script to read again.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (rules) sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // A bad file ends the program before a host can reach a device that forgot its memory.
  fiscalsim::DeviceState state;
  std::unique_ptr<fiscalsim::StateSaver> saver;
  if (!statePath.empty()) {
    saver = fiscalsim::OpenStateFile(statePath, "fiscal-sim", &state, &options);
    if (!saver) return 1;
  }

  try {
    // The paper outlives the simulator, whose serving thread alone prints on it.
    std::vector<std::unique_ptr<fiscalsim::PaperOutput>> paperOut;
    for (const std::string &paper : papers) {
      std::string error;
      paperOut.push_back(fiscalsim::PaperOutput::Open(paper, &error));
      if (!paperOut.back()) {
        std::fprintf(stderr, "fiscal-sim: %s\n", error.c_str());
        return 1;
      }
    }
    fiscalsim::PaperRoll roll([&paperOut](const std::vector<fiscalsim::PrintedDocument> &documents) {
      for (const auto &out : paperOut) {
        std::string error;
        if (!out->Add(documents, &error)) std::fprintf(stderr, "fiscal-sim: %s\n", error.c_str());
      }
    });
    if (!papers.empty() || printRoll) fiscalsim::AttachPaperRoll(options, roll);
    fiscalsim::Simulator simulator(port.empty() ? fiscalsim::OpenPtyLink() : fiscalsim::OpenSerialLink(port, port),
                                   options);
    if (!com.empty()) {
      std::string error;
      alias = fiscalsim::PortAlias::Create(com, simulator.PortName(), &error);
      if (!alias) {
        std::fprintf(stderr, "fiscal-sim: %s\n", error.c_str());
        return 1;
      }
    }
    if (saver) simulator.WithModel([&](fiscalsim::DeviceModel &m) { m.State() = std::move(state); });
    if (rules) simulator.Faults().SetRules(std::move(*rules));
    simulator.Start();
    announce(simulator.PortName());

    for (int signal = 0;;) {
      if (sigwait(&stopSignals, &signal) != 0) continue;
      if (signal != SIGHUP) break;
      std::string error;
      if (auto reread = fiscalsim::LoadFaultScript(faults, &error)) {
        const size_t count = reread->size();
        // In force before it is told, so that a host that waits for the message meets the new rules.
        simulator.Faults().SetRules(std::move(*reread));
        std::fprintf(stderr, "fiscal-sim: %s read again (%zu rule%s)\n", faults.c_str(), count, count == 1 ? "" : "s");
      } else {
        std::fprintf(stderr, "fiscal-sim: %s; the rules stay as they were\n", error.c_str());
      }
    }
    simulator.Stop();
    if (printRoll) std::fputs(fiscalsim::RollText(roll.Documents()).c_str(), stdout);
    if (!logoPng.empty()) {
      const std::string png = simulator.WithModel(
          [](fiscalsim::DeviceModel &m) { return fiscalsim::LogoPng(fiscalsim::RenderLogo(m.State())); });
      std::string error;
      if (!platform::WriteFileAtomically(logoPng, png, &error)) std::fprintf(stderr, "fiscal-sim: %s\n", error.c_str());
    }
  } catch (const std::exception &e) {
    std::fprintf(stderr, "fiscal-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
