// tests/morse/keyer_run_test.cpp: the keyer thread against the real monotonic clock. Timing
// checks are about order and the scheduled times, never about how fast the thread wakes.
// ctest-label: threaded
#include "morse/keyer_run.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/ka_log.hpp"
#include "support/paddle_operator.hpp"
#include "support/test_env.hpp"

namespace {

// Records every output call with the moment it ran.
struct Recorder {
    struct Call {
        int down;
        double at;
        std::thread::id on;
    };
    std::mutex m;
    std::vector<Call> calls;

    static void out(int down, void *user) {
        Recorder *r = static_cast<Recorder *>(user);
        std::lock_guard<std::mutex> g(r->m);
        r->calls.push_back({down, keyrun_now_ms(), std::this_thread::get_id()});
    }
    std::vector<Call> snapshot() {
        std::lock_guard<std::mutex> g(m);
        return calls;
    }
    size_t count() {
        std::lock_guard<std::mutex> g(m);
        return calls.size();
    }
    // Waits (up to 20 s, generous for a loaded machine under sanitizers) for n calls.
    bool wait_count(size_t n) {
        for (int i = 0; i < 20000; i++) {
            if (count() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};

std::vector<KEYER_EDGE> take_all() {
    std::vector<KEYER_EDGE> all;
    KEYER_EDGE buf[64];
    size_t n;
    while ((n = keyrun_take_edges(buf, 64)) > 0) all.insert(all.end(), buf, buf + n);
    return all;
}

void expect_alternating(const std::vector<KEYER_EDGE> &edges) {
    for (size_t i = 0; i < edges.size(); i++) {
        EXPECT_EQ(edges[i].down, i % 2 == 0 ? 1 : 0) << "edge " << i;
        if (i > 0) {
            EXPECT_GE(edges[i].t, edges[i - 1].t) << "edge " << i;
        }
    }
}

// Voluntary context switches of all threads of this process: a thread that polls instead of
// sleeping until its deadline shows up here as hundreds of switches per second.
long context_switches() {
    long total = 0;
    std::error_code ec;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stol(line.substr(24));
    }
    return total;
}

class KeyrunTest : public ::testing::Test {
protected:
    void SetUp() override {
        keyrun_stop();
        take_all();
    }
    void TearDown() override { keyrun_stop(); }
};

} // namespace

TEST_F(KeyrunTest, PaddlesOutsideARunChangeNothing) {
    Recorder r;
    keyrun_paddles(1, 1);
    EXPECT_EQ(keyrun_running(), 0);
    ASSERT_EQ(keyrun_start(50, 0, Recorder::out, &r), 1);
    EXPECT_EQ(keyrun_running(), 1);
    keyrun_stop();
    EXPECT_EQ(keyrun_running(), 0);
    keyrun_paddles(1, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(r.count(), 0u);
    KEYER_EDGE e;
    EXPECT_EQ(keyrun_take_edges(&e, 1), 0u);
}

TEST_F(KeyrunTest, DitStartsBeforePaddlesReturnsAndEndsOnSchedule) {
    Recorder r;
    ASSERT_EQ(keyrun_start(50, 0, Recorder::out, &r), 1);
    const double before = keyrun_now_ms();
    keyrun_paddles(1, 0);
    const double after = keyrun_now_ms();
    std::vector<Recorder::Call> calls = r.snapshot();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].down, 1);
    EXPECT_EQ(calls[0].on, std::this_thread::get_id()); // inside keyrun_paddles, not later
    keyrun_paddles(0, 0);
    ASSERT_TRUE(r.wait_count(2));

    std::vector<KEYER_EDGE> edges = take_all();
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].down, 1);
    EXPECT_GE(edges[0].t, before);
    EXPECT_LE(edges[0].t, after);
    // The key screen ticks its decoder on CLOCK_MONOTONIC: the edges must be on it too.
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    EXPECT_NEAR(keyrun_now_ms(), (double)ts.tv_sec * 1000 + (double)ts.tv_nsec / 1e6, 50);
    EXPECT_EQ(edges[1].down, 0);
    EXPECT_NEAR(edges[1].t - edges[0].t, 50, 1e-6);
    EXPECT_GE(r.snapshot()[1].at, edges[1].t - 1e-3); // never early
}

