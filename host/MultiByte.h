#pragma once
// Multibyte (UTF-8) string functions of the host. Every count is in bytes and
// no function ever splits a character. The texts are NUL-terminated.
#include <cstddef>

// 0 when both texts are equal byte for byte.
int DRAVMBstrcmp_A(const char* a, const char* b);
// 0 when both texts are equal without regard to case (UTF-8 aware).
int DRAVMBstricmp_A(const char* a, const char* b);
// 0 when the first `count` characters are equal without regard to case.
int DRAVMBstrnicmp_A(const char* a, const char* b, size_t count);
// 0 when the first `count` bytes are equal.
int DRAVMBstrnbcmp_A(const char* a, const char* b, size_t count);
// Copies `src` with its NUL; returns `dst`.
char* DRAVMBstrcpy_A(char* dst, const char* src);
// Copies the first `count` bytes (stopping early at a NUL); the caller writes
// the terminating NUL at dst[count]. Returns `dst`.
char* DRAVMBstrncpy_A(char* dst, const char* src, size_t count);
// Bytes before the first character that is in `set`, or the text's length.
size_t DRAVMBstrcspn_A(const char* text, const char* set);
// Bytes of the leading run of characters that are in `set`.
size_t DRAVMBstrspn_A(const char* text, const char* set);
// The next character's position; never steps past the terminating NUL.
char* DRAVMBstrinc_A(const char* position);
// The last occurrence of the (ASCII) character `c`, or null.
char* DRAVMBstrrchr_A(const char* text, int c);
// Upper-cases the text in place. A character whose upper case would need a
// different number of bytes is left as it is, so the length never changes.
char* DRAVMBstrupr_A(char* text);
