// tests/support/fake_phone.hpp: a stand-in for the phone's flashlight and vibrator that records
// every platform call and, while held, keeps each call blocked, as a slow driver would.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "phone/torch.hpp"
#include "phone/vibrator.hpp"

class FakePhone {
public:
    struct Call {
        std::string what;              // "set 1", "set 0", "play", "on", "cancel"
        std::vector<uint32_t> pattern; // for "play": the pattern as it read at the call's end
        bool done = false;
    };

    int present = 1;     // what probe answers
    int latency_ms = -1; // what the latency measurement answers

    // While held, every call is recorded on entry and then waits for release().
    void hold();
    void release();
    // Waits until at least n calls have been entered; false after the timeout.
    bool wait_entered(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until at least n calls have returned; false after the timeout.
    bool wait_done(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // A snapshot of the calls so far, and just their names.
    std::vector<Call> calls();
    std::vector<std::string> names();
    int probes();

    TORCH_PLATFORM torch();
    VIBRATOR_PLATFORM vibrator();

private:
    size_t _enter(const std::string &what);
    void _leave(size_t index, const uint32_t *pattern, size_t len);

    static int _probe(void *user);
    static int _set(int on, void *user);
    static int _measure(void *user);
    static void _play(const uint32_t *pattern, size_t len, void *user);
    static void _on(void *user);
    static void _cancel(void *user);

    std::mutex lock_;
    std::condition_variable cond_;
    bool held_ = false;
    int probes_ = 0;
    std::vector<Call> calls_;
};
