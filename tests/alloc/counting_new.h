// Counts every heap allocation made through operator new in this program.
// Linking counting_new.cpp replaces the global operator new and delete.
//
// Sanitizers bring their own operator new, so there the replacement is left
// out, MALTOR_ALLOCATIONS_COUNTED is 0 and allocation_count() stays 0.
#pragma once

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MALTOR_ALLOCATIONS_COUNTED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MALTOR_ALLOCATIONS_COUNTED 0
#endif
#endif
#ifndef MALTOR_ALLOCATIONS_COUNTED
#define MALTOR_ALLOCATIONS_COUNTED 1
#endif

namespace maltor::test {

// Allocations since the program started, on every thread.
std::uint64_t allocation_count();

}  // namespace maltor::test
