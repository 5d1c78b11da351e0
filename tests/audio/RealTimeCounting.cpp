// Counts what a thread does while it plays a real-time thread: this binary
// interposes the C library's lock functions and, without a sanitizer, its
// heap functions. A sanitizer owns the heap, so under one the heap calls are
// counted through its allocation hooks instead. ThreadSanitizer also
// intercepts the lock functions to see every synchronisation; under it our
// lock functions hand on to its interceptors rather than to the C library,
// or it would report races that a lock prevents.

#include "RealTimeCounting.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <dlfcn.h>
#include <pthread.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PARLARO_COUNT_WITH_SANITIZER_HOOKS 1
#endif
#if __has_feature(thread_sanitizer)
#define PARLARO_COUNT_WITH_SANITIZER_HOOKS 1
#define PARLARO_LOCKS_THROUGH_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PARLARO_COUNT_WITH_SANITIZER_HOOKS 1
#endif
#if defined(__SANITIZE_THREAD__)
#define PARLARO_COUNT_WITH_SANITIZER_HOOKS 1
#define PARLARO_LOCKS_THROUGH_SANITIZER 1
#endif

#ifdef PARLARO_COUNT_WITH_SANITIZER_HOOKS
#include <sanitizer/allocator_interface.h>
#endif

#ifdef PARLARO_LOCKS_THROUGH_SANITIZER
// The sanitizer's own definitions, which its weak pthread_* names alias.
extern "C" {
int __interceptor_pthread_mutex_lock(pthread_mutex_t* mutex);
int __interceptor_pthread_cond_signal(pthread_cond_t* condition);
int __interceptor_pthread_cond_broadcast(pthread_cond_t* condition);
}
#endif

namespace parlaro::test {

namespace {

thread_local bool counting = false;
thread_local RealTimeCounts counts;

void countAllocation()
{
    if (counting)
        ++counts.allocations;
}

void countFree(const volatile void* memory)
{
    if (counting && memory != nullptr)
        ++counts.frees;
}

void countLock()
{
    if (counting)
        ++counts.locks;
}

#ifndef PARLARO_LOCKS_THROUGH_SANITIZER
// The next definition of `name` after this binary's: the C library's.
template <class Function>
Function* next(std::atomic<Function*>& cache, const char* name)
{
    Function* found = cache.load(std::memory_order_acquire);
    if (found == nullptr) {
        found = reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
        cache.store(found, std::memory_order_release);
    }
    return found;
}

std::atomic<int (*)(pthread_mutex_t*)> realMutexLock{nullptr};
std::atomic<int (*)(pthread_cond_t*)> realCondSignal{nullptr};
std::atomic<int (*)(pthread_cond_t*)> realCondBroadcast{nullptr};

// Looked up at load time, so that no lookup happens inside a count.
[[maybe_unused]] const bool resolved = [] {
    next(realMutexLock, "pthread_mutex_lock");
    next(realCondSignal, "pthread_cond_signal");
    next(realCondBroadcast, "pthread_cond_broadcast");
    return true;
}();

int lockMutex(pthread_mutex_t* mutex)
{
    return next(realMutexLock, "pthread_mutex_lock")(mutex);
}

int signalCondition(pthread_cond_t* condition)
{
    return next(realCondSignal, "pthread_cond_signal")(condition);
}

int broadcastCondition(pthread_cond_t* condition)
{
    return next(realCondBroadcast, "pthread_cond_broadcast")(condition);
}
#else
int lockMutex(pthread_mutex_t* mutex)
{
    return __interceptor_pthread_mutex_lock(mutex);
}

int signalCondition(pthread_cond_t* condition)
{
    return __interceptor_pthread_cond_signal(condition);
}

int broadcastCondition(pthread_cond_t* condition)
{
    return __interceptor_pthread_cond_broadcast(condition);
}
#endif

#ifdef PARLARO_COUNT_WITH_SANITIZER_HOOKS
void onMalloc(const volatile void*, std::size_t)
{
    countAllocation();
}

[[maybe_unused]] const bool hooksInstalled = [] {
    __sanitizer_install_malloc_and_free_hooks(&onMalloc, &countFree);
    return true;
}();
#endif

}  // namespace

CountingScope::CountingScope()
{
    counting = true;
}

CountingScope::~CountingScope()
{
    counting = false;
}

RealTimeCounts countsInside()
{
    return counts;
}

void resetCounts()
{
    counts = {};
}

}  // namespace parlaro::test

using parlaro::test::countAllocation;
using parlaro::test::countFree;
using parlaro::test::countLock;

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept
{
    countLock();
    return parlaro::test::lockMutex(mutex);
}

int pthread_cond_signal(pthread_cond_t* condition) noexcept
{
    countLock();
    return parlaro::test::signalCondition(condition);
}

int pthread_cond_broadcast(pthread_cond_t* condition) noexcept
{
    countLock();
    return parlaro::test::broadcastCondition(condition);
}

#ifndef PARLARO_COUNT_WITH_SANITIZER_HOOKS
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_calloc(std::size_t count, std::size_t size) noexcept;
void* __libc_realloc(void* memory, std::size_t size) noexcept;
void* __libc_memalign(std::size_t alignment, std::size_t size) noexcept;
void __libc_free(void* memory) noexcept;

void* malloc(std::size_t size) noexcept
{
    countAllocation();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    countAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size) noexcept
{
    countAllocation();
    return __libc_realloc(memory, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept
{
    countAllocation();
    void* memory = __libc_memalign(alignment, size);
    if (memory == nullptr)
        return ENOMEM;
    *result = memory;
    return 0;
}

void free(void* memory) noexcept
{
    countFree(memory);
    __libc_free(memory);
}
#endif

}  // extern "C"
