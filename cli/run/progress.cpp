#include "cli/run/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string Eta(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char b[32];
  if (s >= 3600) {
    std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
  }
  return b;
}

}  // namespace

std::string FormatProgress(int64_t frames, int64_t total, double elapsedSeconds, int barWidth) {
  const double fps = elapsedSeconds > 0 ? frames / elapsedSeconds : 0.0;
  char b[96];
  std::string line;
  if (total > 0) {
    // A container's duration is an estimate: never show more than a full bar.
    const double done = std::min(1.0, static_cast<double>(frames) / total);
    const int filled = static_cast<int>(done * barWidth);
    line = "[" + std::string(size_t(filled), '#') + std::string(size_t(barWidth - filled), '.') + "] ";
    std::snprintf(b, sizeof b, "%lld/%lld frames", static_cast<long long>(frames), static_cast<long long>(total));
  } else {
    std::snprintf(b, sizeof b, "%lld frames", static_cast<long long>(frames));
  }
  line += b;
  if (fps > 0) {
    std::snprintf(b, sizeof b, "  %.1f fps", fps);
    line += b;
    if (total > 0) line += "  ETA " + Eta(std::max<int64_t>(0, total - frames) / fps);
  }
  return line;
}

ProgressBar::ProgressBar(Diagnostics& diag, bool enabled, int64_t total)
    : diag_(diag), enabled_(enabled), total_(total), start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

void ProgressBar::Draw(int64_t frames) {
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  // Padded, so a shorter line covers the longer one before it.
  std::string line = FormatProgress(frames, total_, elapsed, 30);
  if (line.size() < 79) line.resize(79, ' ');
  diag_.Stream() << '\r' << line;
  diag_.Stream().flush();
  diag_.SetLineOpen(true);
  drawn_ = true;
}

void ProgressBar::Update(int64_t frames) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  lastDraw_ = now;
  Draw(frames);
}

void ProgressBar::Finish(int64_t frames, bool inputEnded) {
  if (!enabled_) return;
  if (inputEnded && total_ > 0) total_ = frames;
  Draw(frames);
  diag_.Stream() << '\n';
  diag_.Stream().flush();
  diag_.SetLineOpen(false);
}
