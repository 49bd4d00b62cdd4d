#pragma once

// The media layer's interfaces, in the shape of the platform's media interfaces. Names are
// UTF-8 (`const char *` / std::string) where the platform uses wide strings.

#include "compat/com/ComPtr.h"
#include "compat/dshow/MediaType.h"

#include <string>

class QWidget;

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
using OAFilterState = int32_t;

struct ALLOCATOR_PROPERTIES {
    int32_t cBuffers = 0;
    int32_t cbBuffer = 0;
    int32_t cbAlign = 0;
    int32_t cbPrefix = 0;
};

// An array of identifiers allocated with CoTaskMemAlloc; the receiver frees pElems.
struct CAUUID {
    ULONG cElems = 0;
    GUID *pElems = nullptr;
};
void *CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void *block);

struct IBaseFilter;
struct IFilterGraph;
struct IPin;

struct FILTER_INFO {
    std::string achName;
    IFilterGraph *pGraph = nullptr;  // referenced; the receiver releases it
};

struct PIN_INFO {
    IBaseFilter *pFilter = nullptr;  // referenced; the receiver releases it
    PIN_DIRECTION dir = PINDIR_INPUT;
    std::string achName;
};

SC_INTERFACE_ID(IMediaSample, "{56A8689A-0AD4-11CE-B03A-0020AF0BA770}")
struct IMediaSample : IUnknown {
    virtual HRESULT GetPointer(BYTE **buffer) = 0;
    virtual LONG GetSize() = 0;
    virtual HRESULT GetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) = 0;
    // Null start clears the times.
    virtual HRESULT SetTime(const REFERENCE_TIME *start, const REFERENCE_TIME *stop) = 0;
    virtual HRESULT IsSyncPoint() = 0;  // S_OK or S_FALSE
    virtual HRESULT SetSyncPoint(BOOL sync) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL preroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    // A heap copy of a changed media type (DeleteMediaType), or S_FALSE and null.
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE **type) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
    virtual HRESULT GetMediaTime(int64_t *start, int64_t *stop) = 0;
    virtual HRESULT SetMediaTime(const int64_t *start, const int64_t *stop) = 0;
};

SC_INTERFACE_ID(IMemAllocator, "{56A8689C-0AD4-11CE-B03A-0020AF0BA770}")
struct IMemAllocator : IUnknown {
    virtual HRESULT SetProperties(const ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES *props) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0;
    // Waits for a free buffer unless AM_GBF_NOWAIT; fails with VFW_E_NOT_COMMITTED at once
    // when the allocator is (or becomes, while waiting) decommitted.
    virtual HRESULT GetBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                              DWORD flags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample *sample) = 0;
};
inline constexpr DWORD AM_GBF_NOWAIT = 4;

SC_INTERFACE_ID(IEnumMediaTypes, "{89C31040-846B-11CE-97D3-00AA0055595A}")
struct IEnumMediaTypes : IUnknown {
    // Each returned type is a heap copy the receiver frees with DeleteMediaType.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes **clone) = 0;
};

SC_INTERFACE_ID(IPin, "{56A86891-0AD4-11CE-B03A-0020AF0BA770}")
struct IPin : IUnknown {
    virtual HRESULT Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin **pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO *info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION *direction) = 0;
    virtual HRESULT QueryId(std::string *id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes **types) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

SC_INTERFACE_ID(IEnumPins, "{56A86892-0AD4-11CE-B03A-0020AF0BA770}")
struct IEnumPins : IUnknown {
    virtual HRESULT Next(ULONG count, IPin **pins, ULONG *fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins **clone) = 0;
};

SC_INTERFACE_ID(IMemInputPin, "{56A8689D-0AD4-11CE-B03A-0020AF0BA770}")
struct IMemInputPin : IUnknown {
    virtual HRESULT GetAllocator(IMemAllocator **allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *props) = 0;
    virtual HRESULT Receive(IMediaSample *sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;
};

SC_INTERFACE_ID(IMediaFilter, "{56A86899-0AD4-11CE-B03A-0020AF0BA770}")
struct IMediaFilter : IPersist {
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD timeoutMs, FILTER_STATE *state) = 0;
};

