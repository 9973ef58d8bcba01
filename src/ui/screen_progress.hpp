// src/ui/screen_progress.hpp: the learner's progress, drawn from the practice log: accuracy per
// session over time, minutes practised per day, and each character's accuracy.
#pragma once

struct LUMIKEY_APP;

// Builds the three charts and their titles; the back key leads to the practice screen.
void screen_progress_build(LUMIKEY_APP *app);
