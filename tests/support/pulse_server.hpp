// tests/support/pulse_server.hpp: a PulseAudio server of the test's own whose only sink plays
// into a pipe in real time, so what the server really mixed can be recorded to a WAV file.
// (A null sink's monitor would do in principle, but it hands its recording over in blocks of
// up to two seconds and drops what it holds when the recorder stops.)
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <sys/types.h>

#include "support/test_env.hpp"

// Starts the daemon in a temporary folder and points PULSE_SERVER at it for the object's
// lifetime. ok() is false (with a reason in why()) where no daemon can start here. With
// LUMIKEY_TEST_SOUND_SERVER=pipewire in the environment the server is PipeWire's PulseAudio
// server instead (pipewire, wireplumber and pipewire-pulse on a D-Bus session of their own),
// as Debian's desktops run it, with the same pipe sink.
class PulseServer {
public:
    enum Kind { PULSEAUDIO, PIPEWIRE };
    explicit PulseServer(uint32_t rate = 44100);
    PulseServer(uint32_t rate, Kind kind);
    Kind kind() const { return kind_; }
    ~PulseServer();
    PulseServer(const PulseServer &) = delete;
    PulseServer &operator=(const PulseServer &) = delete;
    bool ok() const { return pid_ > 0; }
    const std::string &why() const { return why_; }
    pid_t pid() const { return pid_; }
    // Gives every thread of the daemon real-time priority. It gives its device threads that
    // itself, but the one that talks to its clients stays at an ordinary (nice) level, and on
    // a machine loaded with other builds that thread alone stalls for tens of ms: a test of
    // the client's timing would report the machine's load. false with a reason where refused.
    bool make_realtime(std::string *why);
    // Ends the daemon at once, as a crash or a restart of the user's session would.
    void kill_now();
    // Records what the sink plays (mono, 16-bit, at the sink's rate) until record_stop.
    // false with a reason when nothing can be recorded.
    bool record_start(std::string *why);
    // Ends the recording and returns the WAV file's path ("" when none ran).
    std::string record_stop();
    // When the sink let the recorded sample at index go, as far as its reader saw: the time the
    // block holding it came out of the pipe, plus its place in that block at the sink's rate.
    // false for a sample that was not recorded.
    bool sample_time(size_t index, std::chrono::steady_clock::time_point *when) const;

private:
    void start_pulseaudio();
    void start_pipewire();
    std::vector<pid_t> processes() const;
    TempDir dir_;
    std::unique_ptr<ScopedEnv> env_;
    uint32_t rate_;
    Kind kind_;
    pid_t pid_ = -1;
    std::string why_;
    std::string socket_;
    std::string fifo_;
    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_reading_{false};
    std::vector<char> recorded_;
    // Bytes recorded before each block read, and when it was read.
    std::vector<std::pair<size_t, std::chrono::steady_clock::time_point>> blocks_;
};
