#include "seriallink/link.h"

#include <array>
#include <cstring>
#include <memory>

#include "platform/mutex.h"
#include "seriallink/comm_dlg.h"
#include "seriallink/frame.h"
#include "seriallink/port.h"

namespace seriallink {
namespace {

struct Connection {
  // The object's destructor closes the process-wide port, so the port's state is made first
  // and therefore destroyed after this at process end.
  Connection() { Blocks(); }

  // Held by Connect, by a command for its whole exchange, and by Disconnect's teardown; so
  // Disconnect aborts the command in flight before it waits for this.
  platform::Mutex mutex;
  std::unique_ptr<CCommDlg> dlg GUARDED_BY(mutex);

  // Disconnects under way: while there is one, the received blocks stay aborted, so that no
  // command holds the link against it. Never held together with `mutex`.
  platform::Mutex closingMutex;
  int closing GUARDED_BY(closingMutex) = 0;
};

Connection &TheConnection() {
  static Connection connection;
  return connection;
}

Reply RunLocked(Connection &c, uint16_t code, std::string_view data) REQUIRES(c.mutex) {
  // A command that got the link while a Disconnect waits for it finds the connection gone.
  if (!c.dlg || Blocks().Aborted()) return {kNotConnected, {}};
  if (data.size() > kMaxData) return {kBadParameter, {}};
  // A device that vanished may be back under the same name (a USB serial device plugged in
  // again), and one that was missing at Connect may have come since: each command tries the
  // port once, without waiting, instead of sending into a port that can no longer answer.
  if (c.dlg->Reopen() != 0) return {kNoResponse, {}};
  std::array<uint8_t, kMaxFrame> frame{};
  std::memcpy(&frame[framecodec::kDataOffset], data.data(), data.size());
  const size_t position = framecodec::kDataOffset + data.size();
  c.dlg->MakeHeader(frame.data(), code, position);
  const size_t length = position + CCommDlg::AddTrailer(frame.data(), position);
  RCVBLOCK block;
  if (const int result = c.dlg->Transact(frame.data(), length, CurrentFlavour().replyTimeout, block); result != 0) {
    return {result, {}};
  }
  if (c.dlg->ParseStatus(block) != 0) return {kBadAnswer, {}};
  return {kSuccess, CCommDlg::GetReplyData(block)};
}

std::optional<std::string> StatusLocked(const Connection &c) REQUIRES(c.mutex) {
  if (!c.dlg) return std::nullopt;
  return c.dlg->StatusValid() ? c.dlg->StatusText() : std::string();
}

}  // namespace

int Connect(std::string_view port, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits) {
  Connection &c = TheConnection();
  platform::MutexLock lock(c.mutex);
  if (c.dlg) return kAlreadyConnected;
  c.dlg = std::make_unique<CCommDlg>(std::string(port), baudRate, dataBits, parity, stopBits);
  return c.dlg->Open() == 0 ? kSuccess : kAlreadyConnected;
}

int Disconnect() {
  Connection &c = TheConnection();
  // Stop new commands and end the one in flight first: a device that keeps answering "busy"
  // would otherwise hold the link, and this call, for as long as it likes.
  {
    platform::MutexLock lock(c.closingMutex);
    if (c.closing++ == 0) Blocks().Abort();
  }
  {
    platform::MutexLock lock(c.mutex);
    c.dlg.reset();
  }
  {
    platform::MutexLock lock(c.closingMutex);
    if (--c.closing == 0) Blocks().EndAbort();
  }
  return kSuccess;
}

bool IsConnected() {
  Connection &c = TheConnection();
  platform::MutexLock lock(c.mutex);
  return c.dlg != nullptr;
}

int SetHwnd4Message(int32_t window) {
  Connection &c = TheConnection();
  platform::MutexLock lock(c.mutex);
  if (!c.dlg) return kNotConnected;
  c.dlg->SetHwnd4Message(window);
  return kSuccess;
}

std::optional<std::string> GetStatus() {
  Connection &c = TheConnection();
  platform::MutexLock lock(c.mutex);
  return StatusLocked(c);
}

Reply RunCommand(uint16_t code, std::string_view data) {
  Connection &c = TheConnection();
  platform::MutexLock lock(c.mutex);
  return RunLocked(c, code, data);
}

CommandResult Command(uint16_t code, std::string_view data) {
  Connection &c = TheConnection();
  platform::MutexLock lock(c.mutex);
  Reply reply = RunLocked(c, code, data);
  CommandResult result;
  result.code = reply.code;
  result.reply = std::move(reply.data);
  result.status = StatusLocked(c).value_or(std::string());
  result.error = ErrorText(result.code);
  return result;
}

}  // namespace seriallink
