#include "hqserver/DemoData.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

namespace orvex {
namespace hqserver {

namespace {

constexpr int64_t kSecond = 1'000'000'000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kDay = 24 * kHour;

// Session start and end within a day, UTC.
struct Session {
  int64_t begin;
  int64_t end;
};
constexpr Session kSessions[] = {{kHour + 30 * kMinute, 3 * kHour + 30 * kMinute},
                                 {5 * kHour, 7 * kHour}};
constexpr int64_t kSettlement = 8 * kHour;

// Prices are whole ticks; a tick is `tickTenths` tenths, so a price divided by ten is the nearest
// double to its decimal text and prints short.
struct Instrument {
  const char* target;
  int64_t basePriceTicks;
  int64_t tickTenths;

  double price(int64_t ticks) const { return static_cast<double>(ticks * tickTenths) / 10.0; }
};
// Ordered by target, as the store keeps them.
constexpr Instrument kInstruments[DemoData::kTargets] = {{"CFFEX.IF2409", 17500, 2},
                                                         {"DCE.m2409", 3400, 10},
                                                         {"SHFE.cu2409", 7800, 100},
                                                         {"SHFE.rb2410", 3600, 10}};

// splitmix64: a small, fast generator whose sequence is fixed by its seed.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  int64_t below(int64_t n) { return static_cast<int64_t>(next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

// One step of the price walk, pulled back once it strays 5% from the base price.
int64_t priceStep(Random& rng, int64_t priceTicks, int64_t baseTicks) {
  if (priceTicks > baseTicks + baseTicks / 20) return -rng.below(2);
  if (priceTicks < baseTicks - baseTicks / 20) return rng.below(2);
  return rng.below(3) - 1;
}

void appendNumber(std::string& out, int64_t n) {
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
  out.append(buf, end);
}

void appendNumber(std::string& out, double d) {
  char buf[32];
  auto end = std::to_chars(buf, buf + sizeof buf, d).ptr;
  out.append(buf, end);
}

// A one-minute bar being filled from ticks.
struct Bar {
  int64_t open = 0, high = 0, low = 0, close = 0, volume = 0;
  bool empty = true;

  void add(int64_t price, int64_t vol) {
    if (empty) open = high = low = price;
    high = std::max(high, price);
    low = std::min(low, price);
    close = price;
    volume += vol;
    empty = false;
  }
};

StoredRecord makeBar(const Bar& bar, int64_t minuteStart, int64_t mtm, const Instrument& inst) {
  std::string data;
  appendNumber(data, inst.price(bar.open));
  data += ',';
  appendNumber(data, inst.price(bar.high));
  data += ',';
  appendNumber(data, inst.price(bar.low));
  data += ',';
  appendNumber(data, bar.volume);
  return StoredRecord{TopicBody{minuteStart, inst.price(bar.close), std::move(data)}, mtm};
}

// Ticks and bars of one session; the price walk carries over from session to session.
void generateSession(const Instrument& inst, int64_t dayStart, const Session& session, Random& rng,
                     int64_t& priceTicks, int64_t& tickOfDay, std::vector<StoredRecord>& ticks,
                     std::vector<StoredRecord>& bars) {
  const int64_t settlement = dayStart + kSettlement;
  Bar bar;
  int64_t minuteStart = dayStart + session.begin;
  for (int64_t t = dayStart + session.begin; t < dayStart + session.end;
       t += DemoData::kTickStepNs) {
    if (t >= minuteStart + kMinute) {
      bars.push_back(makeBar(bar, minuteStart, minuteStart + kMinute + kSecond, inst));
      bar = Bar{};
      minuteStart += kMinute;
    }
    priceTicks += priceStep(rng, priceTicks, inst.basePriceTicks);
    const int64_t volume = 1 + rng.below(50);
    std::string data;
    appendNumber(data, volume);
    data += (rng.next() & 1) ? ",B" : ",S";
    int64_t mtm = t + 20'000'000 + rng.below(30) * 1'000'000;
    if (++tickOfDay % 997 == 0) mtm = settlement;
    ticks.push_back(StoredRecord{TopicBody{t, inst.price(priceTicks), std::move(data)}, mtm});
    bar.add(priceTicks, volume);
  }
  // The session's last bar is corrected at settlement.
  bars.push_back(makeBar(bar, minuteStart, settlement, inst));
}

}  // namespace

std::shared_ptr<const DataStore> DemoData::build() {
  auto store = std::make_shared<DataStore>();
  const int64_t ticksPerDay =
      (kSessions[0].end - kSessions[0].begin + kSessions[1].end - kSessions[1].begin) / kTickStepNs;
  for (int i = 0; i < kTargets; ++i) {
    const Instrument& inst = kInstruments[i];
    Random rng(0x5EED0000ULL + static_cast<uint64_t>(i));
    std::vector<StoredRecord> ticks, bars;
    ticks.reserve(static_cast<size_t>(ticksPerDay * kDays));
    bars.reserve(static_cast<size_t>(ticksPerDay * kDays * kTickStepNs / kMinute));
    int64_t priceTicks = inst.basePriceTicks;
    for (int day = 0; day < kDays; ++day) {
      const int64_t dayStart = kFirstDayUtcNs + day * kDay;
      int64_t tickOfDay = 0;
      for (const Session& session : kSessions) {
        generateSession(inst, dayStart, session, rng, priceTicks, tickOfDay, ticks, bars);
      }
    }
    store->addSeries(inst.target, "tick", std::move(ticks));
    store->addSeries(inst.target, "kline1m", std::move(bars));
  }
  store->seal();
  return store;
}

}  // namespace hqserver
}  // namespace orvex
