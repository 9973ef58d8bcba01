// tests/morse/keyer_decoder_test.cpp: letters squeeze-keyed on the paddles, through the iambic
// keyer, read back by the decoder as the key screen does.
#include <gtest/gtest.h>

#include <string>

#include "morse/decoder.hpp"
#include "morse/keyer.hpp"
#include "support/paddle_operator.hpp"

namespace {

std::string key_and_decode(const char *elements, uint32_t unit, int mode_b, uint32_t fixed_unit) {
    PaddleScript script = paddle_operator_plan(elements, unit, mode_b, 1000, 0.3);
    std::vector<KEYER_EDGE> edges = paddle_operator_play(script, unit, mode_b);
    DECODER_CONFIG cfg;
    decoder_config_default(&cfg);
    cfg.human = 1;
    cfg.fixed_unit_ms = fixed_unit;
    MORSE_DECODER *d = decoder_new(&cfg);
    double end = 0;
    for (const KEYER_EDGE &e : edges) {
        decoder_key(d, e.t, e.down);
        end = e.t;
    }
    decoder_tick(d, end + cfg.eom_timeout_ms + 1);
    DECODED_MESSAGE m{};
    std::string text = decoder_poll_message(d, &m) ? m.text : "(nothing)";
    decoder_free(&d);
    return text;
}

TEST(KeyerDecoderTest, PaddleKeyedLettersDecodeInBothModesAndSpeeds) {
    struct {
        const char *text, *elements;
    } cases[] = {{"C", "-.-."},  {"K", "-.-"},   {"Q", "--.-"},       {"Y", "-.--"},
                 {"R", ".-."},   {"F", "..-."},  {"L", ".-.."},       {"1", ".----"},
                 {"5", "....."}, {"0", "-----"}, {"CQ", "-.-. --.-"}, {"73", "--... ...--"}};
    for (uint32_t unit : {80u, 40u}) {
        for (int mode_b = 0; mode_b <= 1; mode_b++) {
            for (uint32_t fixed : {0u, unit}) {
                for (const auto &c : cases) {
                    EXPECT_EQ(key_and_decode(c.elements, unit, mode_b, fixed), c.text)
                        << "unit " << unit << (mode_b ? " mode B" : " mode A") << " fixed "
                        << fixed;
                }
            }
        }
    }
}

} // namespace
