#include "programming/klen_print_dlg.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/command_codes.h"
#include "core/local_time.h"
#include "dialogs/data_exchange.h"

namespace tillwright {
namespace {

constexpr const char *kOperations[] = {"Single document form EJ", "Documents from EJ for period"};
constexpr const char *kOperationError = "Operation error !!!";
constexpr const char *kActivationReady = "Activation ready";
constexpr const char *kActivationError = "Activation error !!!";
// The labels 1165 to 1168 for each operation.
constexpr const char *kLabels[2][4] = {{"Z report number", "Document number", "", ""},
                                       {"Z report number", "", "Begin date", "End date"}};

PickerValue Now() {
  const std::tm local = LocalTime(std::time(nullptr));
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

// A date picker's text "2014-03-01"; anything else is no valid value.
PickerValue ReadDate(const std::string &text, PickerValue value) {
  int year = 0, month = 0, day = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 ||
      static_cast<size_t>(used) != text.size() || month < 1 || month > 12 || day < 1 || day > 31) {
    return {};
  }
  value.year = year;
  value.month = month;
  value.day = day;
  return value;
}

// A time picker's text "08:00:00" (or "08:00").
PickerValue ReadTime(const std::string &text, PickerValue value) {
  int hour = 0, minute = 0, second = 0, used = 0;
  const int got = std::sscanf(text.c_str(), "%2d:%2d%n:%2d%n", &hour, &minute, &used, &second, &used);
  if (got < 2 || static_cast<size_t>(used) != text.size() || hour > 23 || minute > 59 || second > 59 || hour < 0 ||
      minute < 0 || second < 0) {
    return {};
  }
  value.hour = hour;
  value.minute = minute;
  value.second = got == 3 ? second : 0;
  return value;
}

void ExchangeDate(ui::DataExchange &dx, ui::IDialogView &view, ui::ControlId id, PickerValue &value) {
  if (dx.Failed()) return;
  if (dx.FromControls()) {
    value = ReadDate(view.Text(id), value);
    return;
  }
  if (value.year < 0) return;  // nothing valid to show: the picker keeps what it has
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", value.year, value.month, value.day);
  view.SetText(id, text);
}

void ExchangeTime(ui::DataExchange &dx, ui::IDialogView &view, ui::ControlId id, PickerValue &value) {
  if (dx.Failed()) return;
  if (dx.FromControls()) {
    value = ReadTime(view.Text(id), value);
    return;
  }
  if (value.hour < 0) return;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", value.hour, value.minute, value.second);
  view.SetText(id, text);
}

// A number field of 0..5000. A whole number beyond 32 bits is as far out of that range as 5001
// is, and is refused with the same message.
void ExchangeNumber(ui::DataExchange &dx, ui::IDialogView &view, ui::ControlId id, int32_t &field) {
  if (dx.FromControls() && !dx.Failed()) {
    const std::string text = view.Text(id);
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first != std::string::npos) {
      std::string digits = text.substr(first, last - first + 1);
      const bool negative = digits[0] == '-';
      if (digits[0] == '-' || digits[0] == '+') digits.erase(0, 1);
      digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
      if (digits.size() > 9 && digits.find_first_not_of("0123456789") == std::string::npos) {
        dx.MinMax(id, negative ? -1 : KlenPrintDlg::kMaxNumber + 1, 0, KlenPrintDlg::kMaxNumber);
        return;
      }
    }
  }
  dx.Integer(id, field);
  dx.MinMax(id, field, 0, KlenPrintDlg::kMaxNumber);
}

}  // namespace

std::string JournalPeriodData(int z, const PickerValue &beginDate, const PickerValue &beginTime,
                              const PickerValue &endDate, const PickerValue &endTime) {
  char data[160];
  std::snprintf(data, sizeof data, "194,%d,%02d-%02d-%02d %02d:%02d,%02d-%02d-%02d %02d:%02d", z, beginDate.day,
                beginDate.month, beginDate.year - 2000, beginTime.hour, beginTime.minute, endDate.day, endDate.month,
                endDate.year - 2000, endTime.hour, endTime.minute);
  return data;
}

