#include "progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace gm::cli {
namespace {

// "M:SS" or "H:MM:SS".
std::string Clock(int64_t ms) {
  long long s = ms / 1000;
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

// The terminal's width in columns (80 when it does not say).
int Columns(FILE* out) {
  struct winsize size {};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

std::string ProgressText(const ProgressFigures& f, int64_t elapsed_ms, bool bar) {
  const bool known = f.addressesPlanned > 0;
  const long long done = std::min(f.addressesDone, f.addressesPlanned);
  const int percent = known ? static_cast<int>(done * 100 / f.addressesPlanned) : 0;
  const double seconds = elapsed_ms / 1000.0;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f",
                seconds > 0 ? (f.pagesLoaded + f.pagesFailed) / seconds : 0.0);
  // The time left from the pace of the addresses so far.
  std::string left;
  if (known && done > 0 && done < f.addressesPlanned)
    left = Clock(elapsed_ms * (f.addressesPlanned - done) / done) + " left";
  const std::string pages = std::to_string(f.pagesLoaded), failed = std::to_string(f.pagesFailed),
                    records = std::to_string(f.records);
  if (bar) {
    // Short enough for an 80-column terminal.
    std::string text;
    if (known) {
      constexpr int kWidth = 10;
      const int filled = static_cast<int>(done * kWidth / f.addressesPlanned);
      text = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] " +
             std::to_string(percent) + "% ";
    }
    text += pages + " pages (" + failed + " failed), " + records + " records, " + rate + "/s, " +
            Clock(elapsed_ms);
    return left.empty() ? text : text + " (" + left + ")";
  }
  std::string text;
  if (known)
    text = std::to_string(percent) + "% of " + std::to_string(f.addressesPlanned) + " addresses, ";
  text += pages + " pages loaded, " + failed + " failed, " + records + " records, " + rate +
          " pages/s, " + Clock(elapsed_ms) + " elapsed";
  return left.empty() ? text : text + ", " + left;
}

CProgressLine::CProgressLine(FILE* out, bool terminal, bool shown, int64_t start_ms)
    : out_(out), terminal_(terminal), shown_(shown), start_ms_(start_ms), drawn_ms_(start_ms) {}

void CProgressLine::Update(const std::function<ProgressFigures()>& figures, int64_t now_ms) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!shown_ || finished_ || now_ms - drawn_ms_ < (terminal_ ? kRedrawMs : kLogMs)) return;
  drawn_ms_ = now_ms;
  std::string text = ProgressText(figures(), now_ms - start_ms_, terminal_);
  if (!terminal_) {
    std::fprintf(out_, "gleanmark-cli: %s\n", text.c_str());
    return;
  }
  // One column is kept free: a line that fills the last one wraps on some terminals.
  const size_t room = static_cast<size_t>(std::max(1, Columns(out_) - 1));
  if (text.size() > room) text.resize(room);
  std::fprintf(out_, "\r%s\033[K", text.c_str());
  std::fflush(out_);
  on_screen_ = true;
}

void CProgressLine::Message(const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  ClearLocked();
  std::fprintf(out_, "%s\n", line.c_str());
  if (terminal_) std::fflush(out_);
}

void CProgressLine::Finish() {
  std::lock_guard<std::mutex> lock(mu_);
  ClearLocked();
  finished_ = true;
}

void CProgressLine::ClearLocked() {
  if (!on_screen_) return;
  std::fputs("\r\033[K", out_);
  on_screen_ = false;
}

}  // namespace gm::cli
