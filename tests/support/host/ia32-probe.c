/* Tells whether this machine's kernel runs 32-bit x86 code natively.
 *
 * Starting a 32-bit program proves nothing: a binfmt_misc handler (qemu-user)
 * may have been registered for 32-bit ELF files, and then the program starts
 * anyway, only slower. So this 64-bit program switches to the kernel's 32-bit
 * user code segment itself (selector 0x23), runs one instruction there and
 * comes back (selector 0x33). A kernel without 32-bit support (ia32 emulation
 * switched off at boot, or not built) faults on the switch.
 *
 * Exit status: 0 native 32-bit support, 1 none, 2 the probe could not run.
 * Build with: cc -O1 -mno-red-zone -o ia32-probe ia32-probe.c (x86_64 host). */
#define _GNU_SOURCE
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#if !defined(__x86_64__)
int main(void) {
    return 2;
}
#else

static void on_fault(int signo) {
    (void)signo;
    _exit(1);
}

int main(void) {
    /* The fault may arrive while the stack pointer is the 32-bit one below:
     * the handler runs on a stack of its own. */
    static uint8_t alt_stack[64 * 1024];
    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_sp = alt_stack;
    ss.ss_size = sizeof alt_stack;
    if (sigaltstack(&ss, NULL) != 0)
        return 2;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fault;
    sa.sa_flags = SA_ONSTACK;
    sigaction(SIGSEGV, &sa, NULL);
    sigaction(SIGILL, &sa, NULL);
    sigaction(SIGBUS, &sa, NULL);

    /* Code and stack of the 32-bit excursion must lie below 4 GiB. */
    uint8_t* low =
        mmap(NULL, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (low == MAP_FAILED)
        return 2;

    /* low+0: 32-bit code, "lret": pops EIP and CS from the 32-bit stack. */
    low[0] = 0xCB;
    /* low+16: 64-bit code, "movabs $slot, %rax; mov (%rax), %rsp; ret":
     * restores the saved stack pointer and returns behind the far return. */
    const uint64_t slot = (uint64_t)(uintptr_t)(low + 64);
    uint8_t back64[] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0x48, 0x8B, 0x20, 0xC3};
    memcpy(back64 + 2, &slot, sizeof slot);
    memcpy(low + 16, back64, sizeof back64);
    /* The stack near the end of the page: first the 64-bit far return frame
     * (RIP = low+0, CS = 0x23), right above it the 32-bit one (EIP = low+16,
     * CS = 0x33) that "lret" takes. */
    uint8_t* top = low + 4096 - 64;
    const uint32_t frame32[2] = {(uint32_t)(uintptr_t)(low + 16), 0x33};
    memcpy(top, frame32, sizeof frame32);
    const uint64_t frame64[2] = {(uint64_t)(uintptr_t)low, 0x23};
    memcpy(top - 16, frame64, sizeof frame64);

    __asm__ volatile("call 1f\n\t"
                     "jmp 2f\n"
                     "1:\n\t"
                     "mov %%rsp, (%0)\n\t"
                     "mov %1, %%rsp\n\t"
                     "lretq\n"
                     "2:\n\t"
                     :
                     : "D"(low + 64), "S"(top - 16)
                     : "rax", "memory", "cc");
    return 0;
}
#endif