TEST_F(KeyrunTest, SqueezeEdgesArriveInOrderWithScheduledTimes) {
    Recorder r;
    const double u = 20;
    ASSERT_EQ(keyrun_start((uint32_t)u, 0, Recorder::out, &r), 1);
    keyrun_paddles(1, 1);
    ASSERT_TRUE(r.wait_count(12));
    keyrun_paddles(0, 0);
    // Mode A: whatever sounds is finished, then the key stays up.
    for (int i = 0; i < 5000 && r.snapshot().back().down; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    keyrun_stop();

    std::vector<KEYER_EDGE> edges = take_all();
    std::vector<Recorder::Call> calls = r.snapshot();
    ASSERT_GE(edges.size(), 12u);
    ASSERT_EQ(edges.size(), calls.size());
    expect_alternating(edges);
    // dit, space, dah, space, ...: exact multiples of the unit, whenever the thread woke.
    const double pattern[4] = {1, 1, 3, 1};
    for (size_t i = 1; i < edges.size(); i++)
        EXPECT_NEAR(edges[i].t - edges[i - 1].t, pattern[(i - 1) % 4] * u, 1e-6) << i;
    for (size_t i = 0; i < calls.size(); i++) {
        EXPECT_EQ(calls[i].down, edges[i].down);
        EXPECT_GE(calls[i].at, edges[i].t - 1e-3) << "output ran before its time, edge " << i;
    }
}

TEST_F(KeyrunTest, StopWhileADahSoundsReleasesTheKeyOnce) {
    Recorder r;
    ASSERT_EQ(keyrun_start(1000, 1, Recorder::out, &r), 1); // a 3 s dah outlasts any delay
    keyrun_paddles(0, 1);
    keyrun_stop();
    keyrun_stop();
    std::vector<Recorder::Call> calls = r.snapshot();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].down, 1);
    EXPECT_EQ(calls[1].down, 0);

    // The queue is balanced too: the release is queued at the moment of the stop.
    std::vector<KEYER_EDGE> edges = take_all();
    ASSERT_EQ(edges.size(), 2u);
    expect_alternating(edges);
    EXPECT_LT(edges[1].t, edges[0].t + 3000);
    EXPECT_LE(edges[1].t, keyrun_now_ms());
}

TEST_F(KeyrunTest, SecondStartStopsTheFirst) {
    Recorder a, b;
    ASSERT_EQ(keyrun_start(1000, 0, Recorder::out, &a), 1);
    keyrun_paddles(1, 0);
    ASSERT_EQ(keyrun_start(1000, 0, Recorder::out, &b), 1);
    EXPECT_EQ(keyrun_running(), 1);
    std::vector<Recorder::Call> calls = a.snapshot();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].down, 0);
    KEYER_EDGE e;
    EXPECT_EQ(keyrun_take_edges(&e, 1), 0u); // the new run starts with an empty queue
    // The first run's paddles are gone: nothing sounds until the new run is told otherwise.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(b.count(), 0u);
    keyrun_paddles(0, 1);
    EXPECT_EQ(b.count(), 1u);
    keyrun_stop();
    EXPECT_EQ(a.count(), 2u);
    EXPECT_EQ(b.count(), 2u);
}

TEST_F(KeyrunTest, FullQueueKeepsTheFirst256InOrder) {
    Recorder r;
    ASSERT_EQ(keyrun_start(1, 0, Recorder::out, &r), 1);
    keyrun_paddles(1, 0);
    ASSERT_TRUE(r.wait_count(300));
    keyrun_paddles(0, 0);
    keyrun_stop();
    EXPECT_GE(r.count(), 300u); // the callback got every edge

    std::vector<KEYER_EDGE> edges(400);
    ASSERT_EQ(keyrun_take_edges(edges.data(), edges.size()), KEYRUN_QUEUE_SIZE);
    edges.resize(KEYRUN_QUEUE_SIZE);
    expect_alternating(edges);
    for (size_t i = 1; i < edges.size(); i++) EXPECT_NEAR(edges[i].t - edges[i - 1].t, 1, 1e-6);
}

TEST_F(KeyrunTest, TakeMovesTheOldestFirstAndKeepsTheRest) {
    Recorder r;
    ASSERT_EQ(keyrun_start(5, 0, Recorder::out, &r), 1);
    keyrun_paddles(0, 1);
    ASSERT_TRUE(r.wait_count(7));
    keyrun_stop();
    const size_t total = r.count();

    KEYER_EDGE first[2], rest[300];
    ASSERT_EQ(keyrun_take_edges(first, 2), 2u);
    EXPECT_EQ(keyrun_take_edges(nullptr, 0), 0u);
    ASSERT_EQ(keyrun_take_edges(rest, 300), total - 2);
    EXPECT_EQ(keyrun_take_edges(rest, 300), 0u);
    EXPECT_EQ(first[0].down, 1);
    EXPECT_EQ(first[1].down, 0);
    EXPECT_NEAR(first[1].t - first[0].t, 15, 1e-6);
    EXPECT_EQ(rest[0].down, 1);
    EXPECT_NEAR(rest[0].t - first[1].t, 5, 1e-6);
}

