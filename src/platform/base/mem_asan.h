#pragma once
// Makes the platform's own heaps visible to AddressSanitizer.
//
// The heaps live inside one big host block, so without help the sanitizer sees every
// byte of it as addressable and an overrun from one block into the next goes unseen.
// In sanitizer builds the heaps poison what they keep for themselves (headers, free
// chunks, free slices) and unpoison exactly what they hand out. Their own code reads
// and writes those poisoned bytes all the time, so every function of the heaps that
// touches arena memory carries MEM_NO_ASAN. Inside such functions, no libc memory
// function may run over poisoned bytes: the sanitizer intercepts those calls whatever
// the caller's attribute.

#if defined(__SANITIZE_ADDRESS__)
#define MEM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEM_ASAN 1
#endif
#endif

#if defined(MEM_ASAN)
#include <sanitizer/asan_interface.h>
#define MEM_NO_ASAN __attribute__((no_sanitize_address))
#define MEM_POISON(addr, size) ASAN_POISON_MEMORY_REGION((addr), (size))
#define MEM_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION((addr), (size))
#else
#define MEM_NO_ASAN
#define MEM_POISON(addr, size) ((void)(addr), (void)(size))
#define MEM_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif
