// tests/support/pulse_server.cpp
#include "support/pulse_server.hpp"

#include <algorithm>
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

// new_group: the child leads a process group of its own, so that it and whatever it starts
// can be ended together.
pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
            const std::string &output, bool new_group = false) {
    std::vector<char *> a, e;
    for (auto &s : argv) a.push_back(const_cast<char *>(s.c_str()));
    a.push_back(nullptr);
    for (auto &s : env) e.push_back(const_cast<char *>(s.c_str()));
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (new_group) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, a[0], &fa, &attr, a.data(), e.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

bool on_path(const char *name) {
    const char *path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        std::string file = dirs.substr(at, end - at) + "/" + name;
        if (access(file.c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

// Runs a command to its end; true when it ended with status 0.
bool run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
         const std::string &output) {
    pid_t pid = spawn(argv, env, output);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
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

PulseServer::PulseServer(uint32_t rate)
    : PulseServer(rate, [] {
          const char *kind = getenv("LUMIKEY_TEST_SOUND_SERVER");
          return kind && !strcmp(kind, "pipewire") ? PIPEWIRE : PULSEAUDIO;
      }()) {}

PulseServer::PulseServer(uint32_t rate, Kind kind) : rate_(rate), kind_(kind) {
    if (dir_.path().empty()) {
        why_ = "no temporary folder";
        return;
    }
    fifo_ = dir_.file("sink.pipe");
    if (kind_ == PIPEWIRE)
        start_pipewire();
    else
        start_pulseaudio();
}

void PulseServer::start_pipewire() {
    for (const char *tool :
         {"pipewire", "wireplumber", "pipewire-pulse", "dbus-run-session", "pactl"})
        if (!on_path(tool)) {
            why_ = std::string(tool) + " is not installed";
            return;
        }
    // No user session here: the session bus wireplumber needs is one of the server's own.
    auto env = env_with({{"HOME", dir_.path().c_str()},
                         {"XDG_RUNTIME_DIR", dir_.path().c_str()},
                         {"XDG_CONFIG_HOME", dir_.path().c_str()},
                         {"XDG_STATE_HOME", dir_.path().c_str()},
                         {"PULSE_SERVER", nullptr},
                         {"DISPLAY", nullptr},
                         {"DBUS_SESSION_BUS_ADDRESS", nullptr}});
    pid_ = spawn({"dbus-run-session", "--", "sh", "-c",
                  "pipewire & sleep 0.2; wireplumber & pipewire-pulse & wait"},
                 env, dir_.file("server.log"), true);
    if (pid_ <= 0) {
        why_ = "dbus-run-session cannot be run";
        pid_ = -1;
        return;
    }
    socket_ = dir_.file("pulse/native");
    auto limit = Clock::now() + 15s;
    while (!socket_answers(socket_)) {
        if (!alive(pid_) || Clock::now() > limit) {
            kill_now();
            why_ = "PipeWire did not start: " + read_file(dir_.file("server.log"));
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    // pipewire-pulse makes the pipe sink itself; wireplumber links every stream to the
    // default sink.
    std::string server = "unix:" + socket_, log = dir_.file("pactl.log");
    bool made = run({"pactl", "-s", server, "load-module", "module-pipe-sink",
                     std::string("sink_name=") + SINK, "file=" + fifo_, "format=s16le",
                     "channels=1", "rate=" + std::to_string(rate_)},
                    env, log);
    // The session manager may not know the new sink yet, and refuses it until it does.
    bool chosen = false;
    for (int i = 0; made && !chosen && i < 50; i++) {
        chosen = run({"pactl", "-s", server, "set-default-sink", SINK}, env, log);
        if (!chosen) std::this_thread::sleep_for(50ms);
    }
    if (!chosen) {
        kill_now();
        why_ = "PipeWire's pulse server would not make the pipe sink: " + read_file(log);
        return;
    }
    env_ = std::make_unique<ScopedEnv>("PULSE_SERVER", server.c_str());
}

void PulseServer::start_pulseaudio() {
    socket_ = dir_.file("native");
    std::string script = dir_.file("server.pa");
    // Timed by the system clock, the pipe sink plays like a sound card whether or not the
    // pipe is read.
    std::ofstream(script) << "load-module module-pipe-sink sink_name=" << SINK << " file=" << fifo_
                          << " format=s16le channels=1 rate=" << rate_
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
    bool all = true;
    int changed = 0;
    for (pid_t pid : processes()) {
        DIR *tasks = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
        if (!tasks) {
            if (why) *why = "the server's threads cannot be listed";
            return false;
        }
        while (dirent *e = readdir(tasks)) {
            if (e->d_name[0] == '.') continue;
            pid_t tid = (pid_t)atoi(e->d_name);
            // PipeWire's own real-time threads stay at the priority it chose.
            if (sched_getscheduler(tid) == SCHED_FIFO) continue;
            sched_param p{};
            p.sched_priority = 5; // the daemon's own default for its device threads
            if (sched_setscheduler(tid, SCHED_RR, &p) == 0)
                changed++;
            else
                all = false;
        }
        closedir(tasks);
    }
    if (!all || changed == 0) {
        if (why) *why = std::string("real-time scheduling refused: ") + strerror(errno);
        return false;
    }
    return true;
}

// The daemon, or for PipeWire every process of the group its session leads.
std::vector<pid_t> PulseServer::processes() const {
    if (kind_ == PULSEAUDIO) return {pid_};
    std::vector<pid_t> out;
    DIR *proc = opendir("/proc");
    if (!proc) return out;
    while (dirent *e = readdir(proc)) {
        pid_t pid = (pid_t)atoi(e->d_name);
        if (pid > 0 && getpgid(pid) == pid_) out.push_back(pid);
    }
    closedir(proc);
    return out;
}

void PulseServer::kill_now() {
    if (pid_ <= 0) return;
    if (kind_ == PIPEWIRE) {
        // The whole group the session leads, and nothing else.
        kill(-pid_, SIGTERM);
        end_child(pid_, SIGTERM);
        std::this_thread::sleep_for(50ms);
        kill(-pid_, SIGKILL);
    } else {
        end_child(pid_, SIGTERM);
    }
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
    blocks_.clear();
    blocks_.reserve(90 * 1000);
    reader_ = std::thread([this] {
        ScopedRealtime keep_up;
        char chunk[16384];
        while (!stop_reading_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n <= 0) continue;
            if (blocks_.size() < blocks_.capacity())
                blocks_.push_back({recorded_.size(), Clock::now()});
            recorded_.insert(recorded_.end(), chunk, chunk + n);
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

bool PulseServer::sample_time(size_t index, Clock::time_point *when) const {
    size_t byte = index * 2;
    if (blocks_.empty() || byte < blocks_.front().first || byte >= recorded_.size()) return false;
    auto after = std::upper_bound(blocks_.begin(), blocks_.end(), byte,
                                  [](size_t b, const auto &block) { return b < block.first; });
    const auto &block = *(after - 1);
    *when = block.second +
            std::chrono::microseconds((int64_t)(byte - block.first) / 2 * 1000000 / (int64_t)rate_);
    return true;
}
