// src/ui/screen_progress.hpp: the learner's progress, drawn from the practice log: accuracy per
// session over time, minutes practised per day, each character's accuracy, and the sends keyed
// by hand (score, speed and how far the timing strays, session by session).
#pragma once

struct LUMIKEY_APP;

// Builds the four charts and their titles; the back key leads to the practice screen.
void screen_progress_build(LUMIKEY_APP *app);
