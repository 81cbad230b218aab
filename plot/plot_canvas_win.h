// The Windows edge of the plot canvas: its pixels are the bits of a 32-bpp top-down DIB
// section that is attached to the page's picture control; presenting has the control repaint it.
#pragma once
#include <windows.h>

#include "plot/plot_canvas.h"

// The layout of the canvas's pixels: 32 bits, rows top-down as the raster counts them.
BITMAPINFO CanvasBitmapInfo(int width, int height);

// A black canvas sized to the control's client area, its bitmap attached to the control
// (STM_SETIMAGE) and plotRect set in the client coordinates of the control's parent.
// Returns nullptr when there is no such control or the bitmap cannot be created.
PlotCanvas* CreatePlotCanvas(HWND frameControl);

// Detaches the bitmap from the control and deletes it with the canvas. The caller has first
// made the canvas unreachable to frames (under analysisLock), so none is drawing into it.
void DestroyPlotCanvas(PlotCanvas* canvas);
