#include "bench_common.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "fiscalsim/frame_codec.h"

namespace bench {

Stats Summarise(std::vector<double> samples) {
  Stats s;
  s.count = samples.size();
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  const size_t n = samples.size();
  s.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  // Nearest rank: the smallest sample that at least 99% of the samples do not exceed.
  const size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n)));
  s.p99 = samples[std::max<size_t>(rank, 1) - 1];
  return s;
}

double WireTimeUs(size_t bytes, uint32_t baud) {
  return baud == 0 ? 0 : static_cast<double>(bytes) * 10.0 * 1e6 / static_cast<double>(baud);
}

bool RawRoundTrip(platform::SerialPort &port, std::span<const uint8_t> request, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  if (port.Write(request.data(), request.size(), timeout) != request.size()) return false;
  const auto deadline = Clock::now() + timeout;
  fiscalsim::ReplyReader reader;
  std::vector<fiscalsim::ReplyReader::Event> events;
  uint8_t buffer[1024];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || port.WaitReadable(left) != platform::WaitResult::Readable) return false;
    const ptrdiff_t n = port.Read(buffer, sizeof buffer);
    if (n < 0) return false;
    reader.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), events);
    for (const auto &e : events) {
      if (e.kind == fiscalsim::ReplyReader::Kind::Frame) return true;
    }
    events.clear();
  }
}

void PrintRow(std::string_view name, const Stats &s, const Stats *floor, double wireUs) {
  std::string line = std::string(name);
  line.resize(std::max<size_t>(line.size(), 34), ' ');
  char buf[200];
  std::snprintf(buf, sizeof buf, "  median %9.1f us  p99 %9.1f us  (n=%zu)", s.median, s.p99, s.count);
  line += buf;
  if (floor != nullptr && floor->median > 0) {
    std::snprintf(buf, sizeof buf, "  floor %+8.1f us  x%.2f", s.median - floor->median, s.median / floor->median);
    line += buf;
  }
  if (wireUs > 0) {
    std::snprintf(buf, sizeof buf, "  wire x%.3f", s.median / wireUs);
    line += buf;
  }
  std::puts(line.c_str());
}

}  // namespace bench
