// Prints documents from the electronic journal: one document by Z report and document number, or
// the documents of a Z report within a period; and activates a new journal SD card. The dialog
// stays open after each print, so that several can be ordered in one showing.
#pragma once

#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"

namespace tillwright {

// A date or a time as the pickers hold it; every field -1 when the picker has no valid value.
struct PickerValue {
  int year = -1;
  int month = -1;
  int day = -1;
  int hour = -1;
  int minute = -1;
  int second = -1;
};

// The data of command 200 for the documents of Z report `z` from begin to end: the dates from
// the date pickers, the hours and minutes from the time pickers, years as year - 2000.
std::string JournalPeriodData(int z, const PickerValue &beginDate, const PickerValue &beginTime,
                              const PickerValue &endDate, const PickerValue &endTime);

class KlenPrintDlg : public ui::Dialog {
 public:
  static constexpr ui::ControlId kOperationCombo = 1162;
  static constexpr ui::ControlId kZReportField = 1160;
  static constexpr ui::ControlId kDocumentField = 1161;
  static constexpr ui::ControlId kBeginDatePicker = 1163;
  static constexpr ui::ControlId kEndDatePicker = 1164;
  static constexpr ui::ControlId kBeginTimePicker = 1169;
  static constexpr ui::ControlId kEndTimePicker = 1170;
  static constexpr ui::ControlId kFirstLabel = 1165;  // 1165 to 1168, above the fields
  static constexpr ui::ControlId kActivateButton = 1037;
  static constexpr int kSingleDocument = 0;
  static constexpr int kPeriod = 1;
  static constexpr int kMaxNumber = 5000;

  // The pickers start at `now` (the computer's local date and time when left out).
  explicit KlenPrintDlg(ILink &link);
  KlenPrintDlg(ILink &link, const PickerValue &now);

  void OnInitDialog() override;
  // Prints; the dialog stays open whatever the outcome.
  void OnOK() override;
  void OnOperation();
  void OnActivate();

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  void ApplyOperation();

  ILink &link_;
  int operation_ = kSingleDocument;
  int32_t zReport_ = 0;
  int32_t document_ = 0;
  PickerValue beginDate_;
  PickerValue endDate_;
  PickerValue beginTime_;
  PickerValue endTime_;
};

}  // namespace tillwright
