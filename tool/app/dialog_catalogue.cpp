#include "app/dialog_catalogue.h"

#include <utility>

namespace tillwright {

std::unique_ptr<CFiscalCheck> DialogMaker::FiscalCheck() const { return std::make_unique<CFiscalCheck>(*link_); }
std::unique_ptr<CFiscalization> DialogMaker::Fiscalization() const {
  return std::make_unique<CFiscalization>(*state_, *link_);
}
std::unique_ptr<CSetheaderFooter> DialogMaker::HeaderFooter() const {
  return std::make_unique<CSetheaderFooter>(*link_);
}
std::unique_ptr<CSetSN> DialogMaker::SerialNumber() const { return std::make_unique<CSetSN>(); }
std::unique_ptr<CBusinessData> DialogMaker::BusinessData() const { return std::make_unique<CBusinessData>(*link_); }
std::unique_ptr<CDatePeriod> DialogMaker::DatePeriod() const { return std::make_unique<CDatePeriod>(); }
std::unique_ptr<CRegData> DialogMaker::RegData() const { return std::make_unique<CRegData>(*link_); }
std::unique_ptr<CSetClerkName> DialogMaker::ClerkName() const { return std::make_unique<CSetClerkName>(*link_); }
std::unique_ptr<CSetClerkPass> DialogMaker::ClerkPassword() const { return std::make_unique<CSetClerkPass>(*link_); }
std::unique_ptr<tcpIpConfig> DialogMaker::TcpIp() const { return std::make_unique<tcpIpConfig>(*link_); }
std::unique_ptr<CSetConnPar> DialogMaker::ConnectionParameters() const { return std::make_unique<CSetConnPar>(*link_); }
std::unique_ptr<CSetCounter> DialogMaker::Counters() const { return std::make_unique<CSetCounter>(); }
std::unique_ptr<CenterPrice> DialogMaker::TestSalePrice() const { return std::make_unique<CenterPrice>(); }
std::unique_ptr<CSetTaxRates> DialogMaker::TaxRates() const { return std::make_unique<CSetTaxRates>(*link_); }
std::unique_ptr<KlenPrintDlg> DialogMaker::Journal() const { return std::make_unique<KlenPrintDlg>(*link_); }
std::unique_ptr<CDevCodeTbl> DialogMaker::CodeTable() const { return std::make_unique<CDevCodeTbl>(*link_); }
std::unique_ptr<CLoadLogo> DialogMaker::Logo() const { return std::make_unique<CLoadLogo>(*link_, state_->logoLimits); }
std::unique_ptr<CDiagnosisDlg> DialogMaker::Diagnosis(diagnosis::Report report, std::string note) const {
  return std::make_unique<CDiagnosisDlg>(std::move(report), std::move(note));
}

std::vector<DialogEntry> DialogCatalogue(AppState &state, ILink &link) {
  const DialogMaker m(state, link);
  return {
      {"fiscal_check", [m] { return m.FiscalCheck(); }},
      {"fiscalization", [m] { return m.Fiscalization(); }},
      {"set_header_footer", [m] { return m.HeaderFooter(); }},
      {"set_sn", [m] { return m.SerialNumber(); }},
      {"business_data", [m] { return m.BusinessData(); }},
      {"date_period", [m] { return m.DatePeriod(); }},
      {"reg_data", [m] { return m.RegData(); }},
      {"set_clerk_name", [m] { return m.ClerkName(); }},
      {"set_clerk_pass", [m] { return m.ClerkPassword(); }},
      {"tcp_ip_config", [m] { return m.TcpIp(); }},
      {"set_conn_par", [m] { return m.ConnectionParameters(); }},
      {"set_counter", [m] { return m.Counters(); }},
      {"enter_price", [m] { return m.TestSalePrice(); }},
      {"set_tax_rates", [m] { return m.TaxRates(); }},
      {"klen_print_dlg", [m] { return m.Journal(); }},
      {"dev_code_tbl", [m] { return m.CodeTable(); }},
      {"load_logo", [m] { return m.Logo(); }},
      {"diagnosis", [m] { return m.Diagnosis({}); }},
  };
}

}  // namespace tillwright
