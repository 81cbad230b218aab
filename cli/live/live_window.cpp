// The window's thread: its event loop, the keys and clicks, a frame analysed again while
// paused, and RunLive, which starts the analysis beside it.
#include "cli/live/live_window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "analysis/waveform.h"
#include "cli/input/stop.h"
#include "cli/live/live_display.h"
#include "cli/live/live_session.h"
#include "cli/run/headless_window.h"
#include "plugin/analysis_state.h"

namespace {

// The window thread: opens the window once the input is open, shows every picture it is
// handed, answers keys and clicks.
class LiveLoop {
 public:
  LiveLoop(const CliOptions& o, LiveSession& session)
      : o_(o), session_(session), name_(LiveInputName(o.input, o.format)) {}

  // False when the window could not be opened (reported).
  bool Run() {
    for (;;) {
      SDL_Event e;
      const bool got = SDL_WaitEventTimeout(&e, 100) != 0;
      if (got) Handle(e);
      while (!quit_ && SDL_PollEvent(&e)) Handle(e);
      if (quit_ || StopRequested()) return true;
      int status = 0;
      if (!display_) {
        if (session_.IsStarted(&width_, &height_, &pixelFormat_, &controls_)) {
          if (!OpenWindow()) return false;
        } else if (session_.IsFinished(&status)) {
          return true;  // nothing to show: the input did not open
        } else {
          continue;
        }
      }
      if (session_.Take(front_)) {
        shown_ = true;
        Settle();
        Show();
      }
      if (session_.IsFinished(&status) && !ended_) {
        if (!o_.hold) return true;
        ended_ = true;
        session_.NoticeLocked("the input has ended: the window stays until q");
        if (shown_) display_->ShowStatus(*front_.canvas, front_.settings, front_.snr, Status());
      }
    }
  }

  ~LiveLoop() { ReleaseStateBuffers(again_); }

 private:
  bool OpenWindow() {
    display_ = std::make_unique<LiveDisplay>();
    std::string error;
    if (!display_->Open(width_, height_, pixelFormat_, LiveTitle(name_, controls_), &error)) {
      error_ = "--live: cannot open a window: " + error;  // reported once the analysis has stopped
      display_.reset();
      return false;
    }
    if (!error.empty()) session_.NoticeLocked("warning: " + error + ": a window without words");
    return true;
  }

  std::string Status() const {
    return LiveStatus(front_.index, front_.settings.ColorMode, front_.frames, controls_.paused, ended_, front_.snrMethod);
  }

  void Show() {
    if (front_.layout != FramePlanes::None) {
      display_->ShowPlanes(front_.Planes(), front_.marks, *front_.canvas, front_.settings, front_.snr, Status());
    } else {
      display_->Show(front_.pixels.data(), *front_.canvas, front_.settings, front_.snr, Status());
    }
  }

  // While no frame comes (paused, or the input has ended and the window is held), what the keys
  // changed is shown at once, on the last frame shown. True when it was analysed again.
  bool Settle() {
    const AnalysisSettings& s = front_.settings;
    if (!(controls_.paused || ended_) || (front_.clean.empty() && front_.layout == FramePlanes::None) ||
        (s.TVLine == controls_.line && s.Mode == controls_.page && (s.ColorMode == 1) == (controls_.colorMode == 1))) {
      return false;
    }
    // A picture of planes is converted whole now: from here on it is shown as the frame path marks it.
    if (front_.layout != FramePlanes::None) {
      if (!front_.ConvertPlanes(width_, height_, pixelFormat_)) return false;
      front_.layout = FramePlanes::None;
    }
    // A state of the window's own: the run's rings, statistics and CSV stay as they are.
    if (!again_.BuffersReady()) ConfigureState(again_, FrameFormat{width_, height_, 0, pixelFormat_});
    if (!again_.BuffersReady()) return false;  // out of memory: the title alone says what changed
    const bool sameReadouts = s.TVLine == controls_.line && (s.ColorMode == 1) == (controls_.colorMode == 1);
    AnalysisSettings next = s;
    next.TVLine = controls_.line;
    next.Mode = controls_.page;
    next.ColorMode = controls_.colorMode;
    again_.liveSettings = next;
    for (int c = 0; c < ChannelCount; ++c) {
      ClearSnrHistory(again_.snrHistory[c]);
      again_.snrHistoryIndex[c] = 0;
    }
    front_.pixels = front_.clean;
    FrameInfo info{};
    info.pixels = front_.pixels.data();
    ProcessFrameState(again_, info, &againWindow_);
    front_.TakeCanvas(againWindow_, next.Mode);
    // Another line or colour space: the read-outs of this one frame.
    if (!sameReadouts) {
      if (next.Mode != ModeOscilloscope) {
        MeasureWaveform(next, again_.width, again_.channels, again_.snrHistory, again_.snrHistoryIndex,
                        again_.snrDisplay);
      }
      front_.frames = LiveReadouts(again_.snrHistory, next.ColorMode, 1, front_.snr);
      front_.snrMethod = 0;  // this frame measured again the tool window's way
    }
    front_.settings = next;
    return true;
  }

