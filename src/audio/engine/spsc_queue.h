// Single-producer single-consumer queue of trivially copyable items, fixed
// capacity, no allocation after construction: the way the logic thread and the
// real-time thread talk without locks.
#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace sono::audio {

template <typename T>
class SpscQueue {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit SpscQueue(size_t capacityPow2)
      : mask_(capacityPow2 - 1), items_(std::make_unique<T[]>(capacityPow2)) {}

  bool push(const T& item) {  // producer only
    const size_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) > mask_) return false;
    items_[head & mask_] = item;
    head_.store(head + 1, std::memory_order_release);
    return true;
  }
  bool pop(T& item) {  // consumer only
    const size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == head_.load(std::memory_order_acquire)) return false;
    item = items_[tail & mask_];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

 private:
  const size_t mask_;
  std::unique_ptr<T[]> items_;
  alignas(64) std::atomic<size_t> head_{0};
  alignas(64) std::atomic<size_t> tail_{0};
};

}  // namespace sono::audio
