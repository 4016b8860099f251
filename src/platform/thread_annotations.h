// Lock annotations checked by clang's thread-safety analysis (-Wthread-safety, the tsan preset):
// a member says which lock guards it, a function which locks it needs or takes, a lock which locks
// are taken before or after it. Other compilers (gcc, mingw) see nothing.
//
//   GUARDED_BY(m)           the member is read and written only with m held
//   PT_GUARDED_BY(m)        what the pointer member points to is touched only with m held
//   REQUIRES(m...)          the caller holds m
//   EXCLUDES(m...)          the caller does not hold m (the function takes it)
//   ACQUIRE(m...) / RELEASE(m...)   the function takes / gives back m (no argument: *this)
//   ACQUIRED_BEFORE(m...) / ACQUIRED_AFTER(m...)   on a lock: the order in which it nests with m
//   CAPABILITY(name), SCOPED_CAPABILITY             on a lock class and on a holder class
//   NO_THREAD_SAFETY_ANALYSIS                       the analysis cannot follow; say why beside it
//
// platform/mutex.h holds the annotated lock types; std::mutex itself carries no annotations.
#pragma once

#if defined(__clang__)
#define HALCYRA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define HALCYRA_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) HALCYRA_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY HALCYRA_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) HALCYRA_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) HALCYRA_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) HALCYRA_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) HALCYRA_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) HALCYRA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) HALCYRA_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) HALCYRA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) HALCYRA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) HALCYRA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) HALCYRA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) HALCYRA_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) HALCYRA_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS HALCYRA_THREAD_ANNOTATION(no_thread_safety_analysis)
