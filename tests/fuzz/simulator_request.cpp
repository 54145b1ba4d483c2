// The simulator's request parser on arbitrary host bytes, and its device model running every
// frame that comes out, whatever the frame's check says: the model must stand any data in any
// order and keep its state whole. The paper roll lays out what the model took: its lines stay
// within the paper and are UTF-8.
//
// Input: byte 0 says where the rest is split into two reads; the rest is what the host sent.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "fiscalsim/device_model.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/paper_roll.h"

namespace {

using namespace fiscalsim;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckFrame(const ReceivedFrame &frame) {
  const Bytes &raw = frame.raw;
  Require(raw.size() >= kRequestOverhead && raw[0] == kFrameStart);
  Require(raw[1] >= kRequestLenBase && raw.size() == size_t{raw[1]} - kRequestLenBase + kRequestOverhead);
  Require(frame.seq == raw[2] && frame.cmd == raw[3] && frame.data.size() == raw.size() - kRequestOverhead);
  // A good frame is exactly what a host builds from its fields.
  if (frame.good) Require(BuildRequest(frame.seq, frame.cmd, frame.data) == raw);
}

void CheckAnswer(const ReceivedFrame &frame, const Answer &answer) {
  Require(answer.data.size() <= kMaxReplyData);
  for (uint8_t s : answer.status) Require((s & status::kAlwaysSet) != 0);
  const Bytes reply = BuildReply(frame.seq, frame.cmd, answer.data, answer.status);
  const std::optional<ParsedReply> parsed = ParseReply(reply);
  Require(parsed && parsed->checkOk && parsed->data == answer.data && parsed->status == answer.status);
}

void CheckState(const DeviceState &s) {
  const Receipt &r = s.receipt;
  if (r.kind == Receipt::Kind::None) {
    Require(r.items == 0 && r.totalCents == 0 && r.paidCents == 0 && !r.paying && r.byGroup.empty());
  }
  if (r.paying) Require(r.kind == Receipt::Kind::Fiscal);
  // Sales are refused before a receipt's sums pass what an amount field holds.
  constexpr int64_t kMaxCents = 99'999'999'999'999;
  Require(r.totalCents >= -kMaxCents && r.totalCents <= kMaxCents);
  for (const auto &[group, cents] : r.byGroup) Require(cents >= -kMaxCents && cents <= kMaxCents);
  Require(s.fiscalReceipts <= s.receipts);
  for (const std::string &line : s.headerLines) Require(line.size() <= kHeaderLineMax);
  for (const auto &rate : s.taxRates) Require(!rate || (*rate >= 0 && *rate <= 9999));
  for (const auto &[number, article] : s.articles) {
    Require(number != 0 && article.group >= 'A' && article.group <= 'Z' && article.priceCents >= 0);
  }
  for (const auto &[row, pixels] : s.logoRows) Require(row <= 95 && pixels.size() % 2 == 0);
}

// Well-formed UTF-8 of at most kPaperWidth characters.
void CheckLine(const std::string &line) {
  size_t characters = 0;
  for (size_t i = 0; i < line.size(); ++characters) {
    const auto lead = static_cast<uint8_t>(line[i]);
    const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
    Require(length != 0 && i + length <= line.size());
    for (size_t k = 1; k < length; ++k) Require((static_cast<uint8_t>(line[i + k]) & 0xC0) == 0x80);
    i += length;
  }
  Require(characters <= kPaperWidth);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  const size_t split = std::min<size_t>(data[0], bytes.size());

  // A fixed clock and a fixed arrival time: the same input always runs the same way.
  const auto epoch = std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000));
  DeviceModel model([epoch] { return epoch; });
  RequestParser parser;
  const RequestParser::Clock::time_point now{};
  std::vector<ReceivedFrame> frames;
  parser.Feed(bytes.first(split), now, frames);
  parser.Feed(bytes.subspan(split), now, frames);

  PaperRoll roll([](const std::vector<PrintedDocument> &documents) {
    for (const std::string &line : documents.back().lines) CheckLine(line);
  });
  for (const ReceivedFrame &frame : frames) {
    CheckFrame(frame);
    roll.BeforeCommand(model, frame.cmd, frame.data);
    const Answer answer = model.Execute(frame.cmd, frame.data);
    roll.AfterCommand(model, frame.cmd, frame.data, answer);
    CheckAnswer(frame, answer);
    CheckState(model.State());
  }
  return 0;
}
