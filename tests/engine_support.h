// Engine test set-ups: an instance whose source is a set of working planes
// owned by the test (read with readB / readB_a) and whose destination is a
// second image reached through test routines that count what they do.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <vector>

#include "filter/oru.h"

namespace oru_test {

// Four byte planes R, G, B, A of one size, with clamped access.
struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> c[4];
  Image() = default;
  Image(int w, int h, Pixel fill = Pixel{0, 0, 0, 0});
  Pixel at(int x, int y) const;
  void set(int x, int y, Pixel p);
  // Sets every pixel for which f(x, y) gives true to on, the others to off.
  void paint(const std::function<bool(int, int)>& f, Pixel on, Pixel off);
};

// One kernel call as the scan made it.
struct KernelCall {
  int direction;
  bool alpha;
  int runStart, stepPos, runEnd, line;
  bool operator==(const KernelCall& o) const {
    return direction == o.direction && alpha == o.alpha && runStart == o.runStart &&
           stepPos == o.stepPos && runEnd == o.runEnd && line == o.line;
  }
};
std::ostream& operator<<(std::ostream& out, const KernelCall& c);

// A zeroed FilterInstance whose working planes are `source` and whose
// destination routines address `destination`. While it lives, every kernel
// call is recorded in calls().
class EngineRig {
 public:
  EngineRig(const Image& source, const Image& destination);
  ~EngineRig();
  FilterInstance* instance() { return &inst_; }
  Image& source() { return source_; }
  Image& destination() { return destination_; }
  const std::vector<KernelCall>& calls() const { return calls_; }
  long dstReads() const { return dstReads_; }
  long dstWrites() const { return dstWrites_; }
  long srcReads() const { return srcReads_; }
  // The access pointers the destination writes were handed.
  const std::vector<const FilterAccess*>& writeAccesses() const { return writeAccesses_; }

 private:
  static void getSrc(FilterInstance*, int x, int y, Pixel* out);
  static void getSrcA(FilterInstance*, int x, int y, Pixel* out);
  static void getDst(FilterInstance*, int x, int y, Pixel* out);
  static void getDstA(FilterInstance*, int x, int y, Pixel* out);
  static void putDst(const FilterAccess*, FilterInstance*, int x, int y, const Pixel* in);
  static void putDstA(const FilterAccess*, FilterInstance*, int x, int y, const Pixel* in);
  static void trace(int direction, bool alpha, int runStart, int stepPos, int runEnd, int line);

  FilterInstance inst_{};
  Image source_, destination_;
  std::vector<KernelCall> calls_;
  long dstReads_ = 0, dstWrites_ = 0, srcReads_ = 0;
  std::vector<const FilterAccess*> writeAccesses_;
};

// The 20 x 10 staircase: black where y >= 7 - x / 4, white elsewhere.
bool staircase(int x, int y);

}  // namespace oru_test
