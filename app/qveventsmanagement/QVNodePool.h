// Memory for the nodes of node-based containers (lists, maps, hashed maps) that one owner keeps
// under one lock: an events manager's registrations, its records of handlers and its copies of
// definitions.
//
// Why: a large schedule registers tens of thousands of nodes on the timer thread and frees them
// on the host's thread at stop. The general allocator keeps such blocks on per-size free lists
// of the timer thread's arena, and the next run takes them back one cold block at a time. Here a
// block comes from the front of a slab in the order the run asks for blocks, so a run walks its
// nodes in nearly the order it made them. Blocks freed during a run are reused (newest first,
// by size); once every block has come back (a stop, an unload) the pool starts again at the front
// of its first slab.
//
// Ownership: the pool owns its slabs and keeps them until it is destroyed: its memory is the
// largest number of nodes it ever held at once. Containers using it must be destroyed first.
// Threads: not thread-safe. Every call comes with the owner's lock held (or from the only thread
// that can reach the owner, during construction and destruction).
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

// Under AddressSanitizer a block is poisoned from its return until it is handed out again, so a
// use of a freed node is still reported.
#if defined(__SANITIZE_ADDRESS__)
#define QV_NODE_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_NODE_POOL_ASAN 1
#endif
#endif
#ifdef QV_NODE_POOL_ASAN
#include <sanitizer/asan_interface.h>
#define QV_NODE_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define QV_NODE_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define QV_NODE_POOL_POISON(p, n) ((void)(p), (void)(n))
#define QV_NODE_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

class QVNodePool {
 public:
  static constexpr std::size_t kGranule = 16;    // block sizes are multiples of this; also the alignment
  static constexpr std::size_t kMaxBlock = 256;  // larger requests go to operator new

  QVNodePool() = default;
  QVNodePool(const QVNodePool&) = delete;
  QVNodePool& operator=(const QVNodePool&) = delete;

  // A block of at least `bytes` (1 to kMaxBlock), aligned to kGranule.
  void* allocate(std::size_t bytes) {
    const std::size_t cls = sizeClass(bytes);
    const std::size_t size = (cls + 1) * kGranule;
    ++live_;
    if (FreeBlock* block = free_[cls]) {
      QV_NODE_POOL_UNPOISON(block, size);
      free_[cls] = block->next;
      return block;
    }
    if (slab_ == slabs_.size() || used_ + size > slabs_[slab_].size) nextSlab(size);
    unsigned char* block = slabs_[slab_].memory.get() + used_;
    used_ += size;
    QV_NODE_POOL_UNPOISON(block, size);
    return block;
  }

  // Returns a block from allocate(bytes), with the same `bytes`.
  void deallocate(void* p, std::size_t bytes) noexcept {
    const std::size_t cls = sizeClass(bytes);
    const std::size_t size = (cls + 1) * kGranule;
    if (--live_ == 0) {
      QV_NODE_POOL_POISON(p, size);
      restart();
      return;
    }
    free_[cls] = ::new (p) FreeBlock{free_[cls]};
    QV_NODE_POOL_POISON(p, size);
  }

  ~QVNodePool() {
    for (const Slab& slab : slabs_) QV_NODE_POOL_UNPOISON(slab.memory.get(), slab.size);
  }

  std::size_t live() const { return live_; }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  struct Slab {
    std::unique_ptr<unsigned char[]> memory;
    std::size_t size;
  };
  static constexpr std::size_t kClasses = kMaxBlock / kGranule;
  static constexpr std::size_t kFirstSlab = 1024;
  static constexpr std::size_t kLargestSlab = 64 * 1024;  // below the allocator's mmap threshold

  static std::size_t sizeClass(std::size_t bytes) { return (bytes + kGranule - 1) / kGranule - 1; }

  // Moves on to the next slab, making one (twice as large as the last, up to the largest) when
  // none is left. The end of the current slab is left unused.
  void nextSlab(std::size_t need) {
    if (slab_ < slabs_.size()) ++slab_;
    used_ = 0;
    if (slab_ < slabs_.size() && need <= slabs_[slab_].size) return;
    const std::size_t size = slabs_.empty() ? kFirstSlab : std::min(2 * slabs_.back().size, kLargestSlab);
    // operator new[] of unsigned char is aligned for any fundamental type, which covers kGranule.
    slabs_.insert(slabs_.begin() + static_cast<std::ptrdiff_t>(slab_),
                  Slab{std::unique_ptr<unsigned char[]>(new unsigned char[size]), size});
    QV_NODE_POOL_POISON(slabs_[slab_].memory.get(), size);
  }

  // Every block is back: forget the free lists and hand out blocks from the front again.
  void restart() {
    for (FreeBlock*& head : free_) head = nullptr;
    slab_ = 0;
    used_ = 0;
  }

  FreeBlock* free_[kClasses] = {};
  std::vector<Slab> slabs_;
  std::size_t slab_ = 0;  // the slab blocks are cut from (== slabs_.size() before the first)
  std::size_t used_ = 0;  // bytes cut from it so far
  std::size_t live_ = 0;  // blocks handed out and not yet returned
};

// A standard allocator over a QVNodePool: single objects up to the pool's largest block come
// from the pool, arrays (a hashed table's slots) and larger objects from operator new. Copies
// share the pool; two allocators are equal when they share one, so lists can splice between
// containers of one owner.
template <class T>
class QVNodeAllocator {
 public:
  using value_type = T;

  explicit QVNodeAllocator(QVNodePool* pool) noexcept : pool_(pool) {}
  template <class U>
  QVNodeAllocator(const QVNodeAllocator<U>& other) noexcept : pool_(other.pool()) {}

  T* allocate(std::size_t n) {
    if (fromPool(n)) return static_cast<T*>(pool_->allocate(sizeof(T)));
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (fromPool(n)) {
      pool_->deallocate(p, sizeof(T));
    } else {
      std::allocator<T>().deallocate(p, n);
    }
  }

  QVNodePool* pool() const noexcept { return pool_; }
  friend bool operator==(const QVNodeAllocator& a, const QVNodeAllocator& b) noexcept { return a.pool_ == b.pool_; }
  friend bool operator!=(const QVNodeAllocator& a, const QVNodeAllocator& b) noexcept { return a.pool_ != b.pool_; }

 private:
  static_assert(alignof(T) <= QVNodePool::kGranule, "the pool's blocks are aligned to its granule");
  static constexpr bool fromPool(std::size_t n) noexcept { return n == 1 && sizeof(T) <= QVNodePool::kMaxBlock; }

  QVNodePool* pool_;
};
