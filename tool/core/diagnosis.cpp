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

}  // namespace tillwright::diagnosis
