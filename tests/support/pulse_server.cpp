// tests/support/pulse_server.cpp
#include "support/pulse_server.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <poll.h>
#include <fstream>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr const char *SINK = "lumikey_test";

// The process's environment with some variables replaced (a null value removes one).
std::vector<std::string>
env_with(std::initializer_list<std::pair<const char *, const char *>> set) {
    std::vector<std::string> out;
    for (char **e = environ; *e; e++) {
        bool replaced = false;
        for (auto &kv : set)
            if (strncmp(*e, kv.first, strlen(kv.first)) == 0 && (*e)[strlen(kv.first)] == '=')
                replaced = true;
        if (!replaced) out.push_back(*e);
    }
    for (auto &kv : set)
        if (kv.second) out.push_back(std::string(kv.first) + "=" + kv.second);
    return out;
}

pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
            const std::string &output) {
    std::vector<char *> a, e;
    for (auto &s : argv) a.push_back(const_cast<char *>(s.c_str()));
    a.push_back(nullptr);
    for (auto &s : env) e.push_back(const_cast<char *>(s.c_str()));
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, a[0], &fa, nullptr, a.data(), e.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

bool alive(pid_t pid) {
    int status;
    return waitpid(pid, &status, WNOHANG) == 0;
}

// Asks politely, then insists: a test must not hang on a child that will not go.
void end_child(pid_t pid, int sig) {
    kill(pid, sig);
    auto limit = Clock::now() + 5s;
    int status;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
}

bool socket_answers(const std::string &path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

} // namespace

PulseServer::PulseServer(uint32_t rate) : rate_(rate) {
    if (dir_.path().empty()) {
        why_ = "no temporary folder";
        return;
    }
    socket_ = dir_.file("native");
    std::string script = dir_.file("server.pa");
    fifo_ = dir_.file("sink.pipe");
    // Timed by the system clock, the pipe sink plays like a sound card whether or not the
    // pipe is read.
    std::ofstream(script) << "load-module module-pipe-sink sink_name=" << SINK << " file=" << fifo_
                          << " format=s16le channels=1 rate=" << rate
                          << " use_system_clock_for_timing=yes"
                          << "\nload-module module-native-protocol-unix auth-anonymous=1 socket="
                          << socket_ << "\nset-default-sink " << SINK << "\n";
    // Its own home and runtime folders: nothing of the user's session is read or disturbed.
    auto env = env_with({{"HOME", dir_.path().c_str()},
                         {"XDG_RUNTIME_DIR", dir_.path().c_str()},
                         {"XDG_CONFIG_HOME", dir_.path().c_str()},
                         {"PULSE_SERVER", nullptr},
                         {"DBUS_SESSION_BUS_ADDRESS", nullptr}});
    pid_ = spawn({"pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
                  "--use-pid-file=no", "--disallow-module-loading=no", "--log-target=stderr"},
                 env, dir_.file("server.log"));
    if (pid_ <= 0) {
        why_ = "pulseaudio cannot be run (is the pulseaudio package installed?)";
        pid_ = -1;
        return;
    }
    auto limit = Clock::now() + 15s;
    while (!socket_answers(socket_)) {
        if (!alive(pid_) || Clock::now() > limit) {
            if (alive(pid_)) end_child(pid_, SIGKILL);
            pid_ = -1;
            why_ = "pulseaudio did not start: " + read_file(dir_.file("server.log"));
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    env_ = std::make_unique<ScopedEnv>("PULSE_SERVER", ("unix:" + socket_).c_str());
}

PulseServer::~PulseServer() {
    record_stop();
    kill_now();
}

bool PulseServer::make_realtime(std::string *why) {
    if (!ok()) {
        if (why) *why = why_;
        return false;
    }
    DIR *tasks = opendir(("/proc/" + std::to_string(pid_) + "/task").c_str());
    if (!tasks) {
        if (why) *why = "the server's threads cannot be listed";
        return false;
    }
    bool all = true;
    int changed = 0;
    while (dirent *e = readdir(tasks)) {
        if (e->d_name[0] == '.') continue;
        sched_param p{};
        p.sched_priority = 5; // the daemon's own default for its device threads
        if (sched_setscheduler((pid_t)atoi(e->d_name), SCHED_RR, &p) == 0)
            changed++;
        else
            all = false;
    }
    closedir(tasks);
    if (!all || changed == 0) {
        if (why) *why = std::string("real-time scheduling refused: ") + strerror(errno);
        return false;
    }
    return true;
}

void PulseServer::kill_now() {
    if (pid_ > 0) end_child(pid_, SIGTERM);
    pid_ = -1;
}

bool PulseServer::record_start(std::string *why) {
    record_stop();
    if (!ok()) {
        if (why) *why = why_;
        return false;
    }
    fd_ = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd_ < 0) {
        if (why) *why = "the sink's pipe cannot be opened: " + std::string(strerror(errno));
        return false;
    }
    // What the pipe held from before is silence nobody asked for.
    char buf[16384];
    while (read(fd_, buf, sizeof buf) > 0) {
    }
    recorded_.clear();
    stop_reading_ = false;
    // The sink drops what does not fit in the pipe (under a second), so the reader must keep
    // up on a busy machine, and must not stop to copy a growing recording.
    recorded_.reserve((size_t)rate_ * 2 * 90);
    reader_ = std::thread([this] {
        ScopedRealtime keep_up;
        char chunk[16384];
        while (!stop_reading_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n > 0) recorded_.insert(recorded_.end(), chunk, chunk + n);
        }
    });
    return true;
}

std::string PulseServer::record_stop() {
    if (fd_ < 0) return "";
    stop_reading_ = true;
    reader_.join();
    close(fd_);
    fd_ = -1;
    std::string path = dir_.file("played.wav");
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char *>(&v), 2); };
    uint32_t bytes = (uint32_t)(recorded_.size() & ~(size_t)1);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate_);
    u32(rate_ * 2);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write(recorded_.data(), bytes);
    return path;
}
