// The connection object: the port parameters, the sequence number, and the status of the last
// reply. At most one exists per process (see link.h); it uses the process-wide port of port.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framecodec/frame.h"
#include "seriallink/rcv_block.h"
#include "seriallink/settings.h"

namespace seriallink {

class CCommDlg {
 public:
  CCommDlg(std::string portName, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits);
  // Closes the port.
  ~CCommDlg();
  CCommDlg(const CCommDlg &) = delete;
  CCommDlg &operator=(const CCommDlg &) = delete;

  // OpenPort with this object's parameters.
  int Open();
  // Opens the port again, by its name and with this object's parameters, when it never opened
  // or has failed since (the device vanished and may be back under the same name); 0 when it
  // is open and well, else OpenPort's error. Tries once and waits for nothing.
  int Reopen();

  // Writes offsets 0..3 with this object's sequence number. `position` is where the data ends
  // (4 + n), so LEN = position + 0x20, kept to one byte.
  void MakeHeader(uint8_t *buffer, uint16_t code, size_t position) const;
  // Writes the 05, the four check bytes over offsets 1..position and the 03 from `position` on;
  // returns 6, the bytes added. The buffer must hold position + 6 bytes.
  static size_t AddTrailer(uint8_t *buffer, size_t position);

  // Sends the frame and waits for its reply, `timeout` each time. Returns 0 with the reply in
  // `reply`, 10003 when five waits ran out, or 10005 after five NAKs and mismatched replies
  // (time-outs, NAKs and mismatches share one count). Writes the frame at most five times.
  //
  // The sequence number moves on only when a matching reply came, or when the count ran out on
  // a mismatch: the device then has taken the number, and a NAK says it has not.
  // A frame shorter than a frame can be is refused with 10006 and not sent. An abort of the
  // received blocks (Disconnect) ends the wait at once with 10003, and while it lasts nothing is
  // written. A failure of the port under the receive thread ends the wait with 10003 too.
  int Transact(const uint8_t *frame, size_t length, Millis timeout, RCVBLOCK &reply);

  // 0 when the reply holds a status separator with six status bytes after it inside the frame:
  // the status text becomes their twelve hex digits (bit 7 of each cleared). 1 otherwise, with
  // status text and flag left as they were.
  int ParseStatus(const RCVBLOCK &block);
  // The bytes from offset 4 up to the status separator; empty when there is none.
  static std::string GetReplyData(const RCVBLOCK &block);

  uint8_t Sequence() const { return sequence_; }
  const std::string &StatusText() const { return statusText_; }
  // Cleared by every Transact, set by a matching reply.
  bool StatusValid() const { return statusValid_; }

  // Kept for the caller; the engine sends nothing there.
  void SetHwnd4Message(int32_t window) { window_ = window; }
  int32_t Hwnd4Message() const { return window_; }

 private:
  void AdvanceSequence();

  uint8_t sequence_ = framecodec::kFirstSequence;
  std::string portName_;
  uint32_t baudRate_;
  uint16_t dataBits_;
  uint16_t parity_;
  uint16_t stopBits_;
  int32_t window_ = -1;
  std::string statusText_;
  bool statusValid_ = false;
};

}  // namespace seriallink
