// Lock contracts the compiler checks: clang's thread-safety attributes behind small macros that
// expand to nothing on other compilers. A clang build with -Wthread-safety (./scripts/test clang)
// turns a broken contract into a compile error.
//
//   QV_CAPABILITY("mutex")        a class whose objects are locks
//   QV_SCOPED_CAPABILITY          a guard: takes a lock in its constructor, releases it in its destructor
//   QV_GUARDED_BY(lock)           a member read and written only with `lock` held
//   QV_PT_GUARDED_BY(lock)        what a pointer member points to is guarded by `lock`
//   QV_REQUIRES(lock...)          a function the caller must call with `lock` held
//   QV_EXCLUDES(lock...)          a function the caller must not call with `lock` held (it takes it)
//   QV_ACQUIRE / QV_RELEASE       a function that takes / releases the lock (no argument: `this`)
//   QV_TRY_ACQUIRE(true, lock)    takes the lock when it answers true
//   QV_ASSERT_CAPABILITY(lock)    a check that the lock is held, for code the compiler cannot follow
//   QV_RETURN_CAPABILITY(lock)    an accessor that returns that lock
//   QV_NO_THREAD_SAFETY_ANALYSIS  the body is not checked (each use says why)
#pragma once

#if defined(__clang__)
#define QV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QV_THREAD_ANNOTATION(x)
#endif

#define QV_CAPABILITY(name) QV_THREAD_ANNOTATION(capability(name))
#define QV_SCOPED_CAPABILITY QV_THREAD_ANNOTATION(scoped_lockable)
#define QV_GUARDED_BY(lock) QV_THREAD_ANNOTATION(guarded_by(lock))
#define QV_PT_GUARDED_BY(lock) QV_THREAD_ANNOTATION(pt_guarded_by(lock))
#define QV_REQUIRES(...) QV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define QV_EXCLUDES(...) QV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define QV_ACQUIRE(...) QV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QV_RELEASE(...) QV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QV_TRY_ACQUIRE(...) QV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define QV_ASSERT_CAPABILITY(lock) QV_THREAD_ANNOTATION(assert_capability(lock))
#define QV_RETURN_CAPABILITY(lock) QV_THREAD_ANNOTATION(lock_returned(lock))
#define QV_NO_THREAD_SAFETY_ANALYSIS QV_THREAD_ANNOTATION(no_thread_safety_analysis)
