#include "core/dialog_catalogue.h"

#include "core/fiscal_check.h"
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
#include "registration/fiscalization.h"
#include "registration/reg_data.h"

namespace tillwright {

std::vector<DialogEntry> DialogCatalogue(AppState &state, ILink &link) {
  AppState *s = &state;
  ILink *l = &link;
  std::vector<DialogEntry> entries = {
      {"fiscal_check", [l] { return std::make_unique<CFiscalCheck>(*l); }},
      {"fiscalization", [s, l] { return std::make_unique<CFiscalization>(*s, *l); }},
      {"set_header_footer", [l] { return std::make_unique<CSetheaderFooter>(*l); }},
      {"set_sn", [] { return std::make_unique<CSetSN>(); }},
      {"business_data", [l] { return std::make_unique<CBusinessData>(*l); }},
      {"date_period", [] { return std::make_unique<CDatePeriod>(); }},
      {"reg_data", [l] { return std::make_unique<CRegData>(*l); }},
      {"set_clerk_name", [l] { return std::make_unique<CSetClerkName>(*l); }},
      {"set_clerk_pass", [l] { return std::make_unique<CSetClerkPass>(*l); }},
      {"tcp_ip_config", [l] { return std::make_unique<tcpIpConfig>(*l); }},
      {"set_conn_par", [l] { return std::make_unique<CSetConnPar>(*l); }},
      {"set_counter", [] { return std::make_unique<CSetCounter>(); }},
      {"enter_price", [] { return std::make_unique<CenterPrice>(); }},
      {"set_tax_rates", [l] { return std::make_unique<CSetTaxRates>(*l); }},
      {"klen_print_dlg", [l] { return std::make_unique<KlenPrintDlg>(*l); }},
      {"dev_code_tbl", [l] { return std::make_unique<CDevCodeTbl>(*l); }},
      {"load_logo", [s, l] { return std::make_unique<CLoadLogo>(*l, s->logoLimits); }},
  };
  return entries;
}

}  // namespace tillwright
