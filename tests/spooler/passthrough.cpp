// Thunks for the spooler calls the double does not model: each export jumps to the function of
// the same name in Wine's builtin winspool.drv, loaded by full path on first use. The thunk
// touches no argument, so it serves any signature (x86-64 calling convention only).
#include <windows.h>

#if !defined(__x86_64__)
#error "the test-double spooler is built for x86-64 only"
#endif

HMODULE Spd_Builtin(void);   // winspool_double.cpp

#define SPD_PASSTHROUGH(index, name) #name,
static const char* const c_PassThroughNames[] = {
#include "passthrough_list.h"
};
#undef SPD_PASSTHROUGH

static const int c_cPassThrough = (int)(sizeof(c_PassThroughNames) / sizeof(c_PassThroughNames[0]));

extern "C" {
void* spd_slots[c_cPassThrough];

// What a thunk runs when the builtin or its function cannot be had.
static ULONG_PTR WINAPI Spd_NotSupported(void)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

void* spd_resolve(int index)
{
    void* fn = NULL;
    HMODULE hBuiltin = Spd_Builtin();
    if (hBuiltin && index >= 0 && index < c_cPassThrough)
        fn = (void*)GetProcAddress(hBuiltin, c_PassThroughNames[index]);
    if (!fn)
        return (void*)Spd_NotSupported;
    spd_slots[index] = fn;
    return fn;
}
}

// On entry the stack is 8 mod 16; four pushes keep it so, 40 bytes more align it for the call
// (32 of them are the callee's home space). rcx, rdx, r8 and r9 are restored before the jump.
#define SPD_PASSTHROUGH(index, name)                                                   \
    __asm__(".text\n"                                                                 \
            ".p2align 4\n"                                                            \
            ".globl " #name "\n"                                                      \
            ".def " #name "; .scl 2; .type 32; .endef\n" #name ":\n"                  \
            "    movq spd_slots+" #index "*8(%rip), %rax\n"                           \
            "    testq %rax, %rax\n"                                                  \
            "    jz 1f\n"                                                             \
            "    jmpq *%rax\n"                                                        \
            "1:  pushq %rcx\n"                                                        \
            "    pushq %rdx\n"                                                        \
            "    pushq %r8\n"                                                         \
            "    pushq %r9\n"                                                         \
            "    subq $40, %rsp\n"                                                    \
            "    movl $" #index ", %ecx\n"                                            \
            "    call spd_resolve\n"                                                  \
            "    addq $40, %rsp\n"                                                    \
            "    popq %r9\n"                                                          \
            "    popq %r8\n"                                                          \
            "    popq %rdx\n"                                                         \
            "    popq %rcx\n"                                                         \
            "    jmpq *%rax\n");
#include "passthrough_list.h"
#undef SPD_PASSTHROUGH
