// tests/support/fake_phone.cpp
#include "support/fake_phone.hpp"

void FakePhone::hold() {
    std::lock_guard<std::mutex> g(lock_);
    held_ = true;
}

void FakePhone::release() {
    std::lock_guard<std::mutex> g(lock_);
    held_ = false;
    cond_.notify_all();
}

bool FakePhone::wait_entered(size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> g(lock_);
    return cond_.wait_for(g, timeout, [&] { return calls_.size() >= n; });
}

bool FakePhone::wait_done(size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> g(lock_);
    return cond_.wait_for(g, timeout, [&] {
        size_t done = 0;
        for (const Call &c : calls_) done += c.done;
        return done >= n;
    });
}

std::vector<FakePhone::Call> FakePhone::calls() {
    std::lock_guard<std::mutex> g(lock_);
    return calls_;
}

std::vector<std::string> FakePhone::names() {
    std::vector<std::string> out;
    for (const Call &c : calls()) out.push_back(c.what);
    return out;
}

int FakePhone::probes() {
    std::lock_guard<std::mutex> g(lock_);
    return probes_;
}

size_t FakePhone::_enter(const std::string &what) {
    std::unique_lock<std::mutex> g(lock_);
    calls_.push_back(Call{what, {}, false});
    size_t index = calls_.size() - 1;
    cond_.notify_all();
    cond_.wait(g, [&] { return !held_; });
    return index;
}

void FakePhone::_leave(size_t index, const uint32_t *pattern, size_t len) {
    std::lock_guard<std::mutex> g(lock_);
    // Read only now, after the wait: a pattern freed or replaced meanwhile shows up here.
    if (pattern) calls_[index].pattern.assign(pattern, pattern + len);
    calls_[index].done = true;
    cond_.notify_all();
}

int FakePhone::_probe(void *user) {
    auto *self = static_cast<FakePhone *>(user);
    std::lock_guard<std::mutex> g(self->lock_);
    self->probes_++;
    return self->present;
}

int FakePhone::_set(int on, void *user) {
    auto *self = static_cast<FakePhone *>(user);
    size_t i = self->_enter(on ? "set 1" : "set 0");
    self->_leave(i, nullptr, 0);
    return 1;
}

int FakePhone::_measure(void *user) {
    auto *self = static_cast<FakePhone *>(user);
    size_t i = self->_enter("measure");
    self->_leave(i, nullptr, 0);
    return self->latency_ms;
}

void FakePhone::_play(const uint32_t *pattern, size_t len, void *user) {
    auto *self = static_cast<FakePhone *>(user);
    size_t i = self->_enter("play");
    self->_leave(i, pattern, len);
}

void FakePhone::_on(void *user) {
    auto *self = static_cast<FakePhone *>(user);
    self->_leave(self->_enter("on"), nullptr, 0);
}

void FakePhone::_cancel(void *user) {
    auto *self = static_cast<FakePhone *>(user);
    self->_leave(self->_enter("cancel"), nullptr, 0);
}

TORCH_PLATFORM FakePhone::torch() {
    return TORCH_PLATFORM{_probe, _set, _measure, this};
}

VIBRATOR_PLATFORM FakePhone::vibrator() {
    return VIBRATOR_PLATFORM{_probe, _play, _on, _cancel, this};
}