KlenPrintDlg::KlenPrintDlg(ILink &link) : KlenPrintDlg(link, Now()) {}

KlenPrintDlg::KlenPrintDlg(ILink &link, const PickerValue &now)
    : Dialog("klen_print_dlg"), link_(link), beginDate_(now), endDate_(now), beginTime_(now), endTime_(now) {
  Uses({kZReportField, kDocumentField, kBeginDatePicker, kEndDatePicker, kBeginTimePicker, kEndTimePicker,
        kFirstLabel, kFirstLabel + 1, kFirstLabel + 2, kFirstLabel + 3, ui::kIdOk, ui::kIdCancel});
  On(kOperationCombo, ui::Event::SelectionChanged, [this] { OnOperation(); });
  On(kActivateButton, ui::Event::Clicked, [this] { OnActivate(); });
}

void KlenPrintDlg::OnInitDialog() {
  // The list is the template's; it is filled here too so that both front ends hold the same.
  View().SetItems(kOperationCombo, {kOperations[0], kOperations[1]});
  Dialog::OnInitDialog();
  ApplyOperation();
}

void KlenPrintDlg::DoDataExchange(ui::DataExchange &dx) {
  dx.Selection(kOperationCombo, operation_);
  ExchangeNumber(dx, View(), kZReportField, zReport_);
  ExchangeNumber(dx, View(), kDocumentField, document_);
  ExchangeDate(dx, View(), kBeginDatePicker, beginDate_);
  ExchangeDate(dx, View(), kEndDatePicker, endDate_);
  ExchangeTime(dx, View(), kBeginTimePicker, beginTime_);
  ExchangeTime(dx, View(), kEndTimePicker, endTime_);
}

void KlenPrintDlg::ApplyOperation() {
  const bool period = operation_ == kPeriod;
  View().SetEnabled(kZReportField, true);
  View().SetEnabled(kDocumentField, !period);
  for (ui::ControlId id : {kBeginDatePicker, kEndDatePicker, kBeginTimePicker, kEndTimePicker})
    View().SetEnabled(id, period);
  const auto &labels = kLabels[period ? 1 : 0];
  for (int i = 0; i < 4; ++i) View().SetText(kFirstLabel + i, labels[i]);
}

void KlenPrintDlg::OnOperation() {
  if (!UpdateData(true)) {
    // A number was refused (its message shown): the operation still switches, and the person's
    // text stays in the field to be corrected.
    operation_ = View().Selection(kOperationCombo);
    ApplyOperation();
    return;
  }
  ApplyOperation();
  UpdateData(false);
}

void KlenPrintDlg::OnOK() {
  if (!UpdateData(true)) return;
  std::string request;
  uint16_t code = 0;
  if (operation_ == kSingleDocument) {
    code = cmd::kJournalDocument;
    request = "2," + std::to_string(zReport_) + "," + std::to_string(document_);
  } else if (operation_ == kPeriod) {
    code = cmd::kJournalPeriod;
    request = JournalPeriodData(zReport_, beginDate_, beginTime_, endDate_, endTime_);
  } else {
    return;
  }
  ui::WaitCursor wait(Prompter());
  std::string reply;
  const int failed = link_.SendCommand(reply, request, code);
  wait.Restore();
  if (failed != 0) Prompter().Inform(kOperationError);
}

void KlenPrintDlg::OnActivate() {
  ui::WaitCursor wait(Prompter());
  std::string reply;
  std::string request;
  const int failed = link_.SendCommand(reply, request, cmd::kActivateJournal);
  wait.Restore();
  Prompter().Inform(failed == 0 ? kActivationReady : kActivationError);
}

}  // namespace tillwright
