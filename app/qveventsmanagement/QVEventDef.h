// CQVEventDef: the description of an event, a small polymorphic value. Handlers register for a
// definition and receive every event raised with an equal one.
//
// Ownership: clone() returns a new copy owned by the caller; managers keep their own clones of
// whatever definition they are given, so callers may pass temporaries.
// Matching: two definitions match only when they are of the same run-time class and equals()
// says so; lessThan() orders definitions of one class and must agree with equals() (neither
// less than the other exactly when equal). CQVEventDefLess orders definitions of any classes.
// hash() must agree with equals() too: equal definitions hash alike. Managers find definitions by
// hash, so a class with many distinct definitions alive at once (one per group, say) overrides it.
// In-place copies: a class with many definitions alive at once (one per group) also overrides
// cloneSize() and cloneAt() (with QVCloneAt), so that a manager can keep its copies in memory of
// its own, next to its other nodes.
// Threads: definitions are values; a manager calls hash() and equals() with its internal data lock
// held, so they must not call back into any events manager.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <type_traits>
#include <typeinfo>

class CQVEventDef {
 public:
  virtual ~CQVEventDef();

  virtual CQVEventDef* clone() const = 0;
  virtual std::string toString() const = 0;
  virtual bool equals(const CQVEventDef& other) const = 0;
  virtual bool lessThan(const CQVEventDef& other) const = 0;
  // The default hashes the run-time class alone: right for any class, but every definition of a
  // class that keeps it lands in one bucket.
  virtual std::size_t hash() const;
  // A copy built at `where`, which holds cloneSize() bytes aligned for any type; the caller ends
  // it with its destructor and frees the memory itself. The default cloneSize() is 0: the class
  // makes no such copies, and cloneAt() is not called.
  virtual std::size_t cloneSize() const;
  virtual CQVEventDef* cloneAt(void* where) const;

  // Same run-time class and equals().
  bool operator==(const CQVEventDef& other) const;

 protected:
  CQVEventDef() = default;
  CQVEventDef(const CQVEventDef&) = default;
  CQVEventDef& operator=(const CQVEventDef&) = default;
};

// `other` as the class of `self` when it is of exactly that class, else null: what equals() and
// lessThan() of a class without subclasses need (cheaper than a dynamic_cast).
template <typename Def>
const Def* QVSameEventClass(const Def& self, const CQVEventDef& other) {
  return typeid(other) == typeid(self) ? static_cast<const Def*>(&other) : nullptr;
}

// Strict weak order over definitions of any classes: by run-time class first, then lessThan().
// Two definitions are equivalent under it exactly when they match (operator==).
struct CQVEventDefLess {
  bool operator()(const CQVEventDef& a, const CQVEventDef& b) const {
    const std::type_info& ta = typeid(a);
    const std::type_info& tb = typeid(b);
    // One type_info object per class in practice: equal addresses spare the name comparison.
    if (&ta != &tb && ta != tb) return ta.before(tb);
    return a.lessThan(b);
  }
  bool operator()(const CQVEventDef* a, const CQVEventDef* b) const { return (*this)(*a, *b); }
};

// Hash and equality of definitions of any classes, for hashed containers keyed by definition.
struct CQVEventDefHash {
  std::size_t operator()(const CQVEventDef* def) const { return def->hash(); }
};
struct CQVEventDefEqual {
  bool operator()(const CQVEventDef* a, const CQVEventDef* b) const { return *a == *b; }
};

// Mixes `value` into `seed`, for hash() of definitions with several fields.
inline std::size_t QVHashCombine(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

// cloneAt() of the final class `Def`: a copy of a class that may be derived from would slice.
template <class Def>
CQVEventDef* QVCloneAt(const Def& def, void* where) {
  static_assert(std::is_final<Def>::value, "in-place copies are for final classes");
  return ::new (where) Def(def);
}

// The size of an in-place copy of `def` when its class makes them and the copy fits in `limit`
// bytes; else 0, and the copy comes from clone().
inline std::size_t QVInPlaceCopySize(const CQVEventDef& def, std::size_t limit) {
  const std::size_t size = def.cloneSize();
  return size <= limit ? size : 0;
}

// A copy of a definition that its holder keeps for its own lifetime: inside the holder when the
// class makes in-place copies of up to kInline bytes, else from clone(). Neither copied nor moved,
// as the copy may live inside it.
class QVEventDefCopy {
 public:
  static constexpr std::size_t kInline = 64;

  explicit QVEventDefCopy(const CQVEventDef& def) {
    inPlace_ = QVInPlaceCopySize(def, kInline) != 0;
    def_ = inPlace_ ? def.cloneAt(storage_) : def.clone();
  }
  ~QVEventDefCopy() {
    if (inPlace_) {
      def_->~CQVEventDef();
    } else {
      delete def_;
    }
  }
  QVEventDefCopy(const QVEventDefCopy&) = delete;
  QVEventDefCopy& operator=(const QVEventDefCopy&) = delete;

  const CQVEventDef& get() const { return *def_; }

 private:
  alignas(std::max_align_t) unsigned char storage_[kInline];
  CQVEventDef* def_;
  bool inPlace_;
};
