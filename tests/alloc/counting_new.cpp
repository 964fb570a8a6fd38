#include "counting_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace maltor::test {
namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

std::uint64_t allocation_count() {
  return g_allocations.load(std::memory_order_relaxed);
}

}  // namespace maltor::test

#if MALTOR_ALLOCATIONS_COUNTED

namespace {

void* counted_alloc(std::size_t size) {
  maltor::test::g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

void* counted_aligned_alloc(std::size_t size, std::align_val_t alignment) {
  maltor::test::g_allocations.fetch_add(1, std::memory_order_relaxed);
  const auto align = static_cast<std::size_t>(alignment);
#ifdef _WIN32
  return _aligned_malloc(size == 0 ? 1 : size, align);
#else
  void* memory = nullptr;
  return posix_memalign(&memory, align < sizeof(void*) ? sizeof(void*) : align,
                        size == 0 ? 1 : size) == 0
             ? memory
             : nullptr;
#endif
}

void aligned_free(void* memory) {
#ifdef _WIN32
  _aligned_free(memory);
#else
  std::free(memory);
#endif
}

void* or_throw(void* memory) {
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

}  // namespace

void* operator new(std::size_t size) {
  return or_throw(counted_alloc(size));
}
void* operator new[](std::size_t size) {
  return or_throw(counted_alloc(size));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return counted_alloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return counted_alloc(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return or_throw(counted_aligned_alloc(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return or_throw(counted_aligned_alloc(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return counted_aligned_alloc(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return counted_aligned_alloc(size, alignment);
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
  aligned_free(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
  aligned_free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  aligned_free(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  aligned_free(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  aligned_free(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  aligned_free(memory);
}

#endif  // MALTOR_ALLOCATIONS_COUNTED
