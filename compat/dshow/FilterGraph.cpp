#include "compat/dshow/FilterGraph.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/BaseFilter.h"
#include "compat/dshow/SnapshotEnumerator.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter, PIN_DIRECTION direction) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (!filter || FAILED(filter->EnumPins(e.Put())) || !e) return pins;
    ComPtr<IPin> pin;
    while (e->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) pins.push_back(pin);
    }
    return pins;
}

ComPtr<IPin> FirstUnconnectedPin(IBaseFilter *filter, PIN_DIRECTION direction) {
    for (auto &pin : PinsOf(filter, direction)) {
        ComPtr<IPin> peer;
        if (pin->ConnectedTo(peer.Put()) == VFW_E_NOT_CONNECTED) return pin;
    }
    return nullptr;
}

ComPtr<IBaseFilter> FilterOfPin(IPin *pin) {
    ComPtr<IBaseFilter> filter;
    PIN_INFO info;
    if (pin && SUCCEEDED(pin->QueryPinInfo(&info))) filter.Attach(info.pFilter);
    return filter;
}

namespace {

std::vector<ComPtr<IBaseFilter>> EnumerateFilters(IFilterGraph *graph) {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> e;
    if (!graph || FAILED(graph->EnumFilters(e.Put())) || !e) return filters;
    ComPtr<IBaseFilter> filter;
    while (e->Next(1, filter.Put(), nullptr) == S_OK) filters.push_back(filter);
    return filters;
}

// Filters that `filter` delivers into.
std::vector<IBaseFilter *> DownstreamOf(IBaseFilter *filter, const std::vector<ComPtr<IBaseFilter>> &all) {
    std::vector<IBaseFilter *> result;
    for (auto &pin : PinsOf(filter, PINDIR_OUTPUT)) {
        ComPtr<IPin> peer;
        if (FAILED(pin->ConnectedTo(peer.Put())) || !peer) continue;
        ComPtr<IBaseFilter> next = FilterOfPin(peer.Get());
        for (auto &candidate : all)
            if (IsSameObject(candidate.Get(), next.Get())) result.push_back(candidate.Get());
    }
    return result;
}

}  // namespace

std::vector<ComPtr<IBaseFilter>> FiltersDownstreamFirst(IFilterGraph *graph) {
    const auto all = EnumerateFilters(graph);
    std::vector<ComPtr<IBaseFilter>> ordered;
    std::set<IBaseFilter *> placed, visiting;
    // Depth-first: a filter is placed after everything downstream of it.
    std::function<void(IBaseFilter *)> visit = [&](IBaseFilter *filter) {
        if (placed.count(filter) || visiting.count(filter)) return;
        visiting.insert(filter);
        for (IBaseFilter *next : DownstreamOf(filter, all)) visit(next);
        visiting.erase(filter);
        placed.insert(filter);
        ordered.emplace_back(filter);
    };
    for (auto &filter : all) visit(filter.Get());
    return ordered;
}

namespace {


bool AnyTypeMatches(IPin *output, const std::vector<RegisteredMediaType> &registered) {
    if (registered.empty()) return true;  // nothing registered: worth a try
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(output->EnumMediaTypes(types.Put())) || !types) return true;
    AM_MEDIA_TYPE *type = nullptr;
    bool offered = false, match = false;
    while (!match && types->Next(1, &type, nullptr) == S_OK) {
        offered = true;
        for (const auto &r : registered)
            if ((r.majorType == GUID_NULL || r.majorType == type->majortype) &&
                (r.subType == GUID_NULL || r.subType == type->subtype))
                match = true;
        DeleteMediaType(type);
    }
    return match || !offered;
}

