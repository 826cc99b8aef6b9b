# Exits 32 through the 32-bit system call gate: only a kernel that runs 32-bit programs
# gets there (elsewhere the exec fails).
        .globl _start
_start: movl $1, %eax
        movl $32, %ebx
        int $0x80
