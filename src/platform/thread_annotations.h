// Attributes for clang's thread-safety analysis (-Wthread-safety): which lock
// guards which data, and which functions take, release or need a lock. Other
// compilers see nothing.
#pragma once

#if defined(__clang__)
#define MALTOR_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define MALTOR_THREAD_ATTRIBUTE(x)
#endif

#define MALTOR_CAPABILITY(name) MALTOR_THREAD_ATTRIBUTE(capability(name))
#define MALTOR_SCOPED_CAPABILITY MALTOR_THREAD_ATTRIBUTE(scoped_lockable)
#define MALTOR_GUARDED_BY(lock) MALTOR_THREAD_ATTRIBUTE(guarded_by(lock))
#define MALTOR_REQUIRES(...) MALTOR_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define MALTOR_EXCLUDES(...) MALTOR_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define MALTOR_ACQUIRE(...) MALTOR_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define MALTOR_RELEASE(...) MALTOR_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define MALTOR_ASSERT_CAPABILITY(x) MALTOR_THREAD_ATTRIBUTE(assert_capability(x))
#define MALTOR_NO_THREAD_SAFETY_ANALYSIS MALTOR_THREAD_ATTRIBUTE(no_thread_safety_analysis)
