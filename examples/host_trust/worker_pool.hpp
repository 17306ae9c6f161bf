// A small fixed pool of threads that runs queued tasks in order of arrival.
//
// The bindings own no threads: a provider that answers asynchronously brings
// its own. This pool is that thread for the host-trust provider: every
// operation queues one task that does the work and completes the operation's
// AsyncResult from a worker thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace host_trust {

class WorkerPool {
 public:
  using Task = std::function<void()>;

  explicit WorkerPool(std::size_t threads) {
    workers_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Run(); });
  }

  // Drains and joins (see Shutdown).
  ~WorkerPool() { Shutdown(); }

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues `task`; false, and nothing queued, once Shutdown has begun, so
  // the caller can still answer its request itself. Tasks must not throw: an
  // exception escaping a task ends the process, as on any std::thread.
  bool Post(Task task) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return false;
      queue_.push_back(std::move(task));
    }
    wakeup_.notify_one();
    return true;
  }

  // Refuses new tasks, lets the workers finish every task already queued,
  // then joins them. Idempotent; call it from one thread, and never from a
  // task (a worker cannot join itself).
  void Shutdown() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wakeup_.notify_all();
    for (std::thread& worker : workers_) {
      if (worker.joinable()) worker.join();
    }
  }

  std::size_t size() const noexcept { return workers_.size(); }

 private:
  void Run() {
    for (;;) {
      Task task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wakeup_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        // Stopping with work left: keep draining; the queue is closed, so
        // this ends.
        if (queue_.empty()) return;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      // Run, and destroyed, outside the lock: a task may post further tasks
      // or own the last reference to objects that lock on destruction.
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wakeup_;
  std::deque<Task> queue_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;  // last: started after the members they use
};

}  // namespace host_trust
