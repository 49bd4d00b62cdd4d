#pragma once

// Components that own a graph or a filter of it, for the windows and frames of the program:
//  - TFilterGraph: a graph with an Active switch. Activating creates the graph and its
//    capture graph builder and adds the filters of every attached component; deactivating
//    stops the graph, removes them and releases the graph with every filter left in it.
//  - TFilter: a filter bound, on activation, from a moniker name such as
//    "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\{6652CA2D-3530-40BC-A75B-D7EFFBFC2C65}".
//  - TVideoWindow: a widget that shows the pictures of its renderer filter.
//  - TSysDevEnum: the devices of a category, by friendly name and moniker.
// Components are used from the main thread. Streaming threads may read Active().

#include "compat/dshow/Devices.h"
#include "compat/dshow/Interfaces.h"

#include <QWidget>

#include <atomic>
#include <string>
#include <vector>

class TFilterGraph;

enum class TFilterOperation { foAdding, foAdded, foRemoving, foRemoved, foRefresh };

// What a graph asks of the components attached to it.
class IFilterComponent {
public:
    virtual ~IFilterComponent() = default;
    virtual ComPtr<IBaseFilter> GetFilter() = 0;
    virtual std::string GetName() = 0;
    virtual void NotifyFilter(TFilterOperation operation) = 0;
    // The graph the component is attached to, or null.
    virtual TFilterGraph *FilterGraph() const = 0;
    // The graph is being destroyed: forget it without detaching.
    virtual void ForgetGraph() = 0;
};

class TFilterGraph {
public:
    explicit TFilterGraph(std::string name = "FilterGraph");
    ~TFilterGraph();
    TFilterGraph(const TFilterGraph &) = delete;
    TFilterGraph &operator=(const TFilterGraph &) = delete;

    bool Active() const { return m_active.load(std::memory_order_acquire); }
    // Returns false (and stays inactive) when the graph cannot be created.
    bool SetActive(bool active);

    // Kept for the look of the callers: graphs are always capture graphs here.
    void SetMode(int) {}

    IGraphBuilder *GraphBuilder() const { return m_graph.Get(); }
    ICaptureGraphBuilder2 *CaptureGraphBuilder() const { return m_capture.Get(); }
    IMediaControl *MediaControl() const { return m_control.Get(); }

    // Each returns false while inactive or when the graph refuses.
    bool Play();
    bool Pause();
    bool Stop();
    FILTER_STATE State() const;

    // Components attach themselves through their SetFilterGraph.
    void Attach(IFilterComponent *component);
    void Detach(IFilterComponent *component);

    const std::string &Name() const { return m_name; }

private:
    void AddComponent(IFilterComponent *component);
    void RemoveComponent(IFilterComponent *component);

    std::string m_name;
    std::atomic<bool> m_active{false};
    ComPtr<IGraphBuilder> m_graph;
    ComPtr<ICaptureGraphBuilder2> m_capture;
    ComPtr<IMediaControl> m_control;
    std::vector<IFilterComponent *> m_components;
};

// A filter component bound from a moniker name when its graph becomes active.
class TFilter : public IFilterComponent {
public:
    explicit TFilter(std::string name = "Filter");
    ~TFilter() override;

    void SetFilterGraph(TFilterGraph *graph);
    TFilterGraph *FilterGraph() const override { return m_graph; }
    void ForgetGraph() override { m_graph = nullptr; }

    void SetMonikerName(const std::string &displayName) { m_moniker = displayName; }
    const std::string &MonikerName() const { return m_moniker; }

    // Queries the bound filter (E_FAIL when there is none).
    HRESULT QueryInterface(REFIID iid, void **object);
    template <class T>
    HRESULT QueryInterface(ComPtr<T> *out) {
        return QueryInterface(IidOf<T>(), out->PutVoid());
    }

    ComPtr<IBaseFilter> GetFilter() override { return m_filter; }
    std::string GetName() override { return m_name; }
    void NotifyFilter(TFilterOperation operation) override;

    // The result of the last binding.
    HRESULT BindResult() const { return m_bindResult; }

private:
    std::string m_name;
    std::string m_moniker;
    TFilterGraph *m_graph = nullptr;
    ComPtr<IBaseFilter> m_filter;
    HRESULT m_bindResult = S_OK;
};

// A widget showing the pictures of a renderer filter (CLSID_VideoRenderer) that is created
// when its graph becomes active.
class TVideoWindow : public QWidget, public IFilterComponent {
public:
    explicit TVideoWindow(QWidget *parent = nullptr, std::string name = "VideoWindow");
    ~TVideoWindow() override;

    void SetFilterGraph(TFilterGraph *graph);
    TFilterGraph *FilterGraph() const override { return m_graph; }
    void ForgetGraph() override { m_graph = nullptr; }
    void SetKeepAspectRatio(bool keep);
    bool KeepAspectRatio() const { return m_keepAspect; }

    ComPtr<IBaseFilter> GetFilter() override { return m_filter; }
    std::string GetName() override { return m_name; }
    void NotifyFilter(TFilterOperation operation) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    std::string m_name;
    TFilterGraph *m_graph = nullptr;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IVideoWindow> m_video;
    bool m_keepAspect = false;
};

// The devices of one category, listed when created or when the category changes.
class TSysDevEnum {
public:
    explicit TSysDevEnum(REFGUID category);
    void SelectGUIDCategory(REFGUID category);
    int CountFilters() const { return int(m_entries.size()); }
    std::string FriendlyName(int index) const;
    std::string DisplayName(int index) const;
    ComPtr<IMoniker> GetMoniker(int index) const;
    // A new filter of device number `index`; E_INVALIDARG when there is none.
    HRESULT CreateFilter(int index, IBaseFilter **filter) const;

private:
    GUID m_category;
    std::vector<ComPtr<IMoniker>> m_entries;
    std::vector<std::string> m_names;
};
