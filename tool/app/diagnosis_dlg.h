// The main dialog's "Diagnose connection": what the checks found, one line each, read-only, and
// their evidence packed into a support bundle where the person chooses.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/diagnosis.h"
#include "dialogs/dialog.h"

namespace tillwright {

class CDiagnosisDlg : public ui::Dialog {
 public:
  static constexpr ui::ControlId kReportField = 1310;
  static constexpr ui::ControlId kSaveBundleButton = 1311;
  // Close has the Cancel id, so that Escape and the window's close box close the dialog as well.
  static constexpr ui::ControlId kCloseButton = ui::kIdCancel;

  static constexpr std::string_view kCaption = "Diagnose connection";
  static constexpr std::string_view kSuggestedBundle = "tillwright-support.zip";
  static constexpr std::string_view kBundleFilter =
      "Zip archives (*.zip)|*.zip|Compressed tar archives (*.tar.gz)|*.tar.gz";

  // `note` follows the findings in the report field (why some checks did not run); may be empty.
  explicit CDiagnosisDlg(diagnosis::Report report, std::string note = {});

  // What writes the bundle; diagnosis::WriteBundle unless replaced.
  using BundleWriter =
      std::function<bool(const std::string &path, const std::vector<diagnosis::BundleEntry> &, std::string *error)>;
  void UseBundleWriter(BundleWriter write) { write_ = std::move(write); }

  void OnInitDialog() override;
  // Asks for the bundle's name, writes it, and says where it went or why it did not.
  void OnSaveBundle();

  const diagnosis::Report &Findings() const { return report_; }
  // What the report field shows.
  std::string ReportText() const;

 private:
  diagnosis::Report report_;
  std::string note_;
  BundleWriter write_ = diagnosis::WriteBundle;
};

}  // namespace tillwright
