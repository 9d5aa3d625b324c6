// The server's worker pool: a fixed number of threads and a bounded queue
// of accepted connections. When the queue is full the accepting thread
// waits, so further clients wait in the listen backlog instead of piling up
// in memory.
#ifndef STRATA_TOOLS_SERVE_BOUNDED_TASK_QUEUE_H_
#define STRATA_TOOLS_SERVE_BOUNDED_TASK_QUEUE_H_

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace strata::tools::serve {

class BoundedTaskQueue : public httplib::TaskQueue {
 public:
  BoundedTaskQueue(std::size_t threads, std::size_t maxQueued);
  ~BoundedTaskQueue() override;

  void enqueue(std::function<void()> task) override;
  void shutdown() override;

 private:
  void Work();

  const std::size_t maxQueued_;
  std::mutex mutex_;
  std::condition_variable taskReady_;
  std::condition_variable roomFree_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_BOUNDED_TASK_QUEUE_H_
