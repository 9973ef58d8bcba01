// tests/support/test_sequence.hpp: sequences for output tests, at the default proportions.
#pragma once
#include <cstdint>
#include "morse/sequencer.hpp"

// The sequence of text at unit_ms with the default dash and gap lengths; the caller frees it.
MORSE_SEQUENCE *test_sequence(const char *text, uint32_t unit_ms);
