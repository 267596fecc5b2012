// Flush-to-zero and denormals-are-zero for the span of a render: decaying
// feedback loops would otherwise crawl through denormal numbers, which cost
// the processor a hundred times more. The caller's mode comes back after.
#pragma once

#if defined(__x86_64__) || defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace rb::detail {

class DenormalGuard {
public:
#if defined(__x86_64__) || defined(__SSE__)
    DenormalGuard() noexcept : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }  // FTZ | DAZ
    ~DenormalGuard() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#elif defined(__aarch64__)
    DenormalGuard() noexcept {
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved_));
        const unsigned long long fz = saved_ | (1ull << 24);
        __asm__ __volatile__("msr fpcr, %0" : : "r"(fz));
    }
    ~DenormalGuard() { __asm__ __volatile__("msr fpcr, %0" : : "r"(saved_)); }

private:
    unsigned long long saved_;
#else
    DenormalGuard() noexcept {}
#endif
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;
};

}  // namespace rb::detail
