// The slope measure: the orientation of an edge through a pixel's 3 x 3
// neighbourhood as a signed number. Negative for an edge along the
// (x+1, y-1) diagonal, positive for one along the (x+1, y+1) diagonal, 0 for
// none. Internal to the engine (not exported from the module).
#pragma once

#include <cstdlib>

#include "filter/oru.h"

// |q - p| summed over R, G, B: 0 .. 765.
inline int kata_s(const Pixel* p, const Pixel* q) {
  return std::abs(q->r - p->r) + std::abs(q->g - p->g) + std::abs(q->b - p->b);
}

// |q.A - p.A|: 0 .. 255.
inline int kata_s_a(const Pixel* p, const Pixel* q) {
  return std::abs(q->a - p->a);
}

// Colour measure at (x, y), -3060 .. 3060, read through getSrc; 0 at x < 1 or y < 1.
int katamuki(FilterInstance* instance, int x, int y);
// Alpha measure, -1020 .. 1020, read through getSrcA.
int katamuki_a(FilterInstance* instance, int x, int y);
