#include "base/OrderedPipeline.h"

#include "base/Interrupt.h"

#include <sched.h>

#include <algorithm>
#include <utility>

namespace orolith {

OrderedPipeline::OrderedPipeline(unsigned threads, Owner owner, std::size_t slots, Make make,
                                 Write write)
    : owner_(owner),
      make_(std::move(make)),
      write_(std::move(write)),
      errors_(std::max<std::size_t>(slots, 1)),
      made_(errors_.size()) {
  for (std::size_t slot = errors_.size(); slot-- > 0;) free_.push_back(slot);
  const unsigned making = MakingThreads(threads, owner);
  if (making > 1) {
    workers_.reserve(making - 1);
    for (unsigned thread = 1; thread < making; ++thread) {
      workers_.emplace_back([this, thread](std::stop_token stop) { Work(stop, thread); });
    }
  }
}

OrderedPipeline::~OrderedPipeline() {
  // All stop before the first is joined, so that none takes up another item meanwhile.
  for (std::jthread& worker : workers_) worker.request_stop();
}

std::size_t OrderedPipeline::Acquire() {
  try {
    while (free_.empty()) WriteOldest();
  } catch (...) {
    Abandon();
    throw;
  }
  const std::size_t slot = free_.back();
  free_.pop_back();
  return slot;
}

void OrderedPipeline::Submit(std::size_t slot) {
  order_.push_back(slot);
  if (workers_.empty()) {
    MakeHere(0, slot);
    made_[slot] = 1;
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    made_[slot] = 0;
    queue_.push_back(slot);
  }
  queued_.notify_one();
}

void OrderedPipeline::Drain() {
  try {
    while (!order_.empty()) WriteOldest();
  } catch (...) {
    Abandon();
    throw;
  }
}

void OrderedPipeline::Run(std::size_t count, const Fill& fill) {
  for (std::size_t index = 0; index < count; ++index) {
    const std::size_t slot = Acquire();
    try {
      fill(index, slot);
    } catch (...) {
      Abandon();
      throw;
    }
    Submit(slot);
  }
  Drain();
}

void OrderedPipeline::Abandon() noexcept {
  if (!workers_.empty()) {
    std::unique_lock lock(mutex_);
    queue_.clear();
    finished_.wait(lock, [this] { return making_ == 0; });
  }
  order_.clear();
  free_.clear();
  for (std::size_t slot = errors_.size(); slot-- > 0;) {
    errors_[slot] = nullptr;
    free_.push_back(slot);
  }
}

void OrderedPipeline::MakeHere(unsigned thread, std::size_t slot) noexcept {
  try {
    ThrowIfInterrupted();
    make_(thread, slot);
  } catch (...) {
    errors_[slot] = std::current_exception();
  }
}

void OrderedPipeline::WriteOldest() {
  const std::size_t slot = order_.front();
  if (!workers_.empty()) {
    std::unique_lock lock(mutex_);
    while (!made_[slot]) {
      // The oldest waiting item: this one, when no worker has taken it up yet.
      if (!queue_.empty() && (owner_ == Owner::Helps || queue_.front() == slot)) {
        const std::size_t next = queue_.front();
        queue_.pop_front();
        lock.unlock();
        MakeHere(0, next);
        lock.lock();
        made_[next] = 1;
      } else {
        finished_.wait(lock);
      }
    }
  }
  order_.pop_front();
  free_.push_back(slot);
  if (errors_[slot]) std::rethrow_exception(std::exchange(errors_[slot], nullptr));
  write_(slot);
}

void OrderedPipeline::Work(const std::stop_token& stop, unsigned thread) {
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, stop, [this] { return !queue_.empty(); });
    if (stop.stop_requested()) return;
    const std::size_t slot = queue_.front();
    queue_.pop_front();
    ++making_;
    lock.unlock();
    MakeHere(thread, slot);
    lock.lock();
    --making_;
    made_[slot] = 1;
    finished_.notify_one();
  }
}

unsigned WorkThreads(unsigned requested) {
  constexpr unsigned MaxThreads = 4;
  if (requested > 0) return requested;
  cpu_set_t set;
  CPU_ZERO(&set);
  int processors = 0;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) processors = CPU_COUNT(&set);
  if (processors <= 0) processors = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(static_cast<unsigned>(std::max(processors, 1)), 1U, MaxThreads);
}

}  // namespace orolith