// The graph. One lock serialises changes of membership, connections and state; streaming
// never takes it.
class CFilterGraph final : public CUnknown, public IGraphBuilder, public IMediaControl {
public:
    DECLARE_IUNKNOWN
    ~CFilterGraph() override { ReleaseAll(); }

    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_IFilterGraph || iid == IID_IGraphBuilder)
            return GetInterface(static_cast<IGraphBuilder *>(this), object);
        if (iid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT AddFilter(IBaseFilter *filter, const char *name) override {
        if (!filter) return E_POINTER;
        std::lock_guard guard(lock);
        for (auto &entry : filters)
            if (IsSameObject(entry.filter.Get(), filter)) return E_INVALIDARG;
        return AddFilterLocked(filter, name ? name : "");
    }

    HRESULT RemoveFilter(IBaseFilter *filter) override {
        if (!filter) return E_POINTER;
        std::lock_guard guard(lock);
        auto it = std::find_if(filters.begin(), filters.end(),
                               [&](const Entry &e) { return IsSameObject(e.filter.Get(), filter); });
        if (it == filters.end()) return VFW_E_NOT_FOUND;
        it->filter->Stop();
        RemoveLocked(filter);
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters **out) override {
        if (!out) return E_POINTER;
        std::vector<ComPtr<IBaseFilter>> list;
        {
            std::lock_guard guard(lock);
            for (auto &entry : filters) list.push_back(entry.filter);
        }
        return MakeSnapshotEnumerator(std::move(list), out);
    }

    HRESULT FindFilterByName(const char *name, IBaseFilter **filter) override {
        if (!name || !filter) return E_POINTER;
        *filter = nullptr;
        std::lock_guard guard(lock);
        for (auto &entry : filters)
            if (entry.name == name) return entry.filter.CopyTo(filter);
        return VFW_E_NOT_FOUND;
    }

    HRESULT ConnectDirect(IPin *output, IPin *input, const AM_MEDIA_TYPE *type) override {
        if (!output || !input) return E_POINTER;
        std::lock_guard guard(lock);
        HRESULT hr = CheckPins(output, input);
        if (FAILED(hr)) return hr;
        return output->Connect(input, type);
    }

    HRESULT Disconnect(IPin *pin) override {
        if (!pin) return E_POINTER;
        return pin->Disconnect();
    }

    HRESULT Connect(IPin *output, IPin *input) override {
        if (!output || !input) return E_POINTER;
        std::lock_guard guard(lock);
        HRESULT hr = CheckPins(output, input);
        if (FAILED(hr)) return hr;
        ComPtr<IPin> peer;
        if (output->ConnectedTo(peer.Put()) == S_OK || input->ConnectedTo(peer.Put()) == S_OK)
            return VFW_E_ALREADY_CONNECTED;
        hr = output->Connect(input, nullptr);
        if (SUCCEEDED(hr)) return hr;
        return ConnectThroughConverters(output, input, kMaxConverters) ? S_OK : VFW_E_CANNOT_CONNECT;
    }

    HRESULT Render(IPin *output) override {
        if (!output) return E_POINTER;
        std::lock_guard guard(lock);
        PIN_DIRECTION d;
        if (FAILED(output->QueryDirection(&d)) || d != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
        for (const auto &info : ClassRegistry::Instance().ClassesInCategory(CLSID_LegacyAmFilterCategory)) {
            if (info.merit <= MERIT_DO_NOT_USE || !info.outputTypes.empty() || info.inputTypes.empty()) continue;
            if (!AnyTypeMatches(output, info.inputTypes)) continue;
            ComPtr<IBaseFilter> renderer;
            if (FAILED(CoCreate(info.clsid, &renderer))) continue;
            if (FAILED(AddFilterLocked(renderer.Get(), info.name))) continue;
            ComPtr<IPin> input = FirstUnconnectedPin(renderer.Get(), PINDIR_INPUT);
            if (input && (SUCCEEDED(output->Connect(input.Get(), nullptr)) ||
                          ConnectThroughConverters(output, input.Get(), kMaxConverters)))
                return S_OK;
            RemoveLocked(renderer.Get());
        }
        return VFW_E_CANNOT_RENDER;
    }

    // IMediaControl: every transition goes downstream first, so a filter is ready before
    // its upstream starts delivering, and stops receiving before its upstream stops.
    HRESULT Run() override {
        std::lock_guard guard(lock);
        if (state == State_Running) return S_OK;
        const auto order = FiltersDownstreamFirst(this);
        if (state == State_Stopped) {
            HRESULT hr = ForEach(order, [](IBaseFilter *f) { return f->Pause(); });
            if (FAILED(hr)) {
                StopAll(order);
                return hr;
            }
        }
        HRESULT hr = ForEach(order, [](IBaseFilter *f) { return f->Run(0); });
        if (FAILED(hr)) {
            StopAll(order);
            return hr;
        }
        state = State_Running;
        return S_OK;
    }

    HRESULT Pause() override {
        std::lock_guard guard(lock);
        if (state == State_Paused) return S_OK;
        const auto order = FiltersDownstreamFirst(this);
        HRESULT hr = ForEach(order, [](IBaseFilter *f) { return f->Pause(); });
        if (FAILED(hr)) {
            StopAll(order);
            return hr;
        }
        state = State_Paused;
        return S_OK;
    }

    HRESULT Stop() override {
        std::lock_guard guard(lock);
        StopAll(FiltersDownstreamFirst(this));
        return S_OK;
    }

    HRESULT GetState(LONG, OAFilterState *out) override {
        if (!out) return E_POINTER;
        *out = state.load();
        return S_OK;
    }

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::string name;
    };
    static constexpr int kMaxConverters = 2;

    bool NameTaken(const std::string &name) const {
        return std::any_of(filters.begin(), filters.end(), [&](const Entry &e) { return e.name == name; });
    }

    // Joins `filter` under `name` ("Filter" when empty), numbered when the name is taken, which
    // VFW_S_DUPLICATE_NAME reports for a name the caller gave.
    HRESULT AddFilterLocked(IBaseFilter *filter, const std::string &name) {
        const std::string base = name.empty() ? "Filter" : name;
        std::string unique = base;
        for (int n = 1; NameTaken(unique); ++n) unique = base + " " + std::to_string(n);
        const HRESULT hr = filter->JoinFilterGraph(this, unique.c_str());
        if (FAILED(hr)) return hr;
        filters.push_back({filter, unique});
        return unique != base && !name.empty() ? VFW_S_DUPLICATE_NAME : S_OK;
    }

    void RemoveLocked(IBaseFilter *filter) {
        auto it = std::find_if(filters.begin(), filters.end(),
                               [&](const Entry &e) { return IsSameObject(e.filter.Get(), filter); });
        if (it == filters.end()) return;
        ComPtr<IBaseFilter> keep = it->filter;
        DisconnectAllPins(keep.Get());
        keep->JoinFilterGraph(nullptr, nullptr);
        filters.erase(it);
    }

    static void DisconnectAllPins(IBaseFilter *filter) {
        for (PIN_DIRECTION d : {PINDIR_INPUT, PINDIR_OUTPUT})
            for (auto &pin : PinsOf(filter, d)) {
                ComPtr<IPin> peer;
                if (pin->ConnectedTo(peer.Put()) == S_OK) {
                    peer->Disconnect();
                    pin->Disconnect();
                }
            }
    }

    static HRESULT CheckPins(IPin *output, IPin *input) {
        PIN_DIRECTION a, b;
        if (FAILED(output->QueryDirection(&a)) || FAILED(input->QueryDirection(&b))) return E_FAIL;
        if (a != PINDIR_OUTPUT || b != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
        return S_OK;
    }

    // Tries output → converter → … → input: first unconnected filters already in the
    // graph, then registered filters by merit. A converter that does not lead to `input`
    // is disconnected again (and removed when it was added for the attempt).
    bool ConnectThroughConverters(IPin *output, IPin *input, int depth) {
        if (depth <= 0) return false;
        ComPtr<IBaseFilter> from = FilterOfPin(output), to = FilterOfPin(input);
        std::vector<ComPtr<IBaseFilter>> present;
        for (auto &entry : filters)
            if (!IsSameObject(entry.filter.Get(), from.Get()) && !IsSameObject(entry.filter.Get(), to.Get()))
                present.push_back(entry.filter);
        for (auto &candidate : present)
            if (TryConverter(output, input, candidate.Get(), depth)) return true;
        std::set<GUID> tried;
        for (const auto &info : ClassRegistry::Instance().ClassesInCategory(CLSID_LegacyAmFilterCategory)) {
            if (info.merit <= MERIT_DO_NOT_USE || info.outputTypes.empty() || tried.count(info.clsid)) continue;
            tried.insert(info.clsid);
            if (!AnyTypeMatches(output, info.inputTypes)) continue;
            ComPtr<IBaseFilter> converter;
            if (FAILED(CoCreate(info.clsid, &converter))) continue;
            if (FAILED(AddFilterLocked(converter.Get(), info.name))) continue;
            if (TryConverter(output, input, converter.Get(), depth)) return true;
            RemoveLocked(converter.Get());
        }
        return false;
    }

    bool TryConverter(IPin *output, IPin *input, IBaseFilter *converter, int depth) {
        ComPtr<IPin> converterIn = FirstUnconnectedPin(converter, PINDIR_INPUT);
        if (!converterIn || FAILED(output->Connect(converterIn.Get(), nullptr))) return false;
        for (auto &converterOut : PinsOf(converter, PINDIR_OUTPUT)) {
            ComPtr<IPin> peer;
            if (converterOut->ConnectedTo(peer.Put()) == S_OK) continue;
            if (SUCCEEDED(converterOut->Connect(input, nullptr))) return true;
            if (ConnectThroughConverters(converterOut.Get(), input, depth - 1)) return true;
        }
        output->Disconnect();
        converterIn->Disconnect();
        return false;
    }

    template <class Step>
    static HRESULT ForEach(const std::vector<ComPtr<IBaseFilter>> &order, Step step) {
        for (auto &filter : order) {
            HRESULT hr = step(filter.Get());
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    void StopAll(const std::vector<ComPtr<IBaseFilter>> &order) {
        for (auto &filter : order) filter->Stop();
        state = State_Stopped;
    }

    void ReleaseAll() {
        std::lock_guard guard(lock);
        StopAll(FiltersDownstreamFirst(this));
        for (auto &entry : filters) DisconnectAllPins(entry.filter.Get());
        for (auto &entry : filters) entry.filter->JoinFilterGraph(nullptr, nullptr);
        filters.clear();
    }

    std::recursive_mutex lock;
    std::vector<Entry> filters;
    std::atomic<OAFilterState> state{State_Stopped};
};

class CCaptureGraphBuilder final : public CUnknown, public ICaptureGraphBuilder2 {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_ICaptureGraphBuilder2) return GetInterface(static_cast<ICaptureGraphBuilder2 *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT SetFiltergraph(IGraphBuilder *g) override {
        if (!g) return E_POINTER;
        if (graph) return E_UNEXPECTED;
        graph = g;
        return S_OK;
    }

    HRESULT GetFiltergraph(IGraphBuilder **out) override {
        if (!out) return E_POINTER;
        if (!graph) {
            HRESULT hr = CoCreate(CLSID_FilterGraph, &graph);
            if (FAILED(hr)) return hr;
        }
        return graph.CopyTo(out);
    }

    HRESULT RenderStream(const GUID *, const GUID *type, IUnknown *source, IBaseFilter *intermediate,
                         IBaseFilter *sink) override {
        if (!source) return E_POINTER;
        if (!graph) return E_UNEXPECTED;
        ComPtr<IPin> output = SourcePin(source, type);
        if (!output) return E_FAIL;
        HRESULT hr;
        if (intermediate) {
            ComPtr<IPin> in = FirstUnconnectedPin(intermediate, PINDIR_INPUT);
            if (!in) return E_FAIL;
            hr = graph->Connect(output.Get(), in.Get());
            if (FAILED(hr)) return hr;
            output = FirstUnconnectedPin(intermediate, PINDIR_OUTPUT);
            if (!output) return sink ? E_FAIL : S_OK;
        }
        if (!sink) return graph->Render(output.Get());
        ComPtr<IPin> in = FirstUnconnectedPin(sink, PINDIR_INPUT);
        if (!in) return E_FAIL;
        return graph->Connect(output.Get(), in.Get());
    }

    HRESULT FindInterface(const GUID *, const GUID *, IBaseFilter *filter, REFIID iid, void **object) override {
        if (!filter || !object) return E_POINTER;
        *object = nullptr;
        if (SUCCEEDED(filter->QueryInterface(iid, object))) return S_OK;
        for (PIN_DIRECTION d : {PINDIR_OUTPUT, PINDIR_INPUT})
            for (auto &pin : PinsOf(filter, d))
                if (SUCCEEDED(pin->QueryInterface(iid, object))) return S_OK;
        return E_NOINTERFACE;
    }

private:
    // An output pin given directly, else the first unconnected output pin of the filter
    // (of the major type when one is named).
    static ComPtr<IPin> SourcePin(IUnknown *source, const GUID *type) {
        ComPtr<IPin> pin;
        if (SUCCEEDED(source->QueryInterface(IID_IPin, pin.PutVoid()))) return pin;
        ComPtr<IBaseFilter> filter;
        if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.PutVoid()))) return nullptr;
        for (auto &candidate : PinsOf(filter.Get(), PINDIR_OUTPUT)) {
            ComPtr<IPin> peer;
            if (candidate->ConnectedTo(peer.Put()) == S_OK) continue;
            if (type && *type != GUID_NULL && !OffersMajorType(candidate.Get(), *type)) continue;
            return candidate;
        }
        return nullptr;
    }

    static bool OffersMajorType(IPin *pin, const GUID &major) {
        ComPtr<IEnumMediaTypes> types;
        if (FAILED(pin->EnumMediaTypes(types.Put())) || !types) return false;
        AM_MEDIA_TYPE *t = nullptr;
        bool found = false;
        while (!found && types->Next(1, &t, nullptr) == S_OK) {
            found = t->majortype == major;
            DeleteMediaType(t);
        }
        return found;
    }

    ComPtr<IGraphBuilder> graph;
};

const BuiltInClassRegistrar registerGraph(
    ClassRegistration{CLSID_FilterGraph, "Filter Graph", "", "Both", 0, {}, {}, {}},
    &CreateUnaggregated<CFilterGraph>);

const BuiltInClassRegistrar registerCaptureBuilder(
    ClassRegistration{CLSID_CaptureGraphBuilder2, "Capture Graph Builder", "", "Both", 0, {}, {}, {}},
    &CreateUnaggregated<CCaptureGraphBuilder>);

}  // namespace
