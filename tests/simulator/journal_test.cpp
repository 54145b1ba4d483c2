#include "fiscalsim/journal.h"

#include <gtest/gtest.h>

#include <thread>

#include "fiscalsim/byte_pipe.h"
#include "fiscalsim/simulator.h"

namespace fiscalsim {
namespace {

using namespace std::chrono_literals;

JournalEntry Frame(unsigned n) {
  JournalEntry e;
  e.seq = static_cast<uint8_t>(n);
  e.data = std::to_string(n);
  e.good = true;
  return e;
}

std::vector<std::string> DataOf(const Journal &journal) {
  std::vector<std::string> data;
  for (const JournalEntry &e : journal.Entries()) data.push_back(e.data);
  return data;
}

TEST(JournalTest, HoldsTheNewestFramesInOrderAndCountsEveryOne) {
  Journal journal(3);
  for (unsigned n = 0; n < 3; ++n) journal.Add(Frame(n));
  EXPECT_EQ(DataOf(journal), (std::vector<std::string>{"0", "1", "2"}));
  for (unsigned n = 3; n < 10; ++n) journal.Add(Frame(n));
  EXPECT_EQ(journal.Size(), 3u);
  EXPECT_EQ(journal.Total(), 10u);
  EXPECT_EQ(DataOf(journal), (std::vector<std::string>{"7", "8", "9"}));
  // The total, not the held count, is what a wait is for: a wait beyond the bound still ends.
  EXPECT_TRUE(journal.WaitForSize(10, 0ms));
  EXPECT_FALSE(journal.WaitForSize(11, 10ms));

  journal.Clear();
  EXPECT_EQ(journal.Size(), 0u);
  EXPECT_EQ(journal.Total(), 0u);
  EXPECT_FALSE(journal.WaitForSize(1, 0ms));
  journal.Add(Frame(42));
  EXPECT_EQ(DataOf(journal), std::vector<std::string>{"42"});
}

TEST(JournalTest, ManyFramesStayWithinTheDefaultBound) {
  Journal journal;
  EXPECT_EQ(journal.Capacity(), Journal::kDefaultCapacity);
  constexpr unsigned kFrames = 3 * Journal::kDefaultCapacity + 5;
  for (unsigned n = 0; n < kFrames; ++n) {
    journal.Add(Frame(n));
    ASSERT_LE(journal.Size(), Journal::kDefaultCapacity);
  }
  EXPECT_EQ(journal.Total(), kFrames);
  const std::vector<JournalEntry> held = journal.Entries();
  ASSERT_EQ(held.size(), Journal::kDefaultCapacity);
  EXPECT_EQ(held.front().data, std::to_string(kFrames - Journal::kDefaultCapacity));
  EXPECT_EQ(held.back().data, std::to_string(kFrames - 1));
}

TEST(JournalTest, ACapacityChangeTakesEffectAtOnce) {
  Journal journal(2);
  for (unsigned n = 0; n < 4; ++n) journal.Add(Frame(n));
  journal.SetCapacity(10);
  for (unsigned n = 4; n < 8; ++n) journal.Add(Frame(n));
  EXPECT_EQ(DataOf(journal), (std::vector<std::string>{"2", "3", "4", "5", "6", "7"}));
  journal.SetCapacity(1);
  EXPECT_EQ(DataOf(journal), std::vector<std::string>{"7"});
  journal.SetCapacity(0);  // counts only
  journal.Add(Frame(8));
  EXPECT_EQ(journal.Size(), 0u);
  EXPECT_EQ(journal.Total(), 9u);
}

TEST(JournalTest, AWaitEndsForFramesAddedOnAnotherThreadPastTheBound) {
  Journal journal(2);
  std::thread adder([&] {
    for (unsigned n = 0; n < 50; ++n) journal.Add(Frame(n));
  });
  EXPECT_TRUE(journal.WaitForSize(50, 10s));
  adder.join();
  EXPECT_EQ(DataOf(journal), (std::vector<std::string>{"48", "49"}));
}

TEST(JournalTest, TheSimulatorsJournalTakesTheCapacityOfItsOptions) {
  BytePipe pipe = MakeBytePipe();
  SimulatorOptions options;
  options.journalCapacity = 2;
  Simulator sim(std::move(pipe.device), options);
  sim.Start();
  Bytes requests;
  for (uint8_t seq = 0x20; seq < 0x25; ++seq) {
    const Bytes one = BuildRequest(seq, 0x2D, "");
    requests.insert(requests.end(), one.begin(), one.end());
  }
  ASSERT_TRUE(pipe.host.Write(requests));
  ASSERT_TRUE(sim.ReceivedFrames().WaitForSize(5, 10s));
  const std::vector<JournalEntry> held = sim.ReceivedFrames().Entries();
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(held[0].seq, 0x23);
  EXPECT_EQ(held[1].seq, 0x24);
  EXPECT_EQ(held[1].raw, BuildRequest(0x24, 0x2D, ""));
}

}  // namespace
}  // namespace fiscalsim
