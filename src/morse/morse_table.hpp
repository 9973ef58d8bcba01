// src/morse/morse_table.hpp: the character set that can be sent as Morse, the folding of other
// characters onto it, and the UTF-8 reader and writer every message path uses. Pure functions,
// no state, callable from any thread.
#pragma once
#include <cstddef>
#include <cstdint>

// One character of the table: its upper-case code point and its dot-dash code.
struct MORSE_ENTRY {
    uint32_t cp;
    const char *code;
};

// The code point substituted for every malformed or unencodable input.
constexpr uint32_t MORSE_REPLACEMENT_CHAR = 0xFFFD;

// Reads one code point at *s and advances *s past it; malformed input reads as U+FFFD.
// Returns 0 without advancing at the end of the text (or for a null s / *s).
uint32_t morse_utf8_next(const char **s);
// Writes cp as UTF-8 plus a NUL into out (at least 5 bytes); returns the byte count (1 to 4),
// or 0 with an empty string for a surrogate or a value above U+10FFFF.
int morse_utf8_encode(uint32_t cp, char *out);
// The code of the table character cp (exact match, no case folding), or null.
const char *morse_code_of(uint32_t cp);
// Maps cp onto 0, 1 or 2 table characters written to out[0], out[1]; returns how many.
int morse_normalize(uint32_t cp, uint32_t *out);
// 1 when morse_normalize yields at least one character for cp.
int morse_is_supported(uint32_t cp);
// The table character whose code is exactly code, or 0 (null, empty or unknown code).
uint32_t morse_char_of(const char *code);
// Number of table rows (62).
size_t morse_table_size();
// Code point of table row i, or 0 past the end.
uint32_t morse_table_char(size_t i);
