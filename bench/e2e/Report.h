// The benchmark's one table: the machine facts and every figure, printed as text and written as
// JSON. Not thread-safe; filled by the host thread.
#pragma once

#include <string>
#include <vector>

namespace orvex {
namespace bench {

struct Row {
  std::string section;  // e.g. "1 range"
  std::string figure;   // what was measured
  double value = 0;
  std::string unit;
  std::string goal;    // e.g. ">= 0.90"; empty when the figure has none
  int met = -1;        // -1: no goal, 0: missed, 1: met
  bool check = false;  // a correctness check (nothing lost, all in order), not a speed goal
};

class Report {
 public:
  // Reads the machine facts (cores, CPU, kernel, load, build type, compiler).
  Report();

  void add(Row row);
  // A figure with a goal: `met` tells whether it was reached.
  void add(const std::string& section, const std::string& figure, double value,
           const std::string& unit, const std::string& goal, bool met);
  void add(const std::string& section, const std::string& figure, double value,
           const std::string& unit);
  // A correctness figure: `ok` false means the run lost or misplaced something.
  void check(const std::string& section, const std::string& figure, double value,
             const std::string& unit, const std::string& goal, bool ok);
  // A line printed under the table and kept in the JSON ("notes").
  void note(const std::string& text);
  void setCommand(const std::string& command) { command_ = command; }
  // Figures of Google Benchmark's JSON output (--benchmark_format=json); false when the file
  // cannot be read.
  bool addMicro(const std::string& path, std::string& error);

  std::string table() const;
  std::string json() const;
  // Speed goals missed, and correctness checks failed.
  bool anyGoalMissed() const;
  bool anyCheckFailed() const;

 private:
  struct Fact {
    std::string name;
    std::string value;
  };
  std::vector<Fact> facts_;
  std::vector<Row> rows_;
  std::vector<std::string> notes_;
  std::string command_;
};

}  // namespace bench
}  // namespace orvex
