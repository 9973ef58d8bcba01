// bench/ear_bench_texts.hpp: the messages the ear's benchmarks read, and so the letters (and
// their shares) that the bound on any reading is worked out over.
#pragma once

inline const char *const EAR_BENCH_TEXTS[] = {
    "CQ CQ DE F4LKY F4LKY K",
    "THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS",
    "RST 579 QTH NEAR LYON NAME ANNE HW? BK",
    "PSE QSL VIA BUREAU 73 ES GL",
};
