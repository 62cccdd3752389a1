#!/usr/bin/env bash
# Exits 0 when this kernel runs 32-bit x86 programs (IA-32 emulation on), 1 when it does not.
# Where it does not, 32-bit Wine cannot run and the i686 tests and benchmarks are skipped.
#
# The probe is a minimal static i386 ELF that exits with status 42 through the 32-bit system call
# gate; a kernel without the emulation refuses to run it ("Exec format error"), so only the exit
# status counts, not the kernel's version or any file.
set -u
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
{
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
    printf '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'
    printf '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00'
    # mov eax, 1 (exit); mov ebx, 42; int 0x80
    printf '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
} >"$probe"
chmod +x "$probe"
status=0
"$probe" 2>/dev/null || status=$?
[[ $status == 42 ]]
