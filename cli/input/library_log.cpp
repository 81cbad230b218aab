#include "cli/input/library_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

struct Kind {
  std::string shape;  // the text with its numbers blanked: what makes two messages alike
  std::string text;   // the first message of the kind, as shown
  int64_t count = 0;
};

constexpr size_t kMaxKinds = 32;
constexpr size_t kMaxText = 400;

// Decoder threads log as well as the reading thread.
std::mutex g_lock;
std::vector<Kind> g_kinds;
int64_t g_others = 0;   // messages of kinds beyond kMaxKinds
std::string g_partial;  // a message that arrives in pieces, until its line ends

// Every word that starts with a digit (a count, a position, an address) becomes '#'.
std::string Shape(const std::string& text) {
  std::string s;
  for (size_t i = 0; i < text.size();) {
    const bool wordStart = i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
    if (wordStart && std::isdigit(static_cast<unsigned char>(text[i]))) {
      while (i < text.size() && std::isalnum(static_cast<unsigned char>(text[i]))) ++i;
      s += '#';
    } else {
      s += text[i++];
    }
  }
  return s;
}

void Keep(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  if (text.empty()) return;
  const std::string shape = Shape(text);
  for (Kind& k : g_kinds) {
    if (k.shape == shape) {
      ++k.count;
      return;
    }
  }
  if (g_kinds.size() >= kMaxKinds) {
    ++g_others;
    return;
  }
  if (text.size() > kMaxText) text = text.substr(0, kMaxText) + "...";
  g_kinds.push_back(Kind{shape, text, 1});
}

void Gather(void* avcl, int level, const char* fmt, va_list vl) {
  if (level > av_log_get_level()) return;
  char buf[1024];
  va_list copy;
  va_copy(copy, vl);
  std::vsnprintf(buf, sizeof buf, fmt, copy);
  va_end(copy);
  const AVClass* cls = avcl != nullptr ? *static_cast<const AVClass* const*>(avcl) : nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_partial.empty() && cls != nullptr && cls->item_name != nullptr) {
    const std::string name = cls->item_name(avcl);
    if (name != "NULL") g_partial = "[" + name + "] ";  // a parser's context has no name
  }
  g_partial += buf;
  if (g_partial.empty()) return;
  if (g_partial.back() != '\n' && g_partial.size() < kMaxText) return;  // the rest of the line follows
  Keep(std::move(g_partial));
  g_partial.clear();
}

}  // namespace

void StartLibraryLog(bool verbose) {
  av_log_set_level(AV_LOG_ERROR);
  av_log_set_callback(verbose ? av_log_default_callback : Gather);
}

void ReportLibraryMessages(std::ostream& err) {
  std::vector<Kind> kinds;
  int64_t others = 0;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    kinds.swap(g_kinds);
    std::swap(others, g_others);
  }
  for (const Kind& k : kinds) {
    err << "lineview: FFmpeg: " << k.text;
    if (k.count > 1) err << " (and " << k.count - 1 << " more like it)";
    err << '\n';
  }
  if (others > 0) err << "lineview: FFmpeg: " << others << " other messages (--verbose shows them)\n";
}

std::string TakeLibraryNote() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_kinds.empty()) return {};
  int64_t total = g_others;
  for (const Kind& k : g_kinds) total += k.count;
  std::string note = " (FFmpeg: " + g_kinds.front().text;
  if (total > 1) note += "; " + std::to_string(total) + " messages in all, --verbose shows them";
  g_kinds.clear();
  g_others = 0;
  return note + ")";
}
