// Clang's thread-safety attributes: which lock guards a field, which locks a function needs,
// takes or must not hold, and the order in which locks are taken. A clang build with
// -Wthread-safety -Wthread-safety-beta checks them (the beta part checks the order); other
// compilers see nothing.
//
// The analysis looks at one function at a time: an order is checked where both locks are taken
// in the same function, and a lock that a caller holds is seen only through REQUIRES.
#pragma once

#if defined(__clang__)
#define PLATFORM_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define PLATFORM_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) PLATFORM_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY PLATFORM_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) PLATFORM_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) PLATFORM_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) PLATFORM_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) PLATFORM_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) PLATFORM_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) PLATFORM_THREAD_ATTRIBUTE(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) PLATFORM_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) PLATFORM_THREAD_ATTRIBUTE(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) PLATFORM_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) PLATFORM_THREAD_ATTRIBUTE(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) PLATFORM_THREAD_ATTRIBUTE(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PLATFORM_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) PLATFORM_THREAD_ATTRIBUTE(try_acquire_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) PLATFORM_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) PLATFORM_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) PLATFORM_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS PLATFORM_THREAD_ATTRIBUTE(no_thread_safety_analysis)
