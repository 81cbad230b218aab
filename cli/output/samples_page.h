// A kept frame's pages drawn again from its samples, as --png draws them.
#pragma once
#include "cli/output/page_picture.h"
#include "cli/results/timeline.h"

// The page `page` of the frame whose samples are `samples`, drawn as --png draws it.
Picture SamplesPage(const Timeline& t, const LineSamples& samples, int page, TextPainter* text);
