#include "core/diagnosis.h"

namespace tillwright::diagnosis {

const char *VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok:
      return "ok";
    case Verdict::Warn:
      return "warn";
    case Verdict::Fail:
      return "fail";
  }
  return "fail";
}

std::string Finding::Line() const {
  std::string line = std::string(VerdictWord(verdict)) + ": " + seen;
  if (!remedy.empty()) line += " \u2014 " + remedy;
  return line;
}

std::string Report::Text() const {
  std::string text;
  for (const Finding &finding : findings) text += finding.Line() + "\n";
  return text;
}

// Placeholder until the checks exist: says that nothing was checked.
Report Diagnose(const Progress &progress) {
  if (progress) progress(0, 1, "Checking");
  Report report;
  report.findings.push_back({Verdict::Warn, "device", "no checks are built yet", ""});
  return report;
}

std::vector<BundleEntry> BundleEntries(const Report &report) { return {{"report.txt", report.Text()}}; }

bool WriteBundle(const std::string &, const std::vector<BundleEntry> &, std::string *error) {
  if (error != nullptr) *error = "bundles are not built yet";
  return false;
}

}  // namespace tillwright::diagnosis