TEST_F(KeyrunTest, CallsFromTheOutputAreRefusedInsteadOfDeadlocking) {
    struct Nested {
        int running = -1;
        size_t taken = 99;
        int calls = 0;
        static void out(int, void *user) {
            Nested *n = static_cast<Nested *>(user);
            KEYER_EDGE e;
            n->running = keyrun_running();
            n->taken = keyrun_take_edges(&e, 1);
            keyrun_paddles(0, 0);
            keyrun_stop();
            n->calls++;
        }
    } nested;
    LogCapture log(LOG_ERR);
    ASSERT_EQ(keyrun_start(1000, 0, Nested::out, &nested), 1);
    keyrun_paddles(0, 1); // the output runs here, on this thread
    EXPECT_EQ(nested.calls, 1);
    EXPECT_EQ(nested.running, 0);
    EXPECT_EQ(nested.taken, 0u);
    EXPECT_EQ(keyrun_running(), 1); // the nested stop was refused
    EXPECT_TRUE(log.contains("keyrun_stop called from the keyer output, ignored"));
    keyrun_stop();
    EXPECT_EQ(nested.calls, 2);
}

TEST_F(KeyrunTest, StartStopPaddlesAndTakeInAnyOrderKeepTheKeyBalanced) {
    Recorder r;
    std::mt19937 rng(12345);
    std::atomic<bool> done{false};
    // A second reader of the queue, so that taking races with the keyer thread and the stops.
    std::thread taker([&] {
        KEYER_EDGE buf[8];
        while (!done.load()) {
            keyrun_take_edges(buf, 8);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 3000; i++) {
        switch (rng() % 8) {
        case 0:
            keyrun_start(1 + rng() % 3, (int)(rng() % 2), Recorder::out, &r);
            break;
        case 1:
            keyrun_stop();
            break;
        case 2:
            (void)keyrun_running();
            break;
        case 3:
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
            break;
        default:
            keyrun_paddles((int)(rng() % 2), (int)(rng() % 2));
            break;
        }
    }
    keyrun_stop();
    done.store(true);
    taker.join();

    std::vector<Recorder::Call> calls = r.snapshot();
    ASSERT_GT(calls.size(), 100u);
    for (size_t i = 0; i < calls.size(); i++)
        ASSERT_EQ(calls[i].down, i % 2 == 0 ? 1 : 0) << "output call " << i;
}

TEST_F(KeyrunTest, ThreadSleepsUntilItsDeadlinesInsteadOfPolling) {
    Recorder r;
    ASSERT_EQ(keyrun_start(50, 0, Recorder::out, &r), 1);
    long before = context_switches();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long idle = context_switches() - before;
    EXPECT_LT(idle, 40) << "switches in 500 ms with nothing to key";

    keyrun_paddles(0, 1); // a dah every 200 ms: 10 edges in a second
    before = context_switches();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const long held = context_switches() - before;
    keyrun_paddles(0, 0);
    EXPECT_LT(held, 80) << "switches in 1 s of held dahs";
    keyrun_stop(); // the release must reach r while it exists
    EXPECT_GE(r.count(), 6u);
}

TEST_F(KeyrunTest, OperatorKeysWholeLettersThroughTheThread) {
    // A long unit leaves the operator's sleeps a wide margin on a loaded machine.
    const uint32_t unit = 200;
    struct Case {
        const char *elements;
        int mode_b;
    } cases[] = {{"-.-.", 1}, {"-.-", 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.elements);
        Recorder r;
        ASSERT_EQ(keyrun_start(unit, c.mode_b, Recorder::out, &r), 1);
        PaddleScript script = paddle_operator_plan(c.elements, unit, c.mode_b);
        paddle_operator_perform(script, keyrun_now_ms(),
                                [](int dit, int dah) { keyrun_paddles(dit, dah); });
        const size_t edges_wanted = 2 * strlen(c.elements);
        ASSERT_TRUE(r.wait_count(edges_wanted));
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * unit)); // nothing more comes
        keyrun_stop();
        std::vector<KEYER_EDGE> edges = take_all();
        EXPECT_EQ(edges.size(), edges_wanted);
        EXPECT_EQ(r.count(), edges_wanted);
        EXPECT_EQ(keyer_edges_to_elements(edges, unit), c.elements);
    }
}
