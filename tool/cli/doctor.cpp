// tillwright-cli doctor: why no device answers, in one line per finding, and on request the
// support bundle that holds the evidence.
#include <algorithm>
#include <cctype>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "core/diagnosis.h"
#include "core/diagnosis_probes.h"
#include "platform/trace.h"

namespace tillwright::cli {
namespace {

using nlohmann::json;

class DoctorCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("--bundle", bundle_,
                       "also write the findings and their evidence to FILE.zip or FILE.tar.gz (mode 0600)");
  }

  int Run(Session &s) override {
    // A bundle that could not be written would be found missing only after the ports' seconds.
    if (!bundle_.empty() && !BundleNameAccepted(bundle_))
      return s.Fail(kExitUsage, "--bundle " + bundle_ + ": the bundle is a .zip or a .tar.gz; name the file so");
    const diagnosis::Report report =
        diagnosis::DiagnosePort(s.options().port, [&s](int step, int steps, const std::string &text) {
          s.err() << "[" << step + 1 << "/" << steps << "] " << text << "\n";
          return true;
        });
    if (s.options().json) {
      json findings = json::array();
      for (const diagnosis::Finding &f : report.findings)
        findings.push_back({{"verdict", diagnosis::VerdictWord(f.verdict)},
                            {"check", f.check},
                            {"seen", f.seen},
                            {"remedy", f.remedy}});
      s.pending() = {{"findings", findings}, {"answering_port", report.answeringPort}, {"ports", report.ports}};
    } else {
      s.out() << report.Text();
    }
    if (!bundle_.empty()) {
      if (const int status = WriteBundle(s, report); status != kExitOk) return status;
    }
    return report.DeviceAnswered() ? kExitOk : s.Fail(kExitNoDevice, "no device answers");
  }

 private:
  static bool BundleNameAccepted(const std::string &path) {
    // The same endings WriteBundle takes.
    const auto ends = [&path](const std::string &end) {
      return path.size() >= end.size() && std::equal(end.rbegin(), end.rend(), path.rbegin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
             });
    };
    return ends(".zip") || ends(".tar.gz") || ends(".tgz");
  }

  int WriteBundle(Session &s, const diagnosis::Report &report) {
    std::vector<diagnosis::BundleEntry> entries = diagnosis::BundleEntries(report);
    if (report.DeviceAnswered()) {
      // The settings backup's exchanges belong to the evidence too, masked as every trace is.
      platform::TraceCapture capture;
      CliLink link;
      Backup backup;
      if (link.Open(report.answeringPort) && s.ReadAll(link, backup) == kExitOk) {
        entries.push_back({"settings-backup.json", BackupToJson(backup, s.codePage())});
      } else {
        s.err() << kProgram << ": the settings could not be read; the bundle goes without them\n";
      }
      link.Close();
      for (diagnosis::BundleEntry &e : entries) {
        if (e.name != "traces.txt") continue;
        for (const std::string &line : capture.Lines()) e.bytes += line + "\n";
      }
    }
    std::string error;
    if (!diagnosis::WriteBundle(bundle_, entries, &error)) return s.Fail(kExitBadFile, error);
    if (!s.options().json)
      s.err() << "bundle written to " << bundle_ << "\n";
    else
      s.pending()["bundle"] = bundle_;
    return kExitOk;
  }

  std::string bundle_;
};

}  // namespace

std::unique_ptr<Command> MakeDoctor() { return std::make_unique<DoctorCommand>(); }

}  // namespace tillwright::cli
