#include "test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "seriallink/settings.h"

namespace tallyport::testing {

SimulatorTest::SimulatorTest() : sim_(std::make_unique<fiscalsim::Simulator>(fiscalsim::OpenPtyLink())) {
  sim_->Start();
  seriallink::SetFlavour(seriallink::Flavour::Pos());
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 115200, 8, 0, 0), 0);
}

SimulatorTest::~SimulatorTest() {
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

PrivateComDir::PrivateComDir() {
  char pattern[] = "/tmp/tallyport-com-XXXXXX";
  const char *dir = ::mkdtemp(pattern);
  EXPECT_NE(dir, nullptr);
  path_ = dir ? dir : "";
  ::setenv("FISCAL_COM_DIR", path_.c_str(), 1);
}

PrivateComDir::~PrivateComDir() {
  ::unsetenv("FISCAL_COM_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace tallyport::testing
