#include "test_support.h"

#include <cstring>

namespace seriallink::testing {

Frame MakeFrame(const CCommDlg &dlg, uint16_t code, std::string_view data) {
  Frame f;
  std::memcpy(&f.bytes[4], data.data(), data.size());
  dlg.MakeHeader(f.bytes.data(), code, 4 + data.size());
  f.length = 4 + data.size() + CCommDlg::AddTrailer(f.bytes.data(), 4 + data.size());
  return f;
}

fiscalsim::Bytes ToBytes(const Frame &frame) { return {frame.bytes.begin(), frame.bytes.begin() + frame.length}; }

}  // namespace seriallink::testing
