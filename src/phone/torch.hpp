// src/phone/torch.hpp: the flashlight as a player channel, a live switch for hand keying and a
// latency measurement. Switching is slow, so a worker thread does it and applies only the
// latest wanted state. The desktop has no flashlight: everything reports unavailable.
#pragma once
#include <cstdint>
#include "morse/player.hpp"

// The platform side of the flashlight. Any call may block. set is made only from the worker,
// measure_latency only from the measuring thread.
struct TORCH_PLATFORM {
    int (*probe)(void *user);           // 1 when there is a flashlight
    int (*set)(int on, void *user);     // switches it; 1 on success
    int (*measure_latency)(void *user); // switching delay in ms, -1 when it cannot measure
    void *user;
};

// Installs the platform side (copied); null restores the desktop's, which has no flashlight.
// Forgets the probed availability and any measured latency. Only while no worker runs: before
// first use or after torch_shutdown, and not during a measurement.
void torch_set_platform(const TORCH_PLATFORM *platform);

// 1 when there is a flashlight; probed once, the answer logged once.
int torch_available();
// The "torch" channel with lead lead_ms: on during dots and dashes, off in gaps and at the end.
PLAYER_CHANNEL torch_channel(uint32_t lead_ms);
// Hand keying: switches the flashlight on or off (asynchronously); nothing when unavailable.
void torch_live(int on);
// Switches the flashlight on again if it should be on (the platform may have turned it off).
void torch_resync();
// Turns the flashlight off and ends the worker (waiting for a switch under way); a later use
// starts a new one.
void torch_shutdown();
// Starts measuring the switching delay in the background; when done, a wake event is posted
// on wake_source (an ALLEGRO_EVENT_SOURCE, may be null). 0 when unavailable or already busy.
int torch_measure_start(void *wake_source);
// The measured delay in ms; -1 none or failed, -2 while a measurement runs.
int torch_latency_result();
