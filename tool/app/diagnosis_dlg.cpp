#include "app/diagnosis_dlg.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace tillwright {

namespace {

bool EndsWithNoCase(std::string_view text, std::string_view ending) {
  if (text.size() < ending.size()) return false;
  return std::equal(ending.begin(), ending.end(), text.end() - static_cast<std::ptrdiff_t>(ending.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                    });
}

}  // namespace

CDiagnosisDlg::CDiagnosisDlg(diagnosis::Report report, std::string note)
    : Dialog("diagnosis"), report_(std::move(report)), note_(std::move(note)) {
  Uses({kReportField, kCloseButton});
  On(kSaveBundleButton, ui::Event::Clicked, [this] { OnSaveBundle(); });
}

std::string CDiagnosisDlg::ReportText() const {
  std::string text = report_.Text();
  if (!note_.empty()) text += note_ + "\n";
  return text;
}

void CDiagnosisDlg::OnInitDialog() {
  Dialog::OnInitDialog();
  View().SetText(kReportField, ReportText());
  View().SetReadOnly(kReportField, true);
}

void CDiagnosisDlg::OnSaveBundle() {
  const auto path = Prompter().SaveFile("Save support bundle", kBundleFilter, kSuggestedBundle);
  if (!path) return;
  // The bundle's kind follows the name: a name that says neither would hold an archive nobody
  // recognises by its name. Nothing is written then.
  if (!EndsWithNoCase(*path, ".zip") && !EndsWithNoCase(*path, ".tar.gz")) {
    Prompter().Inform(
        "A support bundle is saved as a .zip or a .tar.gz file; \"" + *path + "\" is neither. Nothing was saved.",
        kCaption, ui::Icon::Warning);
    return;
  }
  std::string error;
  bool written = false;
  {
    ui::WaitCursor wait(Prompter());
    written = write_(*path, diagnosis::BundleEntries(report_), &error);
  }
  if (written) {
    Prompter().Inform("The support bundle was saved as " + *path + ".", kCaption, ui::Icon::Information);
  } else {
    if (error.empty()) error = "no reason was given";
    Prompter().Inform("The support bundle could not be saved as " + *path + ": " + error, kCaption, ui::Icon::Error);
  }
}

}  // namespace tillwright
