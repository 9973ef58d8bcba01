// src/morse/ear_grid.hpp: a machine keyer's grid of units, found from the edges of one rough
// reading. Every mark and every gap a machine keys is an odd number of units (1 or 3, and 1, 3
// or 7), so from one mark's start to the next is always an even number: the starts lie on a
// lattice of two units, and so do the ends, however the marks are weighted. Noise moves edges
// and adds a few, but across a whole message the lattice still shows, at speeds and in noise
// where the marks' lengths alone no longer tell the unit. An operator's hand keeps no lattice.
// It knows nothing of letters, levels or sound.
#pragma once
#include <vector>

// The starts and ends of a reading's marks, in ms, in time order.
struct EAR_EDGES {
    std::vector<double> up, down;
};

// How strongly the spans from each mark's start (and end) to the next keep to whole multiples of
// two units, for a unit within a tenth of *unit_ms: set to the unit that keeps them best. The
// strength grows with the square root of the edges' count (1 to 2 for edges at random, 3 and more
// for a machine at -3 dB, 10 and more clean); a span between neighbours is free of any drift of
// speed, so an operator with a steady hand shows one too, less sharply.
double ear_grid_spread(const EAR_EDGES &e, double *unit_ms);

// The one lattice of two units that every start and every end keeps, across the reading's first
// minute, for a unit within 2 % of *unit_ms: set to that unit, within about a tenth of a percent in
// noise. Returns how much of the edges keep to it (1: all of them exactly, about 1 / n for n
// edges at random, under 0.2 for a hand) and sets *edges to their count.
double ear_grid_lock(const EAR_EDGES &e, double *unit_ms, int *edges);

// How well the spans from a mark's start (or end) to the next inside a letter (no longer than
// a dash and its gap, with some to spare) keep a lattice of two units of unit_ms: from 1 (all
// of them) down; about 0 at random; under 0 at three times the keyer's unit, and at twice it
// unless few of the spans are a dot's.
double ear_grid_inside(const EAR_EDGES &e, double unit_ms);
