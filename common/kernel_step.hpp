// A step of a SIMD kernel's loop, written as a function of its own but
// inlined into the loop whatever the compiler's estimate of its size: called,
// the registers it shares with the loop would go through memory. Written
// after the kernel's KERNEL_TARGET.
#ifndef KESTREL_NATIVE_KERNEL_STEP_HPP
#define KESTREL_NATIVE_KERNEL_STEP_HPP

#define KESTREL_INLINE_STEP __attribute__((always_inline)) inline

#endif
