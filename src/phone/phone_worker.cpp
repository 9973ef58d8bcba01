// src/phone/phone_worker.cpp
#include "phone/phone_worker.hpp"

#include <system_error>

#include "support/ka_log.hpp"

int phone_worker_ensure(PHONE_WORKER &w, void (*body)(), const char *name) {
    if (w.running) return 1;
    w.quit = 0;
    try {
        w.thread = std::thread(body);
    } catch (const std::system_error &) {
        ka_log(LOG_ERR, "could not start the %s thread", name);
        return 0;
    }
    w.running = 1;
    return 1;
}

void phone_worker_stop(PHONE_WORKER &w, void (*on_quit)()) {
    std::thread worker;
    {
        std::lock_guard<std::mutex> hold(w.lock);
        w.quit = 1;
        if (on_quit) on_quit();
        w.cond.notify_one();
        worker = std::move(w.thread);
    }
    if (worker.joinable()) worker.join();
    std::lock_guard<std::mutex> hold(w.lock);
    w.running = 0;
}

int phone_probe_once(std::atomic<int> &available, std::mutex &lock, int (*probe)(void *),
                     void *user, const char *what) {
    int a = available.load();
    if (a >= 0) return a;
    std::lock_guard<std::mutex> hold(lock);
    a = available.load();
    if (a < 0) {
        a = probe && probe(user) == 1 ? 1 : 0;
        available.store(a);
        ka_log(LOG_INFO, "%s %savailable", what, a ? "" : "not ");
    }
    return a;
}
