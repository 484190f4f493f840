// A few threads that run tasks in the order they were given, those given as "later" only when
// no other task waits.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
 public:
  explicit WorkerPool(size_t threads);
  ~WorkerPool();  // stop()
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues `task` for the next free thread. Thread-safe.
  void submit(std::function<void()> task);
  // Queues `task` behind every task given with submit(). Thread-safe.
  void submitLater(std::function<void()> task);

  // Starts no more tasks, drops the queued ones and waits for the running ones to end.
  void stop();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::deque<std::function<void()>> laterTasks_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
