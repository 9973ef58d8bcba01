// tests/audio/mic_test.cpp: the microphone source against a real sound server. The test starts
// its own PulseAudio daemon whose default input is the monitor of a virtual output, plays a
// generated recording into that output, and reads the input the way the receive screen does:
// edges into a decoder under a lock, finished messages into a queue. Skipped, saying why, where
// no daemon can be started.
// ctest-label: threaded
#include "audio/mic.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/morse_audio.hpp"
#include "support/test_env.hpp"

namespace {

// What the sink gathers: the receive screen's RECEIVER in small.
struct Receiver {
    std::mutex lock;
    MORSE_DECODER *decoder = nullptr;
    std::vector<std::string> messages;
    size_t blocks = 0;
    bool saw_signal = false;
};

void sink(const MIC_BLOCK *block, void *user) {
    Receiver *rx = (Receiver *)user;
    std::lock_guard<std::mutex> g(rx->lock);
    rx->blocks++;
    if (!rx->decoder) return;
    mic_feed(block, rx->decoder);
    DECODED_MESSAGE m;
    if (decoder_poll_message(rx->decoder, &m)) rx->messages.push_back(m.text);
}

// Ends a child this test started: politely, then for good.
void end_child(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 50 && waitpid(pid, &status, WNOHANG) == 0; i++) usleep(100000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

// A private PulseAudio daemon whose default input hears its virtual output "morse".
class PulseDaemon {
public:
    explicit PulseDaemon(const TempDir &dir) : dir_(dir) {}
    ~PulseDaemon() { end_child(pid_); }
    // "" when running, else why not.
    std::string start() {
        if (system("command -v pulseaudio >/dev/null 2>&1") != 0)
            return "pulseaudio is not installed";
        std::string run = dir_.file("run");
        mkdir(run.c_str(), 0700);
        socket_ = run + "/native";
        std::ofstream(dir_.file("default.pa"))
            << "load-module module-native-protocol-unix socket=" << socket_ << " auth-anonymous=1\n"
            << "load-module module-null-sink sink_name=morse rate=" << MIC_RATE << "\n"
            << "set-default-source morse.monitor\n";
        std::ofstream(dir_.file("client.conf")) << "autospawn = no\n";
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test that crashed
            setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
            setenv("PULSE_RUNTIME_PATH", run.c_str(), 1);
            setenv("PULSE_STATE_PATH", dir_.file("state").c_str(), 1);
            setenv("HOME", dir_.path().c_str(), 1);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(open(dir_.file("daemon.log").c_str(), O_WRONLY | O_CREAT, 0600), 2);
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                   "--use-pid-file=no", "--system=no", "-F", dir_.file("default.pa").c_str(),
                   "--log-target=stderr", (char *)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100; i++) { // up to 10 s on a loaded machine
            struct stat sb;
            if (stat(socket_.c_str(), &sb) == 0) return "";
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return "pulseaudio exited at start (see its log in the test folder)";
            }
            usleep(100000);
        }
        return "pulseaudio did not open its socket within 10 s";
    }
    std::string server() const { return "unix:" + socket_; }

private:
    const TempDir &dir_;
    pid_t pid_ = -1;
    std::string socket_;
};

// Plays raw float samples into the daemon's output "morse" with the sound server's own player.
pid_t play(const std::string &server, const std::string &raw) {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv("PULSE_SERVER", server.c_str(), 1);
        execlp("pacat", "pacat", "--playback", "--device=morse", "--format=float32le",
               ("--rate=" + std::to_string(MIC_RATE)).c_str(), "--channels=1", "--raw", raw.c_str(),
               (char *)nullptr);
        _exit(127);
    }
    return pid;
}

// Waits (generously: the machine may be busy) until the microphone reaches a state.
bool wait_state(int want, int seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (mic_state() != want && std::chrono::steady_clock::now() < until) usleep(10000);
    return mic_state() == want;
}

TEST(MicTest, WithoutASoundServerStartReturnsAndTheStateSaysThereIsNoInput) {
    TempDir dir;
    ScopedEnv server("PULSE_SERVER", ("unix:" + dir.file("nobody-here")).c_str());
    ScopedEnv conf("PULSE_CLIENTCONFIG", dir.file("none.conf").c_str());
    Receiver rx;
    EXPECT_EQ(mic_start(sink, &rx), 1);
    EXPECT_TRUE(wait_state(MIC_NO_INPUT, 20)) << "state " << mic_state();
    DECODER_STATUS st{};
    st.luma = 99;
    mic_meter(&st);
    EXPECT_EQ(st.luma, 0.0f);
    EXPECT_EQ(mic_tone_hz(), 0.0f);
    mic_stop();
    EXPECT_EQ(mic_state(), MIC_STOPPED);
    mic_stop(); // harmless when stopped
    EXPECT_EQ(rx.blocks, 0u);
}

