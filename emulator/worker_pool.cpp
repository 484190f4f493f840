// The worker threads of the emulator's connection layer.
#include "worker_pool.h"

WorkerPool::WorkerPool(size_t threads) {
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::submit(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.push_back(std::move(task));
  wake_.notify_one();
}

void WorkerPool::submitLater(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  laterTasks_.push_back(std::move(task));
  wake_.notify_one();
}

void WorkerPool::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    tasks_.clear();
    laterTasks_.clear();
    wake_.notify_all();
  }
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void WorkerPool::work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !tasks_.empty() || !laterTasks_.empty(); });
      if (stopping_) return;
      std::deque<std::function<void()>>& queue = tasks_.empty() ? laterTasks_ : tasks_;
      task = std::move(queue.front());
      queue.pop_front();
    }
    task();
  }
}
