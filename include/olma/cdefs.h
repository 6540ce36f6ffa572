// Basic definitions shared by every runtime header.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define RT_OS_WINDOWS 1
#else
#define RT_OS_POSIX 1
#endif

#if defined(_WIN64) || defined(__x86_64__) || defined(__aarch64__)
#define RT_ARCH_64BIT 1
#endif

/** UTF-16 code unit (host order, little-endian on every supported host). */
using RTUTF16 = char16_t;
/** Unicode code point. */
using RTUNICP = uint32_t;
/** Signed size (results that are a length or a negative status). */
typedef ptrdiff_t ssize_t;

/** Length argument meaning "up to the terminator". */
constexpr size_t RTSTR_MAX = ~(size_t)0;

/** A pointer within the first 4 KiB of the address space never points to anything. */
inline bool RT_VALID_PTR(const void *pv) {
    return (uintptr_t)pv >= 0x1000;
}

#if defined(_WIN32) && !defined(_WIN64)
#define RT_STDCALL __stdcall
#else
#define RT_STDCALL
#endif

#define RT_ELEMENTS(a) (sizeof(a) / sizeof((a)[0]))

#if defined(__GNUC__)
#define RT_NOINLINE __attribute__((noinline))
#define RT_NORETURN __attribute__((noreturn))
#else
#define RT_NOINLINE
#define RT_NORETURN
#endif
