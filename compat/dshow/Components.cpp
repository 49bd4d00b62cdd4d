#include "compat/dshow/Components.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"

#include <QResizeEvent>

#include <algorithm>

// ---------------------------------------------------------------------------------------------
// TFilterGraph

TFilterGraph::TFilterGraph(std::string name) : m_name(std::move(name)) {}

TFilterGraph::~TFilterGraph() {
    SetActive(false);
    for (IFilterComponent *component : m_components) component->ForgetGraph();
    m_components.clear();
}

bool TFilterGraph::SetActive(bool active) {
    if (active == Active()) return true;
    if (active) {
        ComPtr<IGraphBuilder> graph;
        ComPtr<ICaptureGraphBuilder2> capture;
        if (FAILED(CoCreate(CLSID_FilterGraph, &graph)) || FAILED(CoCreate(CLSID_CaptureGraphBuilder2, &capture)) ||
            FAILED(capture->SetFiltergraph(graph.Get())))
            return false;
        m_graph = graph;
        m_capture = capture;
        m_control = graph.As<IMediaControl>();
        m_active.store(true, std::memory_order_release);
        for (IFilterComponent *component : m_components) AddComponent(component);
        return true;
    }
    if (m_control) m_control->Stop();
    // Readers on streaming threads see the graph inactive before anything is released.
    m_active.store(false, std::memory_order_release);
    for (IFilterComponent *component : m_components) RemoveComponent(component);
    m_control = nullptr;
    m_capture = nullptr;
    m_graph = nullptr;  // releases every filter still in the graph
    return true;
}

void TFilterGraph::AddComponent(IFilterComponent *component) {
    component->NotifyFilter(TFilterOperation::foAdding);
    if (ComPtr<IBaseFilter> filter = component->GetFilter()) m_graph->AddFilter(filter.Get(), component->GetName().c_str());
    component->NotifyFilter(TFilterOperation::foAdded);
}

void TFilterGraph::RemoveComponent(IFilterComponent *component) {
    component->NotifyFilter(TFilterOperation::foRemoving);
    if (ComPtr<IBaseFilter> filter = component->GetFilter()) m_graph->RemoveFilter(filter.Get());
    component->NotifyFilter(TFilterOperation::foRemoved);
}

bool TFilterGraph::Play() { return Active() && SUCCEEDED(m_control->Run()); }
bool TFilterGraph::Pause() { return Active() && SUCCEEDED(m_control->Pause()); }
bool TFilterGraph::Stop() { return Active() && SUCCEEDED(m_control->Stop()); }

FILTER_STATE TFilterGraph::State() const {
    OAFilterState state = State_Stopped;
    if (Active() && m_control) m_control->GetState(0, &state);
    return FILTER_STATE(state);
}

void TFilterGraph::Attach(IFilterComponent *component) {
    if (!component || std::find(m_components.begin(), m_components.end(), component) != m_components.end()) return;
    m_components.push_back(component);
    if (Active()) AddComponent(component);
}

void TFilterGraph::Detach(IFilterComponent *component) {
    auto it = std::find(m_components.begin(), m_components.end(), component);
    if (it == m_components.end()) return;
    if (Active()) RemoveComponent(component);
    m_components.erase(it);
}

// ---------------------------------------------------------------------------------------------
// TFilter

TFilter::TFilter(std::string name) : m_name(std::move(name)) {}

TFilter::~TFilter() { SetFilterGraph(nullptr); }

void TFilter::SetFilterGraph(TFilterGraph *graph) {
    if (graph == m_graph) return;
    if (m_graph) m_graph->Detach(this);
    m_graph = graph;
    if (m_graph) m_graph->Attach(this);
}

HRESULT TFilter::QueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!m_filter) return E_FAIL;
    return m_filter->QueryInterface(iid, object);
}

void TFilter::NotifyFilter(TFilterOperation operation) {
    switch (operation) {
    case TFilterOperation::foAdding:
        m_filter = nullptr;
        m_bindResult = m_moniker.empty() ? MK_E_SYNTAX : BindMonikerName(m_moniker, IID_IBaseFilter, m_filter.PutVoid());
        break;
    case TFilterOperation::foRemoved:
        m_filter = nullptr;
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// TVideoWindow

TVideoWindow::TVideoWindow(QWidget *parent, std::string name) : QWidget(parent), m_name(std::move(name)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
}

TVideoWindow::~TVideoWindow() { SetFilterGraph(nullptr); }

void TVideoWindow::SetFilterGraph(TFilterGraph *graph) {
    if (graph == m_graph) return;
    if (m_graph) m_graph->Detach(this);
    m_graph = graph;
    if (m_graph) m_graph->Attach(this);
}

void TVideoWindow::SetKeepAspectRatio(bool keep) {
    m_keepAspect = keep;
    if (m_video) m_video->put_KeepAspectRatio(keep);
}

void TVideoWindow::NotifyFilter(TFilterOperation operation) {
    switch (operation) {
    case TFilterOperation::foAdding:
        m_filter = nullptr;
        m_video = nullptr;
        if (SUCCEEDED(CoCreate(CLSID_VideoRenderer, &m_filter))) m_video = m_filter.As<IVideoWindow>();
        break;
    case TFilterOperation::foAdded:
        if (m_video) {
            m_video->put_Owner(this);
            m_video->put_KeepAspectRatio(m_keepAspect);
            m_video->SetWindowPosition(0, 0, width(), height());
            m_video->put_Visible(1);
        }
        break;
    case TFilterOperation::foRemoving:
        if (m_video) m_video->put_Owner(nullptr);
        break;
    case TFilterOperation::foRemoved:
        m_video = nullptr;
        m_filter = nullptr;
        update();
        break;
    case TFilterOperation::foRefresh:
        break;
    }
}

void TVideoWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_video) m_video->SetWindowPosition(0, 0, width(), height());
}

// ---------------------------------------------------------------------------------------------
// TSysDevEnum

TSysDevEnum::TSysDevEnum(REFGUID category) { SelectGUIDCategory(category); }

void TSysDevEnum::SelectGUIDCategory(REFGUID category) {
    m_category = category;
    m_entries = CategoryMonikers(category);
    m_names.clear();
    for (auto &moniker : m_entries) {
        std::string name;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(IID_IPropertyBag, bag.PutVoid()))) bag->Read("FriendlyName", &name);
        m_names.push_back(name);
    }
}

std::string TSysDevEnum::FriendlyName(int index) const {
    return index >= 0 && index < CountFilters() ? m_names[index] : std::string();
}

std::string TSysDevEnum::DisplayName(int index) const {
    std::string name;
    if (index >= 0 && index < CountFilters()) m_entries[index]->GetDisplayName(&name);
    return name;
}

ComPtr<IMoniker> TSysDevEnum::GetMoniker(int index) const {
    return index >= 0 && index < CountFilters() ? m_entries[index] : nullptr;
}

HRESULT TSysDevEnum::CreateFilter(int index, IBaseFilter **filter) const {
    if (!filter) return E_POINTER;
    *filter = nullptr;
    if (index < 0 || index >= CountFilters()) return E_INVALIDARG;
    return m_entries[index]->BindToObject(IID_IBaseFilter, reinterpret_cast<void **>(filter));
}
