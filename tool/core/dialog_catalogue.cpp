#include "core/dialog_catalogue.h"

#include "core/fiscal_check.h"
#include "programming/dev_code_tbl.h"
#include "programming/klen_print_dlg.h"
#include "programming/load_logo.h"
#include "programming/set_header_footer.h"
#include "programming/set_sn.h"
#include "programming/set_tax_rates.h"
#include "registration/business_data.h"
#include "registration/date_period.h"
#include "registration/fiscalization.h"

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
      {"set_tax_rates", [l] { return std::make_unique<CSetTaxRates>(*l); }},
      {"klen_print_dlg", [l] { return std::make_unique<KlenPrintDlg>(*l); }},
      {"dev_code_tbl", [l] { return std::make_unique<CDevCodeTbl>(*l); }},
      {"load_logo", [s, l] { return std::make_unique<CLoadLogo>(*l, s->logoLimits); }},
  };
  return entries;
}

}  // namespace tillwright