  void Change(const std::string& notice) {
    if (notice.empty()) return;
    // The title first: once the notice is out, the window says the same.
    display_->SetTitle(LiveTitle(name_, controls_));
    session_.Change(controls_, notice);
    if (!shown_) return;
    if (Settle()) {
      Show();
    } else {
      display_->ShowStatus(*front_.canvas, front_.settings, front_.snr, Status());
    }
  }

  void Save() {
    char name[64];
    std::snprintf(name, sizeof name, "lineview-live-%06lld.png", static_cast<long long>(std::max<int64_t>(front_.index, 0)));
    const std::string path = (o_.pngDir.empty() ? std::string(".") : o_.pngDir) + "/" + name;
    std::string error;
    session_.NoticeLocked(display_->Save(path, &error) ? "saved " + path : "cannot write '" + path + "': " + error);
  }

  void Handle(const SDL_Event& e) {
    if (e.type == SDL_QUIT) {
      quit_ = true;
      return;
    }
    if (!display_) return;
    if (e.type == SDL_WINDOWEVENT &&
        (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)) {
      if (shown_) display_->Redraw();
    } else if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT) {
      const int line = LineAt(display_->Layout(), height_, e.button.x, e.button.y);
      if (line >= 0) Change(PickLine(controls_, line, height_));
    } else if (e.type == SDL_KEYDOWN) {
      Key(e.key.keysym.sym);
    }
  }

  void Key(SDL_Keycode key) {
    switch (key) {
      case SDLK_q:
      case SDLK_ESCAPE:
        quit_ = true;
        return;
      case SDLK_s:
        Save();
        return;
      default:
        break;
    }
    static const struct {
      SDL_Keycode key;
      LiveCommand command;
    } kKeys[] = {{SDLK_UP, LiveCommand::LineUp},      {SDLK_DOWN, LiveCommand::LineDown},
                 {SDLK_PAGEUP, LiveCommand::TenUp},   {SDLK_PAGEDOWN, LiveCommand::TenDown},
                 {SDLK_TAB, LiveCommand::NextPage},   {SDLK_1, LiveCommand::Page1},
                 {SDLK_2, LiveCommand::Page2},        {SDLK_3, LiveCommand::Page3},
                 {SDLK_KP_1, LiveCommand::Page1},     {SDLK_KP_2, LiveCommand::Page2},
                 {SDLK_KP_3, LiveCommand::Page3},     {SDLK_c, LiveCommand::Colour},
                 {SDLK_SPACE, LiveCommand::Pause}};
    for (const auto& k : kKeys) {
      if (k.key == key) Change(ApplyCommand(controls_, k.command, height_));
    }
  }

  const CliOptions& o_;
  LiveSession& session_;
  const std::string name_;
  std::unique_ptr<LiveDisplay> display_;
  int width_ = 0, height_ = 0, pixelFormat_ = 0;
  LiveControls controls_;
  LivePicture front_;
  bool shown_ = false;
  bool quit_ = false;
  bool ended_ = false;  // the input has ended, the window held
  AnalysisState again_;
  HeadlessWindow againWindow_;

 public:
  std::string error_;  // why the window could not be opened
};

// Without a display SDL falls back to a driver that shows nothing. Unless the user chose that
// through SDL_VIDEODRIVER, the run stops: why SDL could not open the display, empty when it did.
std::string NoDisplay() {
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if (asked && *asked) return {};
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || (std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0)) return {};
  // SDL skips a driver that cannot start without a word: asking for X11 by name gives its reason.
  // A second try also takes a display that refused the first connection (an X server resetting
  // as its last client leaves, as a bare Xvfb does).
  SDL_VideoQuit();
  if (SDL_VideoInit("x11") == 0) return {};
  const std::string reason = SDL_GetError();
  const char* display = std::getenv("DISPLAY");
  return reason + (display && *display ? " (DISPLAY=" + std::string(display) + ")" : " (DISPLAY is not set)") +
         "; SDL_VIDEODRIVER=offscreen runs without a window";
}

}  // namespace

int RunLive(const CliOptions& options, Diagnostics& diag, const std::function<int(RunObserver*)>& analyse) {
  // Ctrl-C and SIGTERM stay ours: they finish the outputs rather than only queue a quit event.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    return diag.Fail(kExitFailure, std::string("--live: cannot open a window: ") + SDL_GetError());
  }
  const std::string noDisplay = NoDisplay();
  if (!noDisplay.empty()) {
    SDL_Quit();
    return diag.Fail(kExitFailure, "--live: cannot open a window: " + noDisplay);
  }
  const Uint32 wakeEvent = SDL_RegisterEvents(1);
  LiveSession session(options, diag, [wakeEvent] {
    SDL_Event e{};
    e.type = wakeEvent;
    SDL_PushEvent(&e);
  });
  std::thread worker([&] { session.Finished(analyse(&session)); });
  int status = kExitOk;
  {
    LiveLoop loop(options, session);
    const bool opened = loop.Run();
    RequestStop();  // the window is gone: a reading thread waiting on a stalled input is woken too
    session.Quit();
    worker.join();
    session.IsFinished(&status);
    if (!opened) status = diag.Fail(kExitFailure, loop.error_);
  }
  SDL_Quit();
  diag.Stream() << "lineview: " << session.Analysed() << " frames analysed, " << session.Skipped()
                << " without a picture (the window could not keep up or the frame was late)\n";
  diag.Stream().flush();
  return status;
}
