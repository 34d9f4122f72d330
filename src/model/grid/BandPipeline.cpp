#include "model/grid/BandPipeline.h"

#include <sched.h>

#include <algorithm>
#include <utility>

namespace orolith {

BandPipeline::BandPipeline(unsigned threads, FaceSink& sink)
    : sink_(sink), bands_(threads > 1 ? 2 * threads + 1 : 1) {
  for (Band& band : bands_) free_.push_back(&band);
  if (threads > 1) {
    workers_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
      workers_.emplace_back([this, i](std::stop_token stop) { Work(stop, i); });
    }
  }
}

void BandPipeline::Run(BandMesher& mesher, std::size_t count,
                       const std::function<void(const Band&)>& written) {
  mesher_ = &mesher;
  try {
    std::size_t next = 0;
    while (next < count || !inFlight_.empty()) {
      while (next < count && !free_.empty()) {
        Band& band = *free_.back();
        free_.pop_back();
        inFlight_.push_back(&band);
        band.Index = next++;
        Start(band);
      }
      Band& band = *inFlight_.front();
      WaitFor(band);
      sink_.Write(band.Mesh);
      written(band);
      inFlight_.pop_front();
      free_.push_back(&band);
    }
  } catch (...) {
    Abandon();
    throw;
  }
}

void BandPipeline::Start(Band& band) {
  band.done_ = false;
  mesher_->Prepare(band);
  if (workers_.empty()) {
    MeshAndEncode(0, band);
    band.done_ = true;
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(&band);
  }
  queued_.notify_one();
}

void BandPipeline::MeshAndEncode(unsigned worker, Band& band) noexcept {
  try {
    mesher_->Mesh(worker, band);
    sink_.Encode(band.Mesh);
  } catch (...) {
    band.error_ = std::current_exception();
  }
}

void BandPipeline::WaitFor(Band& band) {
  if (!workers_.empty()) {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return band.done_; });
  }
  if (band.error_) std::rethrow_exception(std::exchange(band.error_, nullptr));
}

void BandPipeline::Abandon() noexcept {
  if (!workers_.empty()) {
    std::unique_lock lock(mutex_);
    queue_.clear();
    finished_.wait(lock, [this] { return meshing_ == 0; });
  }
  for (Band* band : inFlight_) {
    band->error_ = nullptr;
    free_.push_back(band);
  }
  inFlight_.clear();
}

void BandPipeline::Work(const std::stop_token& stop, unsigned worker) {
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, stop, [this] { return !queue_.empty(); });
    if (stop.stop_requested()) return;
    Band& band = *queue_.front();
    queue_.pop_front();
    ++meshing_;
    lock.unlock();
    MeshAndEncode(worker, band);
    lock.lock();
    --meshing_;
    band.done_ = true;
    finished_.notify_one();
  }
}

unsigned MeshingThreads(unsigned requested) {
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
