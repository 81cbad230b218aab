// The Windows edge of the plot canvas: the page's picture control shows a 32-bpp top-down DIB
// section attached to it. The frame thread draws each picture into a buffer of its own and
// presenting hands the whole picture over; the control's paint copies the newest one into the
// bitmap and shows it, so a paint never shows a picture half drawn.
#pragma once
#include <windows.h>

#include "plot/plot_canvas.h"

// The layout of the canvas's pixels: 32 bits, rows top-down as the raster counts them.
BITMAPINFO CanvasBitmapInfo(int width, int height);

// A black canvas sized to the control's client area, its bitmap attached to the control
// (STM_SETIMAGE), the control subclassed so that its paint takes the newest presented picture,
// and plotRect set in the client coordinates of the control's parent.
// Returns nullptr when there is no such control or the bitmap cannot be created.
PlotCanvas* CreatePlotCanvas(HWND frameControl);

// Detaches the bitmap from the control and deletes it with the canvas. The caller has first
// made the canvas unreachable to frames (under analysisLock), so none is drawing into it.
void DestroyPlotCanvas(PlotCanvas* canvas);

// Test hook: with false, canvases created from then on draw straight into the bitmap the control
// shows (no double buffer), so a paint while a picture is drawn shows it half drawn.
void SetPlotCanvasDoubleBuffer(bool on);
