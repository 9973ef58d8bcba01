// ctest-label: threaded
// The send thread: channel order, leads, loops, stopping at any moment, and its position.
// Times are checked against the schedule the player reports (repetition start times), with
// generous upper tolerances: a loaded machine may be late, but the player is never early.
#include "morse/player.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

const uint64_t MS = 1'000'000;
// Lateness a loaded 2-core machine under a sanitizer may add to one callback.
const uint64_t SLACK = 250 * MS;

uint64_t now_ns() {
    return (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

MORSE_SEQUENCE *build(const char *text, uint32_t unit_ms, uint32_t word_gap = 7) {
    MORSE_TIMING t{unit_ms, 3, 3, word_gap};
    return morse_sequence_build(text, &t);
}

enum Kind { REP, EVENT, STOP };

struct Call {
    int channel;
    Kind kind;
    size_t index;    // EVENT
    uint32_t rep;    // REP, EVENT
    uint64_t arg_ns; // REP: the repetition's start; STOP: finished
    uint64_t at_ns;  // when the callback ran
};

class Recorder;

// What a channel's callbacks see: the shared recorder and the channel's number.
struct Tag {
    Recorder *rec;
    int channel;
};

class Recorder {
public:
    // Optional hooks run on the player thread after a call is recorded.
    std::function<void(const Call &)> hook;

    PLAYER_CHANNEL channel(int number, uint32_t lead_ms) {
        tags_[number] = Tag{this, number};
        return PLAYER_CHANNEL{"test", lead_ms, &_rep, &_event, &_stop, &tags_[number]};
    }

    std::vector<Call> calls() {
        std::lock_guard<std::mutex> g(lock_);
        return calls_;
    }
    std::vector<Call> of(Kind kind, int channel = -1) {
        std::vector<Call> out;
        for (const Call &c : calls())
            if (c.kind == kind && (channel < 0 || c.channel == channel)) out.push_back(c);
        return out;
    }
    // Waits (bounded) until pred holds over the calls so far.
    bool wait_for(const std::function<bool(const std::vector<Call> &)> &pred,
                  int timeout_ms = 10000) {
        std::unique_lock<std::mutex> lk(lock_);
        return changed_.wait_for(lk, std::chrono::milliseconds(timeout_ms),
                                 [&] { return pred(calls_); });
    }
    bool wait_stops(size_t n) {
        return wait_for([n](const std::vector<Call> &cs) {
            size_t stops = 0;
            for (const Call &c : cs) stops += c.kind == STOP;
            return stops >= n;
        });
    }
    bool wait_calls(size_t n) {
        return wait_for([n](const std::vector<Call> &cs) { return cs.size() >= n; });
    }

private:
    void add(Call c) {
        c.at_ns = now_ns();
        {
            std::lock_guard<std::mutex> g(lock_);
            calls_.push_back(c);
        }
        changed_.notify_all();
        if (hook) hook(c);
    }
    static void _rep(const MORSE_SEQUENCE *, uint32_t rep, uint64_t start_ns, void *user) {
        Tag *t = (Tag *)user;
        t->rec->add(Call{t->channel, REP, 0, rep, start_ns, 0});
    }
    static void _event(const MORSE_SEQUENCE *, size_t index, uint32_t rep, void *user) {
        Tag *t = (Tag *)user;
        t->rec->add(Call{t->channel, EVENT, index, rep, 0, 0});
    }
    static void _stop(int finished, void *user) {
        Tag *t = (Tag *)user;
        t->rec->add(Call{t->channel, STOP, 0, 0, (uint64_t)finished, 0});
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    Tag tags_[PLAYER_MAX_CHANNELS];
};

// Owns a player for one test and frees it even when an assertion fails.
struct Player {
    MORSE_PLAYER *p = player_new();
    ~Player() { player_free(&p); }
};

// Repetition 0 starts 30 ms plus the largest lead after the start call, which ran between
// before and after.
void expect_first_start(uint64_t start, uint64_t before, uint64_t after, uint64_t max_lead_ms) {
    EXPECT_GE(start, before + (max_lead_ms + 30) * MS);
    EXPECT_LE(start, after + (max_lead_ms + 30) * MS);
}

std::string order(const std::vector<Call> &calls) {
    std::string out;
    for (const Call &c : calls) {
        if (!out.empty()) out += ' ';
        out += std::to_string(c.channel);
        out += c.kind == REP ? "r" : c.kind == EVENT ? "e" : "s";
        if (c.kind == EVENT) out += std::to_string(c.index);
        if (c.kind == STOP) out += std::to_string(c.arg_ns);
    }
    return out;
}

} // namespace

// Each test owns a recorder and a player; the recorder is declared first so that it outlives
// the player, whose thread calls into it until it is joined.
class PlayerTest : public ::testing::Test {
protected:
    Recorder rec;
    Player pl;
    uint64_t before = 0, after = 0; // around the last start call

    // Starts seq with one recorded channel per lead, numbered from 0.
    int play(MORSE_SEQUENCE *seq, int loop, std::vector<uint32_t> leads) {
        chs_.clear();
        for (size_t i = 0; i < leads.size(); i++) chs_.push_back(rec.channel((int)i, leads[i]));
        before = now_ns();
        int result = player_start(pl.p, seq, loop, chs_.data(), chs_.size());
        after = now_ns();
        return result;
    }

private:
    std::vector<PLAYER_CHANNEL> chs_;
};

TEST_F(PlayerTest, PlaysOnceOnOneChannelAndReportsTheNaturalEnd) {
    ASSERT_NE(pl.p, nullptr);
    ASSERT_EQ(play(build("E", 100), 0, {0}), 1);
    EXPECT_EQ(player_is_playing(pl.p), 1);
    EXPECT_EQ(player_is_looping(pl.p), 0);
    ASSERT_TRUE(rec.wait_stops(1));
    std::vector<Call> calls = rec.calls();
    ASSERT_EQ(order(calls), "0r 0e0 0e1 0s1");
    uint64_t start = calls[0].arg_ns;
    expect_first_start(start, before, after, 0);
    EXPECT_GE(calls[1].at_ns, start);
    EXPECT_LT(calls[1].at_ns, start + SLACK);
    // The zero-length closing gap marks the end of the dot, and the end follows at once.
    EXPECT_GE(calls[2].at_ns, start + 100 * MS);
    EXPECT_LT(calls[2].at_ns, start + 100 * MS + SLACK);
    EXPECT_GE(calls[3].at_ns, start + 100 * MS);
    // The sequence stays held after the end, closed with its zero-length gap.
    const MORSE_SEQUENCE *seq = player_sequence(pl.p);
    ASSERT_NE(seq, nullptr);
    EXPECT_EQ(seq->count, 2u);
    EXPECT_EQ(seq->total_ms, 100u);
    for (int i = 0; i < 500 && player_is_playing(pl.p); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(player_is_playing(pl.p), 0);
    uint32_t ms = 77, rep = 77;
    EXPECT_EQ(player_position(pl.p, &ms, &rep), 0);
    EXPECT_EQ(ms, 77u);
    EXPECT_EQ(rep, 77u);
    player_stop(pl.p); // joins the finished thread
    EXPECT_EQ(player_sequence(pl.p), seq);
    EXPECT_EQ(rec.of(STOP).size(), 1u);
}

TEST_F(PlayerTest, LeadsShiftEachChannelAndTiesGoToTheLowerChannel) {
    // Unit 100: channel 1 is due 100 ms early, so its closing gap ties with channel 0's dot;
    // channel 2 (lead 200) goes first throughout.
    ASSERT_EQ(play(build("E", 100), 0, {0, 100, 200}), 1);
    ASSERT_TRUE(rec.wait_stops(3));
    std::vector<Call> calls = rec.calls();
    EXPECT_EQ(order(calls), "2r 2e0 1r 1e0 2e1 0r 0e0 1e1 0e1 0s1 1s1 2s1");
    uint64_t start = calls[0].arg_ns;
    expect_first_start(start, before, after, 200);
    for (const Call &c : calls) {
        if (c.kind == REP) {
            EXPECT_EQ(c.arg_ns, start) << "start times are not shifted by the lead";
        }
        if (c.kind != EVENT) continue;
        uint64_t lead = c.channel * 100 * MS;
        uint64_t due = start + c.index * 100 * MS - lead;
        EXPECT_GE(c.at_ns, due) << order({c});
        EXPECT_LT(c.at_ns, due + SLACK) << order({c});
    }
}

TEST_F(PlayerTest, LeadsAboveOneSecondAreCutToOneSecond) {
    ASSERT_EQ(play(build("T", 20), 0, {5000, 0}), 1);
    ASSERT_TRUE(rec.wait_stops(2));
    std::vector<Call> reps = rec.of(REP);
    ASSERT_EQ(reps.size(), 2u);
    uint64_t start = reps[0].arg_ns;
    expect_first_start(start, before, after, 1000);
    std::vector<Call> first = rec.of(EVENT, 0);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_GE(first[0].at_ns, start - 1000 * MS);
    EXPECT_LT(first[0].at_ns, start - 1000 * MS + SLACK);
}

TEST_F(PlayerTest, LoopsWithAWordGapBetweenRepetitionsUntilStopped) {
    // Unit 20 ms, word gap 7: one repetition is the dot and the closing gap, 160 ms.
    ASSERT_EQ(play(build("E", 20), 1, {0, 40}), 1);
    EXPECT_EQ(player_is_looping(pl.p), 1);
    ASSERT_TRUE(rec.wait_for([](const std::vector<Call> &cs) {
        for (const Call &c : cs)
            if (c.kind == REP && c.channel == 0 && c.rep == 3) return true;
        return false;
    }));
    player_stop(pl.p);
    EXPECT_EQ(player_is_playing(pl.p), 0);
    const MORSE_SEQUENCE *seq = player_sequence(pl.p);
    ASSERT_EQ(seq->count, 2u);
    EXPECT_EQ(seq->total_ms, 160u);

    std::vector<Call> reps = rec.of(REP, 0);
    ASSERT_GE(reps.size(), 4u);
    for (size_t r = 0; r < reps.size(); r++) {
        EXPECT_EQ(reps[r].rep, r);
        EXPECT_EQ(reps[r].arg_ns, reps[0].arg_ns + r * 160 * MS);
        EXPECT_GE(reps[r].at_ns, reps[r].arg_ns);
    }
    // Each channel walks its events in order, repetition after repetition.
    for (int c = 0; c < 2; c++) {
        std::vector<Call> events = rec.of(EVENT, c);
        for (size_t i = 0; i < events.size(); i++) {
            EXPECT_EQ(events[i].index, i % 2);
            EXPECT_EQ(events[i].rep, i / 2);
        }
    }
    std::vector<Call> stops = rec.of(STOP);
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(order(stops), "0s0 1s0");
    EXPECT_EQ(rec.calls().back().kind, STOP);
}

// A loop whose closing gap cannot be added (here its length would overflow the sequence's
// time) still keeps the word gap between repetitions, in the period instead of the sequence.
TEST_F(PlayerTest, ALoopThatCannotBeClosedStillPausesBetweenRepetitions) {
    LogCapture log(LOG_ERR);
    MORSE_SEQUENCE *seq = build("E", 20);
    ASSERT_NE(seq, nullptr);
    seq->timing.unit_ms = 700'000'000; // seven of these exceed the 32-bit time
    ASSERT_EQ(play(seq, 1, {0}), 1);
    EXPECT_EQ(player_sequence(pl.p)->count, 1u); // not closed
    EXPECT_TRUE(log.contains("message too long")) << log.text();
    ASSERT_TRUE(rec.wait_for([](const std::vector<Call> &cs) {
        for (const Call &c : cs)
            if (c.kind == EVENT && c.index == 0) return true;
        return false;
    }));
    // Without the pause, repetitions of the 20 ms dot would follow each other back to back.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint32_t elapsed = 0, rep = 99;
    ASSERT_EQ(player_position(pl.p, &elapsed, &rep), 1);
    EXPECT_EQ(rep, 0u);
    EXPECT_EQ(elapsed, 20u);
    EXPECT_EQ(rec.of(REP).size(), 1u);
    player_stop(pl.p);
}

TEST_F(PlayerTest, StopDuringTheLeadInCallsOnlyOnStop) {
    ASSERT_EQ(play(build("SOS", 100), 1, {0, 1000, 500}), 1);
    uint32_t ms = 77, rep = 77;
    EXPECT_EQ(player_position(pl.p, &ms, &rep), 1);
    // Repetition 0 starts 1030 ms after the start call; until then the position is 0.
    if (now_ns() < before + 1030 * MS) {
        EXPECT_EQ(ms, 0u);
        EXPECT_EQ(rep, 0u);
    }
    player_stop(pl.p);
    uint64_t stopped = now_ns();
    EXPECT_EQ(player_is_playing(pl.p), 0);
    // The earliest channel is due 30 ms after the start: a stop that returned before then has
    // certainly come first (a machine that stalled longer only proves the stop calls' order).
    std::vector<Call> calls = rec.calls();
    if (stopped < before + 30 * MS) {
        EXPECT_EQ(order(calls), "0s0 1s0 2s0");
    } else {
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(order({calls.end() - 3, calls.end()}), "0s0 1s0 2s0");
    }
    player_stop(pl.p); // a second stop has nothing to join
    EXPECT_EQ(rec.calls().size(), calls.size());
}

TEST_F(PlayerTest, NothingToPlayIsRefusedAndTheSequenceStillHeld) {
    LogCapture log(LOG_INFO);
    PLAYER_CHANNEL chs[9];
    for (int i = 0; i < 9; i++) chs[i] = rec.channel(i % 8, 0);
    EXPECT_EQ(player_start(pl.p, build("E", 100), 0, chs, 9), 0);
    EXPECT_TRUE(log.contains("nothing to play (1 events, 9 channels)"));
    EXPECT_EQ(player_is_playing(pl.p), 0);
    EXPECT_EQ(player_start(pl.p, build("E", 100), 0, chs, 0), 0);
    EXPECT_EQ(player_start(pl.p, build("E", 100), 0, nullptr, 1), 0);
    EXPECT_EQ(player_start(pl.p, build("#", 100), 0, chs, 1), 0);
    ASSERT_NE(player_sequence(pl.p), nullptr);
    EXPECT_EQ(player_sequence(pl.p)->count, 0u);
    EXPECT_EQ(player_start(pl.p, nullptr, 0, chs, 1), 0);
    EXPECT_TRUE(log.contains("nothing to play (0 events, 1 channels)"));
    EXPECT_EQ(player_sequence(pl.p), nullptr);
    EXPECT_EQ(player_is_playing(pl.p), 0);
    EXPECT_TRUE(rec.calls().empty());
    // A null player still takes the sequence (a leak here shows under the address sanitizer).
    EXPECT_EQ(player_start(nullptr, build("E", 100), 0, chs, 1), 0);
    EXPECT_EQ(player_is_playing(nullptr), 0);
    EXPECT_EQ(player_is_looping(nullptr), 0);
    EXPECT_EQ(player_sequence(nullptr), nullptr);
    EXPECT_EQ(player_position(nullptr, nullptr, nullptr), 0);
    player_stop(nullptr);
    player_free(nullptr);
}

TEST_F(PlayerTest, PositionFollowsTheScheduleAcrossRepetitions) {
    ASSERT_EQ(play(build("E", 20), 1, {0}), 1); // period 160 ms
    ASSERT_TRUE(rec.wait_calls(1));
    uint64_t start = rec.calls()[0].arg_ns;
    bool saw_later_rep = false;
    for (int i = 0; i < 40; i++) {
        uint64_t asked = now_ns();
        uint32_t ms = 0, rep = 0;
        ASSERT_EQ(player_position(pl.p, &ms, &rep), 1);
        uint64_t answered = now_ns();
        uint64_t pos = (uint64_t)rep * 160 * MS + (uint64_t)ms * MS;
        EXPECT_LT(ms, 160u);
        EXPECT_LE(pos, answered - start);
        EXPECT_GT(pos + MS, asked - start); // floor to whole milliseconds
        saw_later_rep |= rep >= 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(13));
    }
    EXPECT_TRUE(saw_later_rep);
    EXPECT_EQ(player_position(pl.p, nullptr, nullptr), 1);
}

TEST_F(PlayerTest, LateCallbacksDelayFollowingEventsOnlyUntilTheScheduleCatchesUp) {
    rec.hook = [](const Call &c) {
        if (c.kind == EVENT && c.index == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
    };
    // Ten dots 80 ms apart, about 0.8 s in all.
    ASSERT_EQ(play(build("EEEEEEEEEE", 20), 0, {0}), 1);
    ASSERT_TRUE(rec.wait_stops(1));
    std::vector<Call> events = rec.of(EVENT);
    const MORSE_SEQUENCE *played = player_sequence(pl.p);
    ASSERT_EQ(events.size(), played->count) << "no event is dropped";
    uint64_t start = rec.of(REP)[0].arg_ns;
    for (size_t i = 0; i < events.size(); i++) {
        EXPECT_EQ(events[i].index, i);
        EXPECT_GE(events[i].at_ns, start + played->events[i].start_ms * MS);
        if (i > 0) {
            EXPECT_GE(events[i].at_ns, events[i - 1].at_ns);
        }
    }
    // The events due during the slow callback come right after it, the rest on time: the 400 ms
    // were not added to the end.
    uint64_t end_due = start + played->total_ms * MS;
    EXPECT_GE(events.back().at_ns, end_due);
    EXPECT_LT(events.back().at_ns, end_due + 200 * MS);
    EXPECT_EQ(rec.of(STOP)[0].arg_ns, 1u);
}

TEST_F(PlayerTest, StartingAgainStopsThePreviousPlaybackFirst) {
    Recorder first;
    // Joins before first goes, even when an assertion below ends the test early.
    struct StopAtEnd {
        MORSE_PLAYER *p;
        ~StopAtEnd() { player_stop(p); }
    } guard{pl.p};
    PLAYER_CHANNEL a = first.channel(0, 0);
    ASSERT_EQ(player_start(pl.p, build("SOS", 100), 1, &a, 1), 1);
    ASSERT_TRUE(first.wait_calls(2));
    ASSERT_EQ(play(build("E", 20), 0, {0}), 1);
    // The old channel's stop ran before the new start returned.
    std::vector<Call> old = first.calls();
    ASSERT_FALSE(old.empty());
    EXPECT_EQ(old.back().kind, STOP);
    EXPECT_EQ(old.back().arg_ns, 0u);
    ASSERT_TRUE(rec.wait_stops(1));
    EXPECT_EQ(order(rec.calls()), "0r 0e0 0e1 0s1");
    EXPECT_EQ(first.calls().size(), old.size());
    EXPECT_EQ(player_sequence(pl.p)->count, 2u);
}

TEST_F(PlayerTest, FreeWhilePlayingStopsTheThreadFirst) {
    MORSE_PLAYER *p = player_new();
    PLAYER_CHANNEL ch = rec.channel(0, 0);
    ASSERT_EQ(player_start(p, build("PARIS", 20), 1, &ch, 1), 1);
    ASSERT_TRUE(rec.wait_calls(3));
    player_free(&p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(rec.calls().back().kind, STOP);
    EXPECT_EQ(rec.of(STOP).size(), 1u);
}

TEST_F(PlayerTest, ControlCallsFromACallbackNeitherDeadlockNorFreeTheRunningPlayer) {
    LogCapture log(LOG_ERR);
    MORSE_PLAYER *self = pl.p;
    int start_result = -1;
    rec.hook = [&](const Call &c) {
        if (c.kind != EVENT || c.index != 2) return;
        MORSE_PLAYER *copy = self;
        player_free(&copy); // refused: the thread runs on this record
        EXPECT_EQ(copy, self);
        start_result = player_start(self, build("E", 20), 0, nullptr, 0);
        player_stop(self); // only asks; playback ends once this callback returns
    };
    ASSERT_EQ(play(build("SOS", 20), 1, {0}), 1);
    ASSERT_TRUE(rec.wait_stops(1));
    std::vector<Call> events = rec.of(EVENT);
    EXPECT_EQ(events.back().index, 2u) << "nothing is played after the stop request";
    EXPECT_EQ(rec.of(STOP)[0].arg_ns, 0u);
    EXPECT_EQ(start_result, 0);
    EXPECT_TRUE(log.contains("called from a player callback"));
    player_stop(pl.p);
    EXPECT_EQ(player_is_playing(pl.p), 0);
    EXPECT_EQ(player_sequence(pl.p)->count, 17u + 1);
}
