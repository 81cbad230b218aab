#include "cli/output/samples_page.h"

#include <algorithm>

#include "analysis/page_style.h"
#include "plugin/analysis_state.h"

Picture SamplesPage(const Timeline& t, const LineSamples& samples, int page, TextPainter* text) {
  AnalysisState st;
  st.liveSettings = t.settings;
  st.liveSettings.TVLine = 0;
  const int width = static_cast<int>(samples.channel[0].size());
  ConfigureState(st, FrameFormat{std::max(width, 1), 1, 0, 0});
  PlotCanvas canvas(kCanvasWidth, kCanvasHeight);
  canvas.plotRect = kPagePlotRect;
  if (st.BuffersReady()) {
    const int first = FirstChannel(t.settings);
    for (int c = 0; c < 3; ++c) {
      const std::vector<int32_t>& v = samples.channel[c];
      std::copy(v.begin(), v.begin() + std::min<size_t>(v.size(), width), st.channels[first + c]);
    }
    st.width = width;  // an empty line stays empty, though its buffers hold one sample
    RenderPage(st, t.settings, page, canvas);
  }
  ReleaseStateBuffers(st);
  return ComposePage(page, canvas, t.settings, text, kPageWidth, kPageHeight);
}