// A sound server that takes connections and never answers: the connection hangs until the
// client gives up. Neither start nor stop may wait for it (they run on the GUI's thread).
TEST(MicTest, AServerThatNeverAnswersKeepsNeitherStartNorStopWaiting) {
    TempDir dir;
    std::string path = dir.file("silent");
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, (sockaddr *)&addr, sizeof addr), 0);
    ASSERT_EQ(listen(fd, 8), 0);
    ScopedEnv server("PULSE_SERVER", ("unix:" + path).c_str());
    ScopedEnv conf("PULSE_CLIENTCONFIG", dir.file("none.conf").c_str());
    Receiver rx;
    // Run on a helper thread, so that a start that hangs fails the test instead of hanging it.
    std::atomic<int> result{0};
    std::thread starter([&] { result.store(mic_start(sink, &rx)); });
    starter.detach();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (result.load() == 0 && std::chrono::steady_clock::now() < until) usleep(10000);
    ASSERT_EQ(result.load(), 1) << "mic_start waited for a server that never answers";
    EXPECT_EQ(mic_state(), MIC_CONNECTING);
    std::atomic<int> stopped{0};
    std::thread stopper([&] {
        mic_stop();
        stopped.store(1);
    });
    stopper.detach();
    until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stopped.load() && std::chrono::steady_clock::now() < until) usleep(10000);
    ASSERT_EQ(stopped.load(), 1) << "mic_stop waited for a server that never answers";
    EXPECT_EQ(mic_state(), MIC_STOPPED);
    // Closing the socket ends the abandoned connection; its thread then frees what it held
    // without ever reaching the sink or touching the state.
    close(fd);
    usleep(200000);
    EXPECT_EQ(mic_state(), MIC_STOPPED);
    EXPECT_EQ(rx.blocks, 0u);
}

TEST(MicTest, AMessageSentIntoTheDefaultInputArrivesDecoded) {
    TempDir dir;
    PulseDaemon daemon(dir);
    std::string why = daemon.start();
    if (!why.empty()) GTEST_SKIP() << "no sound server for the microphone test: " << why;
    if (system("command -v pacat >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no sound server for the microphone test: pacat is not installed";
    ScopedEnv server("PULSE_SERVER", daemon.server().c_str());
    ScopedEnv conf("PULSE_CLIENTCONFIG", dir.file("client.conf").c_str());

    AUDIO_SCENE scene;
    scene.rate = MIC_RATE;
    scene.snr_db = 15;
    scene.tail_ms = 3000; // silence after the message, so that it ends on the decoder's clock
    AUDIO_STATION st;
    st.text = "SOS TEST";
    st.wpm = 22;
    st.hz = 750;
    st.start_ms = 500;
    std::vector<float> x = audio_render(scene, {st});

    Receiver rx;
    DECODER_CONFIG dc;
    decoder_config_default(&dc);
    dc.eom_timeout_ms = 1500;
    rx.decoder = decoder_new(&dc);
    std::string raw = dir.file("message.raw");
    std::ofstream(raw, std::ios::binary)
        .write((const char *)x.data(), (std::streamsize)(x.size() * sizeof(float)));
    ASSERT_EQ(mic_start(sink, &rx), 1);
    ASSERT_TRUE(wait_state(MIC_CAPTURING, 20)) << "state " << mic_state();
    pid_t player = play(daemon.server(), raw);
    double best_hz = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
        DECODER_STATUS status{};
        mic_meter(&status);
        if (status.has_signal) {
            rx.saw_signal = true;
            EXPECT_GT(status.hi, status.lo);
            EXPECT_GT(status.th_on, status.th_off);
            best_hz = mic_tone_hz();
        }
        std::lock_guard<std::mutex> g(rx.lock);
        if (!rx.messages.empty()) break;
        usleep(20000);
    }
    mic_stop();
    end_child(player);
    EXPECT_EQ(mic_state(), 0);
    size_t blocks = rx.blocks;
    usleep(50000);
    EXPECT_EQ(rx.blocks, blocks) << "the sink was called after mic_stop";
    ASSERT_EQ(rx.messages.size(), 1u);
    EXPECT_EQ(rx.messages[0], "SOS TEST");
    EXPECT_TRUE(rx.saw_signal);
    EXPECT_NEAR(best_hz, 750, 8);
    decoder_free(&rx.decoder);
}

} // namespace
