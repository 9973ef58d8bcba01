// src/morse/morse_table.cpp: the Morse table, the folding of accented and typographic forms,
// and a strict UTF-8 reader/writer. Everything here is constant data and pure functions.
#include "morse/morse_table.hpp"

#include <cstring>

// The row order is part of the contract: morse_table_char exposes it.
static const MORSE_ENTRY _table[] = {
    {'A', ".-"},       {'B', "-..."},     {'C', "-.-."},     {'D', "-.."},      {'E', "."},
    {'F', "..-."},     {'G', "--."},      {'H', "...."},     {'I', ".."},       {'J', ".---"},
    {'K', "-.-"},      {'L', ".-.."},     {'M', "--"},       {'N', "-."},       {'O', "---"},
    {'P', ".--."},     {'Q', "--.-"},     {'R', ".-."},      {'S', "..."},      {'T', "-"},
    {'U', "..-"},      {'V', "...-"},     {'W', ".--"},      {'X', "-..-"},     {'Y', "-.--"},
    {'Z', "--.."},     {'0', "-----"},    {'1', ".----"},    {'2', "..---"},    {'3', "...--"},
    {'4', "....-"},    {'5', "....."},    {'6', "-...."},    {'7', "--..."},    {'8', "---.."},
    {'9', "----."},    {'.', ".-.-.-"},   {',', "--..--"},   {'?', "..--.."},   {'\'', ".----."},
    {'!', "-.-.--"},   {'/', "-..-."},    {'(', "-.--."},    {')', "-.--.-"},   {'&', ".-..."},
    {':', "---..."},   {';', "-.-.-."},   {'=', "-...-"},    {'+', ".-.-."},    {'-', "-....-"},
    {'_', "..--.-"},   {'"', ".-..-."},   {'$', "...-..-"},  {'@', ".--.-."},   {0x00C9, "..-.."},
    {0x00C8, ".-..-"}, {0x00C0, ".--.-"}, {0x00C7, "-.-.."}, {0x00D1, "--.--"}, {0x00DC, "..--"},
    {0x00D6, "---."},  {0x00C4, ".-.-"},
};
static_assert(sizeof(_table) / sizeof(_table[0]) == 62, "the Morse table has 62 rows");

// Characters without a code of their own that are sent as a near table character.
static const uint32_t _fold[][2] = {
    {0x00C1, 'A'}, {0x00C2, 'A'},  {0x00C3, 'A'},  {0x00C5, 'A'}, {0x00CA, 'E'}, {0x00CB, 'E'},
    {0x00CC, 'I'}, {0x00CD, 'I'},  {0x00CE, 'I'},  {0x00CF, 'I'}, {0x00D2, 'O'}, {0x00D3, 'O'},
    {0x00D4, 'O'}, {0x00D5, 'O'},  {0x00D9, 'U'},  {0x00DA, 'U'}, {0x00DB, 'U'}, {0x00DD, 'Y'},
    {0x0178, 'Y'}, {0x2019, '\''}, {0x2018, '\''}, {0x201C, '"'}, {0x201D, '"'}, {0x00AB, '"'},
    {0x00BB, '"'}, {0x2010, '-'},  {0x2013, '-'},  {0x2014, '-'},
};
static_assert(sizeof(_fold) / sizeof(_fold[0]) == 28, "the fold table has 28 rows");

static bool _is_continuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

uint32_t morse_utf8_next(const char **s) {
    if (!s || !*s || **s == '\0') return 0;
    const unsigned char *p = (const unsigned char *)*s;
    unsigned char lead = p[0];
    if (lead < 0x80) {
        *s += 1;
        return lead;
    }
    int len;
    uint32_t cp, min;
    if ((lead & 0xE0) == 0xC0) {
        len = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        // A stray continuation byte or 0xF8..0xFF can start nothing.
        *s += 1;
        return MORSE_REPLACEMENT_CHAR;
    }
    for (int i = 1; i < len; i++) {
        // The NUL is not a continuation byte, so a truncated sequence never reads past the end;
        // only the lead is consumed so the offending byte is read again on its own.
        if (!_is_continuation(p[i])) {
            *s += 1;
            return MORSE_REPLACEMENT_CHAR;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    *s += len;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return MORSE_REPLACEMENT_CHAR;
    return cp;
}

int morse_utf8_encode(uint32_t cp, char *out) {
    if (!out) return 0;
    unsigned char *o = (unsigned char *)out;
    int n;
    if (cp < 0x80) {
        o[0] = (unsigned char)cp;
        n = 1;
    } else if (cp < 0x800) {
        o[0] = (unsigned char)(0xC0 | (cp >> 6));
        o[1] = (unsigned char)(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            out[0] = '\0';
            return 0;
        }
        o[0] = (unsigned char)(0xE0 | (cp >> 12));
        o[1] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        o[2] = (unsigned char)(0x80 | (cp & 0x3F));
        n = 3;
    } else if (cp <= 0x10FFFF) {
        o[0] = (unsigned char)(0xF0 | (cp >> 18));
        o[1] = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
        o[2] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        o[3] = (unsigned char)(0x80 | (cp & 0x3F));
        n = 4;
    } else {
        out[0] = '\0';
        return 0;
    }
    out[n] = '\0';
    return n;
}

const char *morse_code_of(uint32_t cp) {
    for (const MORSE_ENTRY &e : _table)
        if (e.cp == cp) return e.code;
    return nullptr;
}

static uint32_t _fold_target(uint32_t cp) {
    for (const auto &f : _fold)
        if (f[0] == cp) return f[1];
    return 0;
}

int morse_normalize(uint32_t cp, uint32_t *out) {
    if (!out) return 0;
    // Letters that are written as two: the sender spells them out as two separate letters.
    if (cp == 0x00DF) {
        out[0] = 'S', out[1] = 'S';
        return 2;
    }
    if (cp == 0x00C6 || cp == 0x00E6) {
        out[0] = 'A', out[1] = 'E';
        return 2;
    }
    if (cp == 0x0152 || cp == 0x0153) {
        out[0] = 'O', out[1] = 'E';
        return 2;
    }
    uint32_t up = cp;
    if (cp >= 'a' && cp <= 'z')
        up = cp - 0x20;
    else if (cp >= 0x00E0 && cp <= 0x00FE && cp != 0x00F7)
        up = cp - 0x20;
    else if (cp == 0x00FF)
        up = 0x0178;
    if (morse_code_of(up)) {
        out[0] = up;
        return 1;
    }
    uint32_t target = _fold_target(up);
    if (target) {
        out[0] = target;
        return 1;
    }
    return 0;
}

int morse_is_supported(uint32_t cp) {
    uint32_t out[2];
    return morse_normalize(cp, out) > 0;
}

uint32_t morse_char_of(const char *code) {
    if (!code || !*code) return 0;
    for (const MORSE_ENTRY &e : _table)
        if (strcmp(e.code, code) == 0) return e.cp;
    return 0;
}

size_t morse_table_size() {
    return sizeof(_table) / sizeof(_table[0]);
}

uint32_t morse_table_char(size_t i) {
    return i < morse_table_size() ? _table[i].cp : 0;
}
