#include "runner/cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace oru_runner {

namespace {

std::string clock(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

bool stderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

Progress::Progress(int total, bool draw)
    : total_(total), draw_(draw), start_(std::chrono::steady_clock::now()) {
  if (draw_) redraw();
}

Progress::~Progress() {
  finish();
}

double Progress::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::frameDone() {
  ++done_;
  auto now = std::chrono::steady_clock::now();
  // A redraw at most ten times a second, and always for the last frame.
  if (draw_ && (done_ == total_ || now - lastDraw_ > std::chrono::milliseconds(100))) redraw();
}

void Progress::message(const std::string& line) {
  if (shown_) std::fputs("\r\033[K", stderr);
  std::fprintf(stderr, "%s\n", printableLine(line).c_str());
  if (shown_) redraw();
}

void Progress::finish() {
  if (shown_) std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
  draw_ = false;
}

void Progress::redraw() {
  lastDraw_ = std::chrono::steady_clock::now();
  constexpr int kBar = 30;
  int filled = total_ > 0 ? done_ * kBar / total_ : kBar;
  std::string bar(filled, '#');
  bar.append(kBar - filled, '.');
  double elapsed = seconds();
  char text[160];
  if (done_ > 0 && elapsed > 0) {
    double rate = done_ / elapsed;
    std::snprintf(text, sizeof text, "[%s] %d/%d frames  %.1f frames/s  %s left", bar.c_str(),
                  done_, total_, rate, clock((total_ - done_) / rate).c_str());
  } else {
    std::snprintf(text, sizeof text, "[%s] %d/%d frames", bar.c_str(), done_, total_);
  }
  std::fprintf(stderr, "\r\033[K%s", text);
  std::fflush(stderr);
  shown_ = true;
}

namespace {

// The length of the UTF-8 sequence at text[at], 0 when there is none.
std::size_t utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF5 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string printableLine(const std::string& text) {
  std::string line;
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '\n' || c == '\r' || c == '\t') {
      line += ' ';
      ++at;
    } else if (c >= 0x20 && c < 0x7F) {
      line += static_cast<char>(c);
      ++at;
    } else if (std::size_t length = c >= 0x80 ? utf8Length(text, at) : 0) {
      line.append(text, at, length);
      at += length;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      line += escaped;
      ++at;
    }
  }
  return line;
}

}  // namespace oru_runner
