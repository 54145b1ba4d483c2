// The dialogs the main dialog opens, each made in one place: the main dialog opens them through
// DialogMaker, and the catalogue lists the same makers for pictures of every dialog and for the
// checks that each has its templates.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/diagnosis_dlg.h"
#include "core/app_state.h"
#include "core/diagnosis.h"
#include "core/link.h"
#include "dialogs/dialog.h"
#include "programming/dev_code_tbl.h"
#include "programming/klen_print_dlg.h"
#include "programming/load_logo.h"
#include "programming/set_clerk.h"
#include "programming/set_conn_par.h"
#include "programming/set_counter.h"
#include "programming/set_header_footer.h"
#include "programming/set_sn.h"
#include "programming/set_tax_rates.h"
#include "programming/tcp_ip_config.h"
#include "registration/business_data.h"
#include "registration/date_period.h"
#include "registration/fiscal_check.h"
#include "registration/fiscalization.h"
#include "registration/reg_data.h"

namespace tillwright {

class DialogMaker {
 public:
  DialogMaker(AppState &state, ILink &link) : state_(&state), link_(&link) {}

  std::unique_ptr<CFiscalCheck> FiscalCheck() const;
  std::unique_ptr<CFiscalization> Fiscalization() const;
  std::unique_ptr<CSetheaderFooter> HeaderFooter() const;
  std::unique_ptr<CSetSN> SerialNumber() const;
  std::unique_ptr<CBusinessData> BusinessData() const;
  std::unique_ptr<CDatePeriod> DatePeriod() const;
  std::unique_ptr<CRegData> RegData() const;
  std::unique_ptr<CSetClerkName> ClerkName() const;
  std::unique_ptr<CSetClerkPass> ClerkPassword() const;
  std::unique_ptr<tcpIpConfig> TcpIp() const;
  std::unique_ptr<CSetConnPar> ConnectionParameters() const;
  std::unique_ptr<CSetCounter> Counters() const;
  std::unique_ptr<CenterPrice> TestSalePrice() const;
  std::unique_ptr<CSetTaxRates> TaxRates() const;
  std::unique_ptr<KlenPrintDlg> Journal() const;
  std::unique_ptr<CDevCodeTbl> CodeTable() const;
  std::unique_ptr<CLoadLogo> Logo() const;
  std::unique_ptr<CDiagnosisDlg> Diagnosis(diagnosis::Report report, std::string note = {}) const;

 private:
  AppState *state_;
  ILink *link_;
};

struct DialogEntry {
  std::string templateName;
  std::function<std::unique_ptr<ui::Dialog>()> make;
};

std::vector<DialogEntry> DialogCatalogue(AppState &state, ILink &link);

}  // namespace tillwright
