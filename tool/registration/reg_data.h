// The remote-audit registration data: 24 parameters read and written one by one with command 198,
// the device's information and registration state shown beside them, and the procedures the
// device carries out on command 199 (registration, change, deregistration, the check for an
// existing registration, the GPRS test).
#pragma once

#include <array>
#include <map>
#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"
#include "registration/date_period.h"

namespace tillwright {

class CRegData : public ui::Dialog {
 public:
  static constexpr size_t kParameters = 24;
  static constexpr size_t kTextParameters = 16;  // 0..15, then the lists, 19 and 20, the date
  // The control of each parameter, by its number.
  static constexpr std::array<ui::ControlId, kParameters> kParameterIds = {
      1123, 1130, 1131, 1134, 1138, 1114, 1124, 1136, 1137, 1139, 1140, 1132,
      1133, 1135, 1128, 1129, 1113, 1125, 1119, 1126, 1127, 1116, 1115, 1121};
  static constexpr ui::ControlId kActionList = 1113;        // parameter 16, list A
  static constexpr ui::ControlId kNumberList = 1125;        // parameter 17, list D
  static constexpr ui::ControlId kOperatorList = 1119;      // parameter 18, list B
  static constexpr ui::ControlId kIdKindList = 1116;        // parameter 21, list C
  static constexpr ui::ControlId kNumberKindList = 1115;    // parameter 22, list C
  static constexpr ui::ControlId kDate = 1121;              // parameter 23
  static constexpr ui::ControlId kStatusLine = 1157;
  static constexpr ui::ControlId kCheckExisting = 1170;
  static constexpr ui::ControlId kUnusedDate = 1042;        // hidden
  static constexpr ui::ControlId kExecuteButton = 3;
  static constexpr ui::ControlId kGprsTestButton = 4;
  static constexpr ui::ControlId kReadButton = 5;
  static constexpr ui::ControlId kCloseButton = 1037;

  // The actions of list A.
  static constexpr int kChoose = 0;
  static constexpr int kRegistration = 1;
  static constexpr int kDeregistration = 3;

  explicit CRegData(ILink &link);

  // Reads everything, then applies the enabling rules.
  void OnInitDialog() override;
  // OK (id 1, Enter) writes all parameters; the dialog stays open.
  void OnOK() override;

  void ReadAll();
  // True when all 24 writes succeeded.
  bool WriteAll();
  void Execute();
  void TestGprs();
  void ApplyEnabling();

  // The most characters each text parameter takes (0..15, 19, 20).
  static size_t Limit(size_t parameter);

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  bool Send(std::string &reply, std::string data, uint16_t code);

  ILink &link_;
  std::array<std::string, kParameters> texts_;  // device bytes of 0..15, 19, 20
  int action_ = 0;
  int number_ = 0;
  int operator_ = 0;
  int idKind_ = 0;
  int numberKind_ = 0;
  CalendarDate date_;
  bool checkExisting_ = false;
  std::string status_;                        // UTF-8
  std::map<ui::ControlId, std::string> shown_;  // device bytes of the read-only fields
};

}  // namespace tillwright
