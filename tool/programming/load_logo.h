// Loads a monochrome bitmap into the device as the receipt logo, row by row, cropped to the
// largest logo the device takes; and switches logo printing on or off. A preview shows what the
// device will receive as soon as a file is chosen.
#pragma once

#include <string>

#include "core/app_state.h"
#include "core/link.h"
#include "dialogs/dialog.h"
#include "programming/logo_bitmap.h"

namespace tillwright {

class CLoadLogo : public ui::Dialog {
 public:
  static constexpr ui::ControlId kFileField = 1033;
  static constexpr ui::ControlId kBrowseButton = 1037;
  static constexpr ui::ControlId kPrintDisable = 1001;
  static constexpr ui::ControlId kPrintEnable = 1002;
  static constexpr ui::ControlId kDisableBox = 1043;  // hidden
  // Beyond the old template: what the device will receive, and a line about it.
  static constexpr ui::ControlId kPreview = 1300;
  static constexpr ui::ControlId kNote = 1301;

  static constexpr const char *kFilter = "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*";

  // `limits` outlive the dialog: the device's last word on them counts for the whole run.
  CLoadLogo(ILink &link, LogoLimits &limits);

  void OnOK() override;
  void OnBrowse();
  // Takes `path` as the file, as Browse does when the person chose it, and previews it.
  void ChooseFile(const std::string &path);
  void OnPrintSwitch(bool enable);
  void OnDisableBox();

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  enum class Outcome { Sent, Failed, Stopped };

  // Opens the file, showing the message of a failure.
  std::unique_ptr<LogoBitmap> OpenFile();
  // Asks the device for its limits (command 128); false when it did not answer.
  bool AskLimits();
  void ShowPreview();
  Outcome Transfer();

  ILink &link_;
  LogoLimits &limits_;
  std::string fileName_;  // UTF-8
  bool disableBox_ = false;
};

}  // namespace tillwright
