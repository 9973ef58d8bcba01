// tests/support/test_sequence.cpp
#include "support/test_sequence.hpp"

MORSE_SEQUENCE *test_sequence(const char *text, uint32_t unit_ms) {
    MORSE_TIMING t;
    morse_timing_default(&t);
    t.unit_ms = unit_ms;
    return morse_sequence_build(text, &t);
}
