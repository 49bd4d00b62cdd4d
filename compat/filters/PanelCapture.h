#pragma once
// The panel capture filter: pictures of a window area of the program (or of a picture the
// program draws) at a set rate and size, as bottom-up RGB32. Grabs run on the GUI thread,
// which is the only thread that may read widgets and the program's pictures; the streaming
// thread copies the latest grab into each sample at its own steady pace.
#include "FilterInterfaces.h"
#include "PacedClock.h"

#include "compat/dshow/SourceFilter.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <mutex>

namespace filters {

// What the GUI thread grabs from and what it grabbed, shared by the filter and its grabber.
struct PanelShared {
    std::mutex lock;
    uintptr_t window = 0;
    uintptr_t owner = 0;
    int width = 0;  // output size, width even
    int height = 0;
    int framesPerSecond = 20;
    const QImage* picture = nullptr;
    bool playMode = false; // another program's window: grab from the screen
    bool is4b3 = false;
    bool fullScreen = false;
    QImage latest; // RGB32 of the output size
};

// Lives on the GUI thread; grabs at the frame rate while the filter streams.
class PanelGrabber : public QObject {
    Q_OBJECT
public:
    explicit PanelGrabber(std::shared_ptr<PanelShared> shared);
    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();
    // One grab now (the timer's work).
    Q_INVOKABLE void grab();

private:
    QImage grabSource(const PanelShared& settings) const;

    std::shared_ptr<PanelShared> shared_;
    QTimer timer_;
};

class PanelCaptureFilter;

class PanelCaptureStream final : public CSourceStream {
public:
    PanelCaptureStream(PanelCaptureFilter* filter, HRESULT* result);
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT FillBuffer(IMediaSample* sample) override;

private:
    PanelCaptureFilter* filter_;
    PacedClock clock_;
};

class PanelCaptureFilter final : public CSource, public ISetPushPanel {
public:
    PanelCaptureFilter();
    ~PanelCaptureFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT SetPanel(uintptr_t window, int32_t width, int32_t height) override;
    HRESULT SetPicture(const QImage* picture) override;
    HRESULT SetPlayMode(int32_t flag) override;
    HRESULT SetOwnerWindow(uintptr_t window) override;
    HRESULT SetIs4B3(int32_t flag) override;
    HRESULT SetFrameRate(int32_t framesPerSecond) override;
    HRESULT SetFullScreen(int32_t flag) override;

    PanelShared& shared() { return *shared_; }
    PanelGrabber* grabber() const { return grabber_; }

private:
    bool outputConnected();

    std::shared_ptr<PanelShared> shared_;
    QPointer<PanelGrabber> grabber_;
};

} // namespace filters
