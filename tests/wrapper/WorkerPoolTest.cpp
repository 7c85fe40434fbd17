// The worker pools behind the wrapper: which pool runs a task, in what order, and what happens
// to tasks that no pool takes.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "HistoryWrapperTestPeer.h"

namespace marketdata {
namespace {

// What the tasks did, in the order they ran.
struct RunLog {
  struct Run {
    std::string key;
    int seq;
    std::thread::id thread;
  };
  std::mutex mutex;
  std::vector<Run> runs;
};

class RecordingTask : public orvex::IQuoteTask {
 public:
  RecordingTask(RunLog& log, std::string key, int seq)
      : log_(log), key_(std::move(key)), seq_(seq) {}
  void run() override {
    std::lock_guard<std::mutex> lock(log_.mutex);
    log_.runs.push_back({key_, seq_, std::this_thread::get_id()});
  }

 private:
  RunLog& log_;
  std::string key_;
  int seq_;
};

class WorkerPoolTest : public ::testing::Test {
 protected:
  void push(const std::string& key, int seq) {
    HistoryWrapperTestPeer::pushTask(wrapper, key, std::make_shared<RecordingTask>(log, key, seq));
  }

  RunLog log;
  HistoryWrapper wrapper;
};

TEST_F(WorkerPoolTest, TasksOfOneKeyRunInOrderOnOnePoolThread) {
  ASSERT_EQ(wrapper.init(3).code, orvex::OK);
  const std::vector<std::string> keys = {"a@k", "b@k", "c@k", "a@j"};
  constexpr int kPerKey = 300;
  for (int seq = 0; seq < kPerKey; ++seq) {
    for (const std::string& key : keys) push(key, seq);
  }
  wrapper.release();  // runs every queued task before returning

  std::map<std::string, std::vector<int>> seqs;
  std::map<std::string, std::set<std::thread::id>> threads;
  for (const RunLog::Run& run : log.runs) {
    seqs[run.key].push_back(run.seq);
    threads[run.key].insert(run.thread);
    EXPECT_NE(run.thread, std::this_thread::get_id());
  }
  for (const std::string& key : keys) {
    ASSERT_EQ(seqs[key].size(), static_cast<size_t>(kPerKey)) << key;
    for (int seq = 0; seq < kPerKey; ++seq) EXPECT_EQ(seqs[key][seq], seq) << key;
    EXPECT_EQ(threads[key].size(), 1u) << key;
  }
}

TEST_F(WorkerPoolTest, InitMakesAsManyStartedPoolsAsAskedFor) {
  ASSERT_EQ(wrapper.init(3).code, orvex::OK);
  // Enough distinct keys that every one of the three pools is chosen at least once.
  for (int i = 0; i < 60; ++i) push("code" + std::to_string(i) + "@k", i);
  wrapper.release();
  std::set<std::thread::id> threads;
  for (const RunLog::Run& run : log.runs) threads.insert(run.thread);
  EXPECT_EQ(log.runs.size(), 60u);
  EXPECT_EQ(threads.size(), 3u);
}

TEST_F(WorkerPoolTest, TaskPushedBeforeInitIsDroppedAndFreed) {
  auto task = std::make_shared<RecordingTask>(log, "a@k", 1);
  std::weak_ptr<RecordingTask> watch = task;
  HistoryWrapperTestPeer::pushTask(wrapper, "a@k", task);
  task.reset();
  EXPECT_TRUE(watch.expired());
  ASSERT_EQ(wrapper.init(1).code, orvex::OK);
  wrapper.release();
  EXPECT_TRUE(log.runs.empty());
}

TEST_F(WorkerPoolTest, TaskPushedAfterReleaseIsRefusedAndFreed) {
  ASSERT_EQ(wrapper.init(2).code, orvex::OK);
  wrapper.release();
  auto task = std::make_shared<RecordingTask>(log, "a@k", 1);
  std::weak_ptr<RecordingTask> watch = task;
  HistoryWrapperTestPeer::pushTask(wrapper, "a@k", task);
  task.reset();
  EXPECT_TRUE(watch.expired());
  wrapper.release();
  EXPECT_TRUE(log.runs.empty());
}

TEST_F(WorkerPoolTest, QueuedTasksLiveUntilTheyRan) {
  ASSERT_EQ(wrapper.init(1).code, orvex::OK);
  std::vector<std::weak_ptr<RecordingTask>> watches;
  for (int seq = 0; seq < 50; ++seq) {
    auto task = std::make_shared<RecordingTask>(log, "a@k", seq);
    watches.push_back(task);
    HistoryWrapperTestPeer::pushTask(wrapper, "a@k", task);
  }
  wrapper.release();
  EXPECT_EQ(log.runs.size(), 50u);
  for (const auto& watch : watches) EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace marketdata
