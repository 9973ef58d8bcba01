// src/phone/phone_worker.hpp: what the flashlight and the vibrator share: a worker thread that
// makes the slow platform calls outside the lock, and the availability probed once.
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct PHONE_WORKER {
    std::mutex lock; // guards running, quit and the owner's fields beside it
    std::condition_variable cond;
    std::thread thread;
    int running = 0; // a worker thread exists
    int quit = 0;    // the worker is asked to end
};

// With w.lock held: when no worker runs, clears quit and starts body on a new thread. 1 when a
// worker runs; 0 after logging "could not start the <name> thread".
int phone_worker_ensure(PHONE_WORKER &w, void (*body)(), const char *name);
// Asks the worker to end (on_quit runs first under the lock, to leave the owner's request for
// the end) and waits for it outside the lock, so a platform call under way can finish.
void phone_worker_stop(PHONE_WORKER &w, void (*on_quit)());

// 1 or 0. On the first call asks probe (under lock, so two threads never probe twice), keeps
// the answer in available (-1 until then) and logs "<what> available" or "<what> not available".
int phone_probe_once(std::atomic<int> &available, std::mutex &lock, int (*probe)(void *),
                     void *user, const char *what);
