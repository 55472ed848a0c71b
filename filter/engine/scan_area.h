// The area a smoothing run scans: the whole frame, or the part of the preview
// window that the canvas shows. Shared by both forms of the scan.
#pragma once

#include <climits>

#include "filter/oru.h"

// The columns and rows holding scan positions: the area without its
// outermost columns and rows.
struct Area {
  int xFirst, xLast, yFirst, yLast;
};

// Positions reach two lines beyond themselves (the slope measure at the next
// position): keep them that far from the ends of the int range.
constexpr long long kLowest = static_cast<long long>(INT_MIN) + 2;
constexpr long long kHighest = static_cast<long long>(INT_MAX) - 2;

inline void innerRange(long long first, long long count, int* lo, int* hi) {
  long long a = first + 1, b = first + count - 2;
  if (a < kLowest) a = kLowest;
  if (b > kHighest) b = kHighest;
  if (b < a) {
    // No position: a view beyond the end of the range gives an empty
    // range, not one that wraps round to the other end.
    *lo = 1;
    *hi = 0;
    return;
  }
  *lo = static_cast<int>(a);
  *hi = static_cast<int>(b);
}

// The part of the 320 x 240 window that the canvas shows at this zoom.
inline long long windowSpan(int full, int zoom) {
  if (zoom <= 0) return full;
  if (zoom >= 31) return 0;
  return full >> zoom;
}

inline Area scanArea(const FilterInstance* inst, int fullFrame) {
  Area a;
  if (fullFrame) {
    innerRange(0, inst->width, &a.xFirst, &a.xLast);
    innerRange(0, inst->height, &a.yFirst, &a.yLast);
  } else {
    innerRange(inst->viewX, windowSpan(kPreviewWidth, inst->zoom), &a.xFirst, &a.xLast);
    innerRange(inst->viewY, windowSpan(kPreviewHeight, inst->zoom), &a.yFirst, &a.yLast);
  }
  return a;
}

inline bool hasPositions(const Area& a) {
  return a.xFirst <= a.xLast && a.yFirst <= a.yLast;
}
