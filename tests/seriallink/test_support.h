// What the engine's tests share: a device played by hand on a pseudo-terminal, frames made the
// engine's way, and the receive thread's CPU time.
#pragma once

#include <array>
#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "fiscalsim/frame_codec.h"
#include "seriallink/comm_dlg.h"
#include "seriallink/frame.h"

namespace seriallink::testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The master side of a pseudo-terminal; the engine opens Path(). For what the simulator will
// not do: answer with another command code, leave out the status, send bytes unasked.
class RawDevice {
 public:
  RawDevice();
  ~RawDevice();
  RawDevice(const RawDevice &) = delete;
  RawDevice &operator=(const RawDevice &) = delete;

  const std::string &Path() const { return path_; }

  // The next request frame, good or bad; nothing when none came in time.
  std::optional<fiscalsim::ReceivedFrame> NextFrame(std::chrono::milliseconds timeout = 5s);
  void Send(const fiscalsim::Bytes &bytes);
  // A reply to `frame` with the given data and status, its SEQ and CMD as given.
  void Reply(uint8_t seq, uint8_t cmd, std::string_view data,
             const fiscalsim::StatusBytes &status = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80});

 private:
  int master_ = -1;
  int slave_ = -1;  // held so that the master never sees a hang-up between hosts
  std::string path_;
  fiscalsim::RequestParser parser_;
  std::deque<fiscalsim::ReceivedFrame> frames_;
};

struct Frame {
  std::array<uint8_t, kMaxFrame> bytes{};
  size_t length = 0;
};

// MakeHeader and AddTrailer around the data, as every command does.
Frame MakeFrame(const CCommDlg &dlg, uint16_t code, std::string_view data);

fiscalsim::Bytes ToBytes(const Frame &frame);

// Clock ticks the receive thread has used; -1 when there is no receive thread.
long ReaderCpuTicks();

}  // namespace seriallink::testing
