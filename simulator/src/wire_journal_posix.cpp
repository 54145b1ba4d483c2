#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "append_file_posix.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/wire_journal.h"
#include "platform/trace.h"

namespace fiscalsim {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

std::string Timestamp(std::chrono::system_clock::time_point time) {
  const auto millis = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(millis / 1000 - (millis % 1000 < 0 ? 1 : 0));
  const int rest = static_cast<int>(((millis % 1000) + 1000) % 1000);
  tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];  // room for any int the compiler must assume
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, rest);
  return text;
}

void AppendText(std::string &out, std::span<const uint8_t> bytes) {
  for (const uint8_t c : bytes) {
    if (c < 0x20 || c >= 0x7F) {
      out += "\\u00";
      out += kDigits[c >> 4];
      out += kDigits[c & 0x0F];
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out += static_cast<char>(c);
    }
  }
}

void AppendHex(std::string &out, std::span<const uint8_t> bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
}

// Whether the frame's 01, LEN, 04, 05 and 03 stand where a whole frame has them; a frame cut
// short or garbled shows as its bytes alone.
bool WholeFrame(std::span<const uint8_t> b, bool reply) {
  const size_t overhead = reply ? kReplyOverhead : kRequestOverhead;
  const uint8_t lenBase = reply ? kReplyLenBase : kRequestLenBase;
  if (b.size() < overhead || b.size() - overhead > static_cast<size_t>(0xFF - lenBase)) return false;
  if (b[0] != kFrameStart || b.back() != kFrameEnd || b[b.size() - 6] != kDataEnd) return false;
  if (b[1] != lenBase + (b.size() - overhead)) return false;
  return !reply || b[b.size() - 13] == kStatusStart;
}

}  // namespace

std::string WireJournalLine(std::chrono::system_clock::time_point time, bool received, std::span<const uint8_t> bytes) {
  std::string line = "{\"time\":\"" + Timestamp(time) + "\",\"dir\":\"" + (received ? "in" : "out") +
                     "\",\"bytes\":\"" + platform::MaskedFrameHex(bytes.data(), bytes.size()) + "\"";
  if (bytes.size() == 1 && (bytes[0] == kNak || bytes[0] == kBusy)) {
    line += bytes[0] == kNak ? ",\"control\":\"NAK\"" : ",\"control\":\"busy\"";
  } else if (WholeFrame(bytes, !received)) {
    const size_t dataEnd = bytes.size() - (received ? 6 : 13);
    const std::span<const uint8_t> data = bytes.subspan(4, dataEnd - 4);
    line += ",\"seq\":" + std::to_string(bytes[2]) + ",\"cmd\":" + std::to_string(bytes[3]) + ",\"data\":\"";
    if (platform::CommandCarriesSecret(bytes[3]) && !data.empty()) {
      line += "[" + std::to_string(data.size()) + " bytes masked]";
    } else {
      AppendText(line, data);
    }
    line += '"';
    if (!received) {
      line += ",\"status\":\"";
      AppendHex(line, bytes.subspan(dataEnd + 1, 6));
      line += '"';
    }
  }
  return line + "}";
}

std::unique_ptr<WireJournal> WireJournal::Open(const std::string &path, std::string *error) {
  const int fd = OpenAppendFile(path, error);
  if (fd < 0) return nullptr;
  return std::unique_ptr<WireJournal>(new WireJournal(fd, path));
}

WireJournal::~WireJournal() { ::close(fd_); }

void WireJournal::Record(bool received, std::span<const uint8_t> bytes) {
  const std::string line = WireJournalLine(std::chrono::system_clock::now(), received, bytes) + "\n";
  ssize_t n;
  do {
    n = ::write(fd_, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(line.size())) return;
  const int error = n < 0 ? errno : ENOSPC;  // a short write to a file is a full disk
  if (!failed_.exchange(true)) {
    std::fprintf(stderr, "fiscal-sim: cannot write the journal %s: %s\n", path_.c_str(), std::strerror(error));
  }
}

}  // namespace fiscalsim
