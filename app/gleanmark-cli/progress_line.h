// The progress of a run on standard error. On a terminal: one line redrawn in place at most
// ten times a second (carriage return, the line, clear to its end), cut to the terminal's
// width so that it never wraps. Elsewhere (a pipe, a file, cron): no redrawing, a plain line
// every ten seconds at most.
//
// Threads: every member takes the object's lock, so the runner's thread may print messages
// (Message) while the waiting loop updates the line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace gm::cli {

// Where a run stands.
struct ProgressFigures {
  int pagesLoaded = 0, pagesFailed = 0;
  size_t records = 0;
  // Top-level addresses the run holds (0: not known) and those behind it.
  long long addressesPlanned = 0, addressesDone = 0;
};

// The line's text: with `bar` the terminal's short form (a bar and the share done first),
// otherwise a sentence. The share, the bar and the time left are shown only where the
// addresses are known.
std::string ProgressText(const ProgressFigures& f, int64_t elapsed_ms, bool bar);

class CProgressLine {
 public:
  // `terminal`: redraw in place; `shown`: false prints no progress at all (--quiet).
  CProgressLine(FILE* out, bool terminal, bool shown, int64_t start_ms);

  // Draws the line when it is due, with the figures asked for then (the waiting loop calls
  // this often).
  void Update(const std::function<ProgressFigures()>& figures, int64_t now_ms);
  // Prints a message line; on a terminal the progress line is taken away first and drawn
  // again at the next update.
  void Message(const std::string& line);
  // Takes the line away for good (before the run's summary).
  void Finish();

 private:
  void ClearLocked();

  static constexpr int64_t kRedrawMs = 100;  // terminal: ten times a second at most
  static constexpr int64_t kLogMs = 10000;   // elsewhere: a line every ten seconds at most
  FILE* const out_;
  const bool terminal_, shown_;
  const int64_t start_ms_;
  std::mutex mu_;
  int64_t drawn_ms_;        // guarded by mu_: when the line was last drawn or printed
  bool on_screen_ = false;  // guarded by mu_: the terminal shows the line now
  bool finished_ = false;   // guarded by mu_
};

}  // namespace gm::cli
