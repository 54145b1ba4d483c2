#include "test_support.h"

#include "seriallink/settings.h"

namespace tallyport::testing {

void SimulatorTest::SetUp() {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  sim_ = std::make_unique<fiscalsim::Simulator>(fiscal_test::OpenSimLink());
  sim_->Start();
  seriallink::SetFlavour(seriallink::Flavour::Pos());
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 115200, 8, 0, 0), 0);
}

void SimulatorTest::TearDown() {
  if (sim_ == nullptr) return;
  Disconnect();
  sim_->Stop();
}

std::vector<fiscalsim::JournalEntry> SimulatorTest::Frames() {
  auto entries = sim_->ReceivedFrames().Entries();
  sim_->ReceivedFrames().Clear();
  return entries;
}

void SimulatorTest::Answer(uint8_t code, std::string data) {
  sim_->WithModel([&](fiscalsim::DeviceModel &m) {
    m.Register(code, [data](fiscalsim::DeviceModel &, std::string_view) { return fiscalsim::Answer::Ok(data); });
  });
}

}  // namespace tallyport::testing
