// What every benchmark of the suite shares: timing, medians and percentiles, the wire time of
// a paced line, and the raw floor that host code is measured against.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"

namespace bench {

struct Stats {
  double median = 0;  // microseconds
  double p99 = 0;     // microseconds
  size_t count = 0;
};

Stats Summarise(std::vector<double> samplesUs);

// Microseconds a line of `baud` takes for `bytes` bytes at 10 bits each (start, 8 data, stop).
double WireTimeUs(size_t bytes, uint32_t baud);

// Runs fn `warmup` times unmeasured, then `rounds` times, returning each duration in µs.
template <typename Fn>
std::vector<double> Time(int rounds, int warmup, Fn &&fn) {
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < warmup; ++i) fn();
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    fn();
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return samples;
}

// One round trip with nothing between the caller and the port: the request written, the reply
// read until its frame is complete (NAK and busy bytes are skipped). False when no whole reply
// came within the time-out.
bool RawRoundTrip(platform::SerialPort &port, std::span<const uint8_t> request,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Prints "<name>  median … µs  p99 … µs", then, when given, the distance from the floor and the
// ratio to the wire time.
void PrintRow(std::string_view name, const Stats &stats, const Stats *floor = nullptr, double wireUs = 0);

}  // namespace bench