SC_INTERFACE_ID(IBaseFilter, "{56A86895-0AD4-11CE-B03A-0020AF0BA770}")
struct IBaseFilter : IMediaFilter {
    virtual HRESULT EnumPins(IEnumPins **pins) = 0;
    virtual HRESULT FindPin(const char *id, IPin **pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO *info) = 0;
    // The graph calls this when it adds (graph, name) or removes (null, null) the filter; the
    // filter keeps no reference to the graph.
    virtual HRESULT JoinFilterGraph(IFilterGraph *graph, const char *name) = 0;
};

SC_INTERFACE_ID(IEnumFilters, "{56A86893-0AD4-11CE-B03A-0020AF0BA770}")
struct IEnumFilters : IUnknown {
    virtual HRESULT Next(ULONG count, IBaseFilter **filters, ULONG *fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters **clone) = 0;
};

SC_INTERFACE_ID(IFilterGraph, "{56A8689F-0AD4-11CE-B03A-0020AF0BA770}")
struct IFilterGraph : IUnknown {
    // Adds with the given name (null or empty: a generated one). A name already taken is made
    // unique with a number and the result is VFW_S_DUPLICATE_NAME.
    virtual HRESULT AddFilter(IBaseFilter *filter, const char *name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter *filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters **filters) = 0;
    virtual HRESULT FindFilterByName(const char *name, IBaseFilter **filter) = 0;
    virtual HRESULT ConnectDirect(IPin *output, IPin *input, const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT Disconnect(IPin *pin) = 0;
};

SC_INTERFACE_ID(IGraphBuilder, "{56A868A9-0AD4-11CE-B03A-0020AF0BA770}")
struct IGraphBuilder : IFilterGraph {
    // Direct connection first, then through converting filters (unconnected filters already
    // in the graph, then registered ones by merit).
    virtual HRESULT Connect(IPin *output, IPin *input) = 0;
    // Connects the output pin on to a renderer, inserting filters as needed.
    virtual HRESULT Render(IPin *output) = 0;
};

SC_INTERFACE_ID(IMediaControl, "{56A868B1-0AD4-11CE-B03A-0020AF0BA770}")
struct IMediaControl : IUnknown {
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG timeoutMs, OAFilterState *state) = 0;
};

SC_INTERFACE_ID(ICaptureGraphBuilder2, "{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}")
struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT SetFiltergraph(IGraphBuilder *graph) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder **graph) = 0;
    // Connects `source` (a filter or an output pin) through `intermediate` (optional) to
    // `sink`; with `sink` null, renders. `category` and `type` select the source's output pin.
    virtual HRESULT RenderStream(const GUID *category, const GUID *type, IUnknown *source,
                                 IBaseFilter *intermediate, IBaseFilter *sink) = 0;
    // The interface on the filter itself, else on one of its pins.
    virtual HRESULT FindInterface(const GUID *category, const GUID *type, IBaseFilter *filter, REFIID iid,
                                  void **object) = 0;
};

SC_INTERFACE_ID(IAMFilterMiscFlags, "{2DD74950-A890-11D1-ABE8-00A0C905F375}")
struct IAMFilterMiscFlags : IUnknown {
    virtual ULONG GetMiscFlags() = 0;
};
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 1;
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 2;

SC_INTERFACE_ID(ISpecifyPropertyPages, "{B196B28B-BAB4-101A-B69C-00AA00341D07}")
struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID *pages) = 0;
};

// Capture pins: the formats a device offers and the one it uses.
struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard = 0;
    int32_t InputSize[2] = {};
    int32_t MinCroppingSize[2] = {};
    int32_t MaxCroppingSize[2] = {};
    int32_t CropGranularityX = 0, CropGranularityY = 0, CropAlignX = 0, CropAlignY = 0;
    int32_t MinOutputSize[2] = {};
    int32_t MaxOutputSize[2] = {};
    int32_t OutputGranularityX = 0, OutputGranularityY = 0;
    int32_t StretchTapsX = 0, StretchTapsY = 0, ShrinkTapsX = 0, ShrinkTapsY = 0;
    int64_t MinFrameInterval = 0, MaxFrameInterval = 0;
    int32_t MinBitsPerSecond = 0, MaxBitsPerSecond = 0;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

