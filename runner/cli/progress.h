// The progress line of a sequence on standard error: frames done, frames per
// second and the time left, redrawn in place. Drawn only when standard error
// is a terminal; messages go through it so that they do not tear the line.
#pragma once

#include <chrono>
#include <string>

namespace oru_runner {

class Progress {
 public:
  // total frames; draw false keeps the line away (messages still print).
  Progress(int total, bool draw);
  ~Progress();

  void frameDone();
  // Prints one line on standard error above the progress line.
  void message(const std::string& line);
  // Removes the progress line.
  void finish();

  int done() const { return done_; }
  double seconds() const;

 private:
  void redraw();

  int total_;
  int done_ = 0;
  bool draw_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

// text as one line that is safe on a terminal: line breaks become spaces,
// other control characters and bytes that are not UTF-8 (a file's raw
// bytes quoted in a message) become \xNN.
std::string printableLine(const std::string& text);

// True when standard error is a terminal.
bool stderrIsTerminal();

}  // namespace oru_runner
