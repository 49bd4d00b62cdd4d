#pragma once

// The filter graph (CLSID_FilterGraph: IGraphBuilder, IMediaControl) and the capture graph
// builder (CLSID_CaptureGraphBuilder2). Both are built-in classes, created through
// CoCreateInstance; this header adds helpers around them.

#include "compat/dshow/Interfaces.h"
#include "compat/dshow/Uuids.h"

#include <vector>

// The filters of a graph, downstream first: every filter comes before the filters that
// deliver into it. The order in which the graph stops, pauses and runs its filters.
std::vector<ComPtr<IBaseFilter>> FiltersDownstreamFirst(IFilterGraph *graph);

// Pins of a filter of one direction, in pin order.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter, PIN_DIRECTION direction);
// The first unconnected pin of `direction`, or null.
ComPtr<IPin> FirstUnconnectedPin(IBaseFilter *filter, PIN_DIRECTION direction);
// The filter a pin belongs to.
ComPtr<IBaseFilter> FilterOfPin(IPin *pin);