SC_INTERFACE_ID(IAMStreamConfig, "{C6E13340-30AC-11D0-A18C-00A0C9118956}")
struct IAMStreamConfig : IUnknown {
    virtual HRESULT SetFormat(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT GetFormat(AM_MEDIA_TYPE **type) = 0;  // heap copy, DeleteMediaType
    virtual HRESULT GetNumberOfCapabilities(int *count, int *capsSize) = 0;
    virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) = 0;
};

SC_INTERFACE_ID(IAMAudioInputMixer, "{54C39221-8380-11D0-B3F0-00AA003761C5}")
struct IAMAudioInputMixer : IUnknown {
    virtual HRESULT put_Enable(BOOL enable) = 0;
    virtual HRESULT get_Enable(BOOL *enable) = 0;
    virtual HRESULT put_MixLevel(double level) = 0;  // 0 … 1
    virtual HRESULT get_MixLevel(double *level) = 0;
};

SC_INTERFACE_ID(IAMBufferNegotiation, "{56ED71A0-AF5F-11D0-B3F0-00AA003761C5}")
struct IAMBufferNegotiation : IUnknown {
    virtual HRESULT SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES *props) = 0;
    virtual HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES *props) = 0;
};

SC_INTERFACE_ID(ISampleGrabberCB, "{0579154A-2B53-4994-B0D0-E773148EFF85}")
struct ISampleGrabberCB : IUnknown {
    virtual HRESULT SampleCB(double sampleTime, IMediaSample *sample) = 0;
    virtual HRESULT BufferCB(double sampleTime, BYTE *buffer, LONG length) = 0;
};

SC_INTERFACE_ID(ISampleGrabber, "{6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}")
struct ISampleGrabber : IUnknown {
    virtual HRESULT SetOneShot(BOOL oneShot) = 0;
    // The type the grabber accepts (GUID_NULL fields match anything).
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
    // The last sample's bytes, kept while SetBufferSamples(true). With buffer null: the size
    // needed in *size. E_OUTOFMEMORY when *size is too small; VFW_E_WRONG_STATE before the
    // first sample.
    virtual HRESULT GetCurrentBuffer(LONG *size, LONG *buffer) = 0;
    // which: 0 = SampleCB, 1 = BufferCB.
    virtual HRESULT SetCallback(ISampleGrabberCB *callback, LONG which) = 0;
};

// A renderer that shows its pictures in a widget of the program.
SC_INTERFACE_ID(IVideoWindow, "{56A868B4-0AD4-11CE-B03A-0020AF0BA770}")
struct IVideoWindow : IUnknown {
    virtual HRESULT put_Owner(QWidget *owner) = 0;  // null: no owner, nothing shown
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT put_Visible(BOOL visible) = 0;
    virtual HRESULT get_Visible(BOOL *visible) = 0;
    virtual HRESULT put_KeepAspectRatio(BOOL keep) = 0;
};

// Device enumeration.
SC_INTERFACE_ID(IPropertyBag, "{55272A00-42CB-11CE-8135-00AA004BB851}")
struct IPropertyBag : IUnknown {
    // "FriendlyName", "CLSID", "DevicePath", …; E_INVALIDARG for an unknown property.
    virtual HRESULT Read(const char *property, std::string *value) = 0;
};

SC_INTERFACE_ID(IMoniker, "{0000000F-0000-0000-C000-000000000046}")
struct IMoniker : IUnknown {
    virtual HRESULT BindToObject(REFIID iid, void **object) = 0;
    virtual HRESULT BindToStorage(REFIID iid, void **object) = 0;  // IPropertyBag
    virtual HRESULT GetDisplayName(std::string *name) = 0;
};

SC_INTERFACE_ID(IEnumMoniker, "{00000102-0000-0000-C000-000000000046}")
struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG count, IMoniker **monikers, ULONG *fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker **clone) = 0;
};

SC_INTERFACE_ID(ICreateDevEnum, "{29840822-5B84-11D0-BD3B-00A0C911CE86}")
struct ICreateDevEnum : IUnknown {
    // S_FALSE with a null enumerator when the category has no member.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker **monikers, DWORD flags) = 0;
};
