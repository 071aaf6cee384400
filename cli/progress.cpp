#include "progress.h"

#include "terminal_text.h"

#include <chrono>
#include <cstdio>

#include "console.h"
#include "host_dialect.h"
#include "interrupt_cleanup.h"

namespace tvx::cli {

namespace {

using Clock = std::chrono::steady_clock;

struct ProgressState {
  bool enabled = false;
  bool drawn = false;      // a bar is on the screen now
  int64_t total = 0;
  int64_t done = 0;
  int width = 80;
  Clock::time_point start;
  Clock::time_point lastDraw;
};

// The callback has no context argument, so the one bar of the process lives here.
ProgressState g_state;

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

void Erase() {
  if (!g_state.drawn) return;
  std::fprintf(stderr, "\r%*s\r", g_state.width - 1, "");
  std::fflush(stderr);
  g_state.drawn = false;
}

void Draw(const std::string& name) {
  const double seconds = std::chrono::duration<double>(Clock::now() - g_state.start).count();
  const std::string line = FormatProgressLine(g_state.done, g_state.total, seconds, name, g_state.width - 1);
  std::fprintf(stderr, "\r%-*s", g_state.width - 1, line.c_str());
  std::fflush(stderr);
  g_state.drawn = true;
  g_state.lastDraw = Clock::now();
}

}  // namespace

void ProgressBegin(int64_t total, bool enabled) {
  g_state = ProgressState{};
  g_state.enabled = enabled;
  g_state.total = total;
  g_state.width = enabled ? TerminalColumns() : 80;
  if (g_state.width < 20) g_state.width = 20;
  g_state.start = Clock::now();
}

void ProgressEnd() {
  Erase();
  g_state.enabled = false;
}

void ProgressClearLine() { Erase(); }

int64_t ProgressDone() { return g_state.done; }

int WCX_API ProgressCallback(char* name, int size) {
  if (size > 0) {
    g_state.done += size;
  } else if (size <= -1000 && size >= -1100) {
    // A share of the whole operation (a delete's copy of what stays).
    g_state.done = g_state.total * (-size - 1000) / 100;
  }
  // -1..-100, the same delete's share read as of the current item, moves no
  // byte count; 0, the copy of kept entries while adding, neither.
  // A signal stops the work as the file manager's Cancel does.
  if (InterruptCleanup::Signal() != 0) return 0;
  if (!g_state.enabled) return 1;
  const auto now = Clock::now();
  // The first entry always shows; later ones at a calm pace.
  if (g_state.drawn && now - g_state.lastDraw < kRedrawInterval) return 1;
  Draw(name ? TerminalSafe(DisplayName(NativeDialect(), name)) : std::string());
  return 1;
}

std::string FormatBytes(int64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatProgressLine(int64_t done, int64_t total, double seconds,
                               const std::string& name, int width) {
  const int64_t shown = total > 0 && done > total ? total : done;
  const int percent = total > 0 ? static_cast<int>(shown * 100 / total) : 100;
  constexpr int kBarWidth = 20;
  const int filled = percent * kBarWidth / 100;
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "] ";
  char numbers[96];
  const int64_t rate = seconds > 0.0 ? static_cast<int64_t>(static_cast<double>(done) / seconds) : 0;
  std::snprintf(numbers, sizeof numbers, "%3d%%  %s/%s  %s/s  ", percent, FormatBytes(shown).c_str(),
                FormatBytes(total).c_str(), FormatBytes(rate).c_str());
  line += numbers;
  if (width <= 0) return std::string();
  const size_t room = static_cast<size_t>(width);
  if (line.size() >= room) return line.substr(0, room);
  // Long names keep their end, which says the most.
  const size_t left = room - line.size();
  if (name.size() <= left) return line + name;
  if (left <= 3) return line + name.substr(name.size() - left);
  return line + "..." + name.substr(name.size() - (left - 3));
}

}  // namespace tvx::cli
