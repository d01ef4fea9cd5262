// The control port's journal and rule exchange without a server: the ring
// drops its oldest entries, reads filter and limit, a clear keeps seq
// counting, secrets are masked unless the trace is full; rules the loop
// took keep their uses when the list changes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "config/inject_rules.h"
#include "protocol/command_catalog.h"
#include "protocol/frame_scan.h"
#include "server/control_exchange.h"
#include "server/request_journal.h"

namespace palisim {
namespace {

// A request as the loop records it, with the fields the dispatcher cut.
void add(RequestJournal& journal, const std::string& request, const std::string& reply) {
  const std::string bytes = request + "\r";
  Fields fields;
  RequestRecord record;
  record.command = command_row(request.substr(1, 2));
  record.request = std::string_view(bytes).substr(0, request.size());
  FrameScan(bytes, 0, static_cast<int32_t>(bytes.size())).next(fields);
  record.fields = &fields;
  record.reply = reply;
  journal.on_request(record);
}

std::vector<uint64_t> seqs(const RequestJournal& journal, const JournalQuery& query) {
  std::vector<JournalEntry> entries;
  uint64_t recorded = 0, dropped = 0;
  journal.read(query, entries, recorded, dropped);
  std::vector<uint64_t> out;
  for (const JournalEntry& e : entries)
    out.push_back(e.seq);
  return out;
}

TEST(RequestJournal, KeepsTheNewestFilteredAndLimited) {
  RequestJournal journal(3, true);
  for (const char* request : {"<00#a#>", "<31#x#>", "<00#b#>", "<00#c#>", "<31#y#>"})
    add(journal, request, "<00#000035#>\r\n");
  std::vector<JournalEntry> entries;
  uint64_t recorded = 0, dropped = 0;
  journal.read({}, entries, recorded, dropped);
  EXPECT_EQ(recorded, 5u);
  EXPECT_EQ(dropped, 2u);
  EXPECT_EQ(entries.back().reply_text(), "<00#000035#>");
  const struct {
    JournalQuery query;
    std::vector<uint64_t> seqs;
  } cases[] = {
      {{}, {3, 4, 5}},
      {{.command = command_row("00")}, {3, 4}},
      {{.limit = 2}, {4, 5}},
      {{.after = 4}, {5}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(seqs(journal, c.query), c.seqs);
  journal.clear();
  EXPECT_TRUE(seqs(journal, {}).empty());
  add(journal, "<00#d#>", "");
  EXPECT_EQ(seqs(journal, {}), std::vector<uint64_t>{6});
}

// A clear PIN is masked as written, an account number alone as read: a reader sees the same.
TEST(RequestJournal, MasksSecretsUnlessFull) {
  const std::pair<const char*, const char*> cases[] = {
      {"<30#1PUNE000#975318642086#401234567890#>", "<30#1PUNE000#************#401234**7890#>"},
      {"<31#1#K#K#PB#401234567890#>", "<31#1#K#K#PB#401234**7890#>"},
      // No form has seven fields: any of them may be a secret.
      {"<31#1#K#K#PB#401234567890#7#>", "<31#*#*#*#**#************#*#>"},
  };
  for (bool masked : {true, false}) {
    RequestJournal journal(8, masked);
    for (const auto& c : cases)
      add(journal, c.first, "<40#00#>");
    std::vector<JournalEntry> entries;
    uint64_t recorded = 0, dropped = 0;
    journal.read({}, entries, recorded, dropped);
    ASSERT_EQ(entries.size(), std::size(cases));
    for (size_t i = 0; i < entries.size(); ++i)
      EXPECT_EQ(entries[i].request_text(), masked ? cases[i].second : cases[i].first);
  }
}

// Texts of every length come back as written, the short ones moved apart
// from the long ones.
TEST(RequestJournal, KeepsTextsOfEveryLength) {
  std::string text;
  for (int i = 0; i < 48; ++i)
    text += static_cast<char>('A' + i % 26);
  RequestJournal journal(64, false);
  for (size_t len = 0; len <= text.size(); ++len) {
    RequestRecord record;
    record.request = std::string_view(text).substr(0, len);
    record.reply = std::string_view(text).substr(text.size() - len);
    journal.on_request(record);
  }
  std::vector<JournalEntry> entries;
  uint64_t recorded = 0, dropped = 0;
  journal.read({.limit = SIZE_MAX}, entries, recorded, dropped);
  ASSERT_EQ(entries.size(), text.size() + 1);
  for (size_t len = 0; len < entries.size(); ++len) {
    EXPECT_EQ(entries[len].request_text(), text.substr(0, len));
    EXPECT_EQ(entries[len].reply_text(), text.substr(text.size() - len));
  }
}

// The loop writes while the control thread reads: every entry a read returns
// is whole, its texts those of its own seq, however often the writer reuses
// memory meanwhile. The journal is small, so reads of all it holds reach the
// memory the writer reuses next.
TEST(RequestJournal, ReadsWhileItIsWrittenGiveOnlyWholeEntries) {
  RequestJournal journal(100, true);
  constexpr int kEntries = 1000000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= kEntries; ++i) {
      const std::string n = std::to_string(i);
      add(journal, "<00#" + n + std::string(static_cast<size_t>(i % 300), 'x') + "#>", "<00#" + n);
    }
    done = true;
  });
  size_t entries_seen = 0;
  std::vector<JournalEntry> entries;
  while (!done) {
    uint64_t recorded = 0, dropped = 0;
    journal.read({.limit = SIZE_MAX}, entries, recorded, dropped);
    for (const JournalEntry& e : entries) {
      const std::string n = std::to_string(e.seq);
      ASSERT_EQ(e.reply_text(), "<00#" + n);
      ASSERT_EQ(e.request_text(), "<00#" + n + std::string(e.seq % 300, 'x') + "#>");
    }
    entries_seen += entries.size();
  }
  writer.join();
  EXPECT_GT(entries_seen, 0u);
}

TEST(ControlExchange, TakenRulesKeepTheirUsesAcrossChanges) {
  ControlExchange exchange;
  InjectRule close_twice;
  close_twice.close = true;
  close_twice.times = 2;
  ListedRule first, second;
  ASSERT_TRUE(exchange.add(close_twice, first));
  ControlRules loop;
  exchange.take(loop);
  ASSERT_EQ(loop.count, 1);
  --loop.uses[0].remaining;
  ++loop.uses[0].matched;
  ASSERT_TRUE(exchange.add(close_twice, second));
  exchange.take(loop);
  ASSERT_EQ(loop.count, 2);
  EXPECT_EQ(loop.uses[0].remaining, 1);
  EXPECT_EQ(loop.uses[1].remaining, 2);
  exchange.publish(loop, {}, 0);
  EXPECT_TRUE(exchange.remove(first.number));
  EXPECT_FALSE(exchange.remove(first.number));
  std::vector<ListedRule> listed = exchange.list();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].number, second.number);
  exchange.take(loop);
  EXPECT_EQ(loop.count, 1);
}

}  // namespace
}  // namespace palisim
