// fuzz/practice_fuzz.cpp: any text given as practice.json leaves every choice in its range, at
// most the log's room of sessions with their counts consistent, and writes a document that
// reads back to the same log; a refused text leaves the log as it was.
#include "fuzz_common.hpp"
#include "model/practice.hpp"

static void _check_choices(const PRACTICE_LOG *log) {
    FUZZ_CHECK(log->lesson >= 1 && log->lesson <= KOCH_LESSONS);
    FUZZ_CHECK(log->wpm >= 5 && log->wpm <= 50);
    FUZZ_CHECK(log->effective_wpm >= 5 && log->effective_wpm <= log->wpm);
    FUZZ_CHECK(log->group_len >= 1 && log->group_len <= 10);
    FUZZ_CHECK(log->minutes >= 1 && log->minutes <= 10);
    FUZZ_CHECK(log->source >= 0 && log->source < KOCH_SOURCE_COUNT);
    FUZZ_CHECK(log->mode == PRACTICE_COPY || log->mode == PRACTICE_INSTANT);
    FUZZ_CHECK(log->goal_ms >= 100 && log->goal_ms <= 5000);
    FUZZ_CHECK(log->count <= PRACTICE_MAX_SESSIONS);
}

static bool _same(const PRACTICE_LOG *a, const PRACTICE_LOG *b) {
    if (a->lesson != b->lesson || a->wpm != b->wpm || a->effective_wpm != b->effective_wpm ||
        a->group_len != b->group_len || a->minutes != b->minutes || a->source != b->source ||
        a->mode != b->mode || a->goal_ms != b->goal_ms || a->show_light != b->show_light ||
        a->count != b->count)
        return false;
    if (memcmp(a->chars, b->chars, sizeof a->chars) != 0) return false;
    for (size_t i = 0; i < a->count; i++)
        if (memcmp(&a->sessions[i], &b->sessions[i], sizeof(PRACTICE_SESSION)) != 0) return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = fuzz_text(data, size);
    PRACTICE_LOG *log = practice_new();
    FUZZ_CHECK(log);
    PRACTICE_LOG *fresh = practice_new();
    if (!practice_from_json(log, text.c_str())) {
        FUZZ_CHECK(_same(log, fresh));
        practice_free(&fresh);
        practice_free(&log);
        return 0;
    }
    _check_choices(log);
    char *json = practice_to_json(log);
    FUZZ_CHECK(json);
    FUZZ_CHECK(practice_from_json(fresh, json) == 1);
    FUZZ_CHECK(_same(log, fresh));
    free(json);
    practice_free(&fresh);
    practice_free(&log);
    return 0;
}
