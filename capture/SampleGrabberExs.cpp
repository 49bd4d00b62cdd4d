#include "capture/SampleGrabberExs.h"

#include "app/Log.h"
#include "capture/DSUtilEx.h"
#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Uuids.h"

#include <cstdio>

namespace {
HRESULT CreateGrabberFilter(ComPtr<IBaseFilter> *filter) {
    return CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC, IID_IBaseFilter, filter->PutVoid());
}

QString CallbackErrorText(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "%X", static_cast<uint32_t>(hr));
    return QString::fromStdString(HResultText(hr)) + " ($" + QString::fromLatin1(code) + ").";
}
}  // namespace

TSampleGrabberEx::TSampleGrabberEx(std::string name) : m_name(std::move(name)) {
    ComPtr<IBaseFilter> probe;
    const HRESULT hr = CreateGrabberFilter(&probe);
    if (FAILED(hr))
        throw EDirectShowError(QStringLiteral(" The SampleGrabber Filter is not available on this system. "), hr);
}

TSampleGrabberEx::~TSampleGrabberEx() {
    SetFilterGraph(nullptr);
    if (m_sampleGrabber) m_sampleGrabber->SetCallback(nullptr, m_mode);
}

void TSampleGrabberEx::SetFilterGraph(TFilterGraph *graph) {
    if (graph == m_graph) return;
    if (m_graph) m_graph->Detach(this);
    m_graph = graph;
    if (m_graph) m_graph->Attach(this);
}

void TSampleGrabberEx::ForgetGraph() { m_graph = nullptr; }

void TSampleGrabberEx::SetOnSample(TSampleEvent handler) {
    std::lock_guard guard(m_callbackLock);
    m_onSample = std::move(handler);
    m_errorReported = false;
}

void TSampleGrabberEx::SetOnBuffer(TBufferEvent handler) {
    std::lock_guard guard(m_callbackLock);
    m_onBuffer = std::move(handler);
    m_errorReported = false;
}

bool TSampleGrabberEx::HasOnSample() {
    std::lock_guard guard(m_callbackLock);
    return bool(m_onSample);
}

void TSampleGrabberEx::SetWhichMethodToCallback(int mode) {
    if (m_sampleGrabber) {
        if (mode == 1) {
            const HRESULT hr = m_sampleGrabber->SetCallback(this, 1);
            if (FAILED(hr)) throw EDirectShowError(CallbackErrorText(hr), hr);
            m_sampleGrabber->SetBufferSamples(1);
        } else {
            m_sampleGrabber->SetBufferSamples(0);
            const HRESULT hr = m_sampleGrabber->SetCallback(this, 0);
            if (FAILED(hr)) throw EDirectShowError(CallbackErrorText(hr), hr);
        }
    }
    m_mode = mode;
}

HRESULT TSampleGrabberEx::GetConnectedMediaType(AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    if (!m_sampleGrabber) return E_FAIL;
    return m_sampleGrabber->GetConnectedMediaType(type);
}

void TSampleGrabberEx::NotifyFilter(TFilterOperation operation) {
    switch (operation) {
    case TFilterOperation::foAdding:
        m_filter = nullptr;
        CreateGrabberFilter(&m_filter);
        break;
    case TFilterOperation::foAdded:
        if (m_filter && SUCCEEDED(m_filter.As(&m_sampleGrabber))) {
            if (m_mode == 1) {
                m_sampleGrabber->SetBufferSamples(1);
                m_sampleGrabber->SetCallback(this, 1);
            } else {
                m_sampleGrabber->SetBufferSamples(0);
                m_sampleGrabber->SetCallback(this, 0);
            }
        }
        break;
    case TFilterOperation::foRemoving:
        if (m_filter) m_filter->Stop();
        break;
    case TFilterOperation::foRemoved:
        if (m_sampleGrabber) {
            m_sampleGrabber->SetBufferSamples(0);
            m_sampleGrabber->SetCallback(nullptr, m_mode);  // waits for a callback in progress
        }
        m_sampleGrabber = nullptr;
        m_filter = nullptr;
        break;
    case TFilterOperation::foRefresh:
        break;
    }
}

HRESULT TSampleGrabberEx::QueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_ISampleGrabberCB || iid == IID_IUnknown) {
        *object = static_cast<ISampleGrabberCB *>(this);
        return S_OK;
    }
    if (!m_filter) return E_NOINTERFACE;
    return m_filter->QueryInterface(iid, object);
}

void TSampleGrabberEx::ReportHandlerError(const char *what) {
    const QString text = QStringLiteral("%1: sample handler failed: %2").arg(QString::fromStdString(m_name), QString::fromUtf8(what));
    DebugTrace(text);
    // Once per handler: a handler that fails on every frame must not flood the log.
    if (!m_errorReported) {
        m_errorReported = true;
        Notice(text);
    }
}

HRESULT TSampleGrabberEx::SampleCB(double sampleTime, IMediaSample *sample) {
    std::lock_guard guard(m_callbackLock);
    if (!m_onSample) return S_OK;
    try {
        m_onSample(this, sample, sampleTime);
    } catch (const std::exception &e) {
        ReportHandlerError(e.what());
    } catch (...) {
        ReportHandlerError("unknown error");
    }
    return S_OK;
}

HRESULT TSampleGrabberEx::BufferCB(double sampleTime, BYTE *buffer, LONG length) {
    std::lock_guard guard(m_callbackLock);
    if (!m_onBuffer) return S_OK;
    try {
        m_onBuffer(this, buffer, length, sampleTime);
    } catch (const std::exception &e) {
        ReportHandlerError(e.what());
    } catch (...) {
        ReportHandlerError("unknown error");
    }
    return S_OK;
}
