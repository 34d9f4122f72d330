#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace orolith {

// Items made on several threads and written in the order they were handed in: the grid's bands,
// the adaptive mesher's blocks, the 3MF package's compressed chunks, a Copernicus tile's pieces.
// The owner (the thread that calls the pipeline) fills an item and submits it; Make runs on the
// workers and on the owner; Write runs on the owner's thread. The items live in the caller's
// storage, one a slot (0 .. Slots() - 1), which the pipeline hands out.
//
// Promises:
// - Order: Write sees the items one at a time, in the order they were submitted, however the
//   threads finish them; what is written so is the same bytes with any number of threads.
// - Threads: thread 0 is the owner, the others workers; a thread makes one item at a time, so
//   scratch kept by thread index needs no lock. An owner that Helps is one of the threads asked
//   for and, while it waits for its oldest item, makes the waiting ones, the next first: its
//   thread has nothing else to do (the adaptive mesher's blocks, a tile's pieces). An owner that
//   Feeds the stage after (the grid's bands feed the 3MF compressor, whose chunks feed the file)
//   has as many workers as threads asked for and makes only the item it waits for, when no
//   worker has taken it up (every item, with one thread): a later one in its hands would hold
//   that stage up.
// - Bounded: at most Slots() items are acquired and not yet written; Acquire writes the oldest
//   ones until a slot is free. Memory is that of the slots, whatever the number of items.
// - Errors: what Make throws is parked with its item and thrown on the owner's thread in the
//   item's turn to be written. When Acquire, Drain or Run throws (a parked error, Write, Run's
//   fill), it has first abandoned the rest: items not yet made are dropped, those being made
//   are waited for, every slot is free, and the pipeline takes new items as if fresh.
// - Stop: once a stop is asked for (InterruptSignal), no item is made any more; the first one
//   left unmade throws Interrupted in its turn.
//
// Threads: mutex_ guards queue_, making_ and made_. An item belongs to the owner until Submit,
// to the thread that takes it off queue_ until that thread sets made_ (under the mutex, as it
// took it), and to the owner again once the owner has seen made_; each hand-over passes the
// mutex, which makes what one thread wrote (the item, its parked error) visible to the next.
// free_ and order_ belong to the owner alone; make_ and write_ never change. queued_ is a
// condition_variable_any because idle workers wait on it with their stop token, which the
// destructor's stop request wakes. workers_ is the last member: destroyed first, its threads
// finish the item they make and are joined before anything they use goes; the caller's storage
// and whatever Make uses must outlive the pipeline.
class OrderedPipeline {
 public:
  // What the owner does besides filling and writing (see Threads above).
  enum class Owner { Helps, Feeds };
  // Makes the item in slot, on thread (0 .. MakingThreads() - 1).
  using Make = std::function<void(unsigned thread, std::size_t slot)>;
  // Writes the item in slot, on the owner's thread.
  using Write = std::function<void(std::size_t slot)>;
  // Fills the slot with item index (0, 1, ...), on the owner's thread.
  using Fill = std::function<void(std::size_t index, std::size_t slot)>;

  // threads: as WorkThreads counts them, 1 (or 0) for the owner alone, which then makes each
  // item as it is submitted. slots: at least 1.
  OrderedPipeline(unsigned threads, Owner owner, std::size_t slots, Make make, Write write);
  OrderedPipeline(const OrderedPipeline&) = delete;
  OrderedPipeline& operator=(const OrderedPipeline&) = delete;
  ~OrderedPipeline();

  // The threads that may call Make, the owner's included.
  static unsigned MakingThreads(unsigned threads, Owner owner) noexcept {
    return threads <= 1 ? 1 : owner == Owner::Helps ? threads : threads + 1;
  }
  std::size_t Slots() const noexcept { return made_.size(); }

  // A slot to fill, once the oldest items are written until one is free.
  std::size_t Acquire();
  // Hands an acquired slot back unfilled.
  void Release(std::size_t slot) { free_.push_back(slot); }
  // The filled slot goes to be made; with one thread the owner makes it here.
  void Submit(std::size_t slot);
  // Writes every item submitted.
  void Drain();
  // Items 0 .. count - 1, each filled, made and written; returns once the last is written.
  void Run(std::size_t count, const Fill& fill);

 private:
  void Abandon() noexcept;
  void MakeHere(unsigned thread, std::size_t slot) noexcept;
  void WriteOldest();
  void Work(const std::stop_token& stop, unsigned thread);

  Owner owner_;
  Make make_;
  Write write_;
  std::vector<std::size_t> free_;
  std::deque<std::size_t> order_;  // submitted, not yet written, oldest first
  std::vector<std::exception_ptr> errors_;
  std::mutex mutex_;
  std::condition_variable_any queued_;
  std::condition_variable finished_;  // only the owner waits on it
  std::deque<std::size_t> queue_;     // submitted, not yet taken by a thread
  unsigned making_ = 0;               // items the workers hold
  std::vector<char> made_;
  std::vector<std::jthread> workers_;
};

// The threads for a parallel stage: requested when above 0, else one for each processor this
// process may run on (its affinity, as taskset sets it), at most four.
unsigned WorkThreads(unsigned requested = 0);

}  // namespace orolith
