#include "tools/serve/bounded_task_queue.h"

#include <algorithm>

namespace strata::tools::serve {

BoundedTaskQueue::BoundedTaskQueue(std::size_t threads, std::size_t maxQueued)
    : maxQueued_(std::max<std::size_t>(maxQueued, 1)) {
  for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
    workers_.emplace_back([this] { Work(); });
  }
}

BoundedTaskQueue::~BoundedTaskQueue() { shutdown(); }

void BoundedTaskQueue::enqueue(std::function<void()> task) {
  std::unique_lock<std::mutex> hold(mutex_);
  roomFree_.wait(hold, [this] { return stopping_ || tasks_.size() < maxQueued_; });
  // After shutdown the task still runs, on this thread: it owns a
  // connection that must be answered and closed.
  if (stopping_) {
    hold.unlock();
    task();
    return;
  }
  tasks_.push_back(std::move(task));
  hold.unlock();
  taskReady_.notify_one();
}

void BoundedTaskQueue::shutdown() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_ && workers_.empty()) return;
    stopping_ = true;
  }
  taskReady_.notify_all();
  roomFree_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

void BoundedTaskQueue::Work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      taskReady_.wait(hold, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    roomFree_.notify_one();
    task();
  }
}

}  // namespace strata::tools::serve
