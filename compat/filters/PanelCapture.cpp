#include "PanelCapture.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <thread>

namespace filters {

namespace {
constexpr int kMaxSide = 8192;
constexpr auto kStopPoll = std::chrono::milliseconds(10);

// The centred 4:3 part of a picture wider than 4:3 (the whole picture otherwise).
QImage centred4by3(const QImage& image)
{
    const int width = std::min(image.width(), image.height() * 4 / 3);
    return image.copy((image.width() - width) / 2, 0, width, image.height());
}
} // namespace

PanelGrabber::PanelGrabber(std::shared_ptr<PanelShared> shared) : shared_(std::move(shared))
{
    connect(&timer_, &QTimer::timeout, this, &PanelGrabber::grab);
}

void PanelGrabber::start()
{
    int rate;
    {
        std::lock_guard guard(shared_->lock);
        rate = shared_->framesPerSecond;
    }
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.start(1000 / rate);
    grab();
}

void PanelGrabber::stop()
{
    timer_.stop();
}

QImage PanelGrabber::grabSource(const PanelShared& s) const
{
    if (s.picture)
        return *s.picture;
    const auto id = static_cast<WId>(s.window);
    if (!s.playMode) {
        if (QWidget* widget = QWidget::find(id))
            return widget->grab().toImage();
    }
    // Another program's window embedded in the panel: only the screen shows it.
    QScreen* screen = QGuiApplication::primaryScreen();
    if (QWidget* owner = QWidget::find(static_cast<WId>(s.owner)))
        screen = owner->screen();
    return screen ? screen->grabWindow(id).toImage() : QImage();
}

void PanelGrabber::grab()
{
    PanelShared settings;
    {
        std::lock_guard guard(shared_->lock);
        if (shared_->fullScreen)
            return; // a full-screen video covers the panel: keep the last picture
        settings.window = shared_->window;
        settings.owner = shared_->owner;
        settings.width = shared_->width;
        settings.height = shared_->height;
        settings.picture = shared_->picture;
        settings.playMode = shared_->playMode;
        settings.is4b3 = shared_->is4b3;
    }
    if (settings.width <= 0 || settings.height <= 0 || (!settings.picture && !settings.window))
        return;
    QImage image = grabSource(settings);
    if (image.isNull())
        return;
    if (settings.is4b3)
        image = centred4by3(image);
    if (image.width() != settings.width || image.height() != settings.height)
        image = image.scaled(settings.width, settings.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(QImage::Format_RGB32);
    std::lock_guard guard(shared_->lock);
    shared_->latest = std::move(image);
}

PanelCaptureStream::PanelCaptureStream(PanelCaptureFilter* filter, HRESULT* result)
    : CSourceStream(filter, result, "Out"), filter_(filter)
{
}

HRESULT PanelCaptureStream::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    if (position < 0)
        return E_INVALIDARG;
    PanelShared& s = filter_->shared();
    std::lock_guard guard(s.lock);
    if (position > 0 || s.width <= 0 || s.height <= 0)
        return VFW_S_NO_MORE_ITEMS;
    *type = MakeVideoType(MEDIASUBTYPE_RGB32, s.width, s.height, 32, UNITS / s.framesPerSecond);
    return S_OK;
}

HRESULT PanelCaptureStream::CheckMediaType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    AM_MEDIA_TYPE mine;
    if (GetMediaType(0, &mine) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* bmi = type->BitmapHeader();
    const BITMAPINFOHEADER* want = mine.BitmapHeader();
    return type->subtype == MEDIASUBTYPE_RGB32 && bmi && bmi->biBitCount == 32 &&
                   bmi->biWidth == want->biWidth && bmi->biHeight == want->biHeight
        ? S_OK
        : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PanelCaptureStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    const BITMAPINFOHEADER* bmi = CurrentMediaType().BitmapHeader();
    if (!bmi)
        return VFW_E_NOT_CONNECTED;
    return RequestAtLeast(allocator, request, 1, static_cast<int32_t>(BitmapImageSize(*bmi)));
}

HRESULT PanelCaptureStream::OnThreadCreate()
{
    {
        std::lock_guard guard(filter_->shared().lock);
        clock_.start(filter_->shared().framesPerSecond);
    }
    if (PanelGrabber* grabber = filter_->grabber())
        QMetaObject::invokeMethod(grabber, "start", Qt::QueuedConnection);
    return S_OK;
}

HRESULT PanelCaptureStream::OnThreadDestroy()
{
    if (PanelGrabber* grabber = filter_->grabber())
        QMetaObject::invokeMethod(grabber, "stop", Qt::QueuedConnection);
    return S_OK;
}

HRESULT PanelCaptureStream::FillBuffer(IMediaSample* sample)
{
    const auto deadline = clock_.next();
    while (PacedClock::Clock::now() < deadline) {
        if (StopRequested())
            return E_ABORT; // stopping: no end of stream, just no more samples
        std::this_thread::sleep_until(std::min(deadline, PacedClock::Clock::now() + kStopPoll));
    }
    const BITMAPINFOHEADER* bmi = CurrentMediaType().BitmapHeader();
    const int width = bmi->biWidth, height = bmi->biHeight;
    const int rowBytes = width * 4;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    PanelShared& s = filter_->shared();
    {
        std::lock_guard guard(s.lock);
        if (s.latest.width() == width && s.latest.height() == height) {
            // Bottom-up: the picture's top row is the sample's last row.
            for (int y = 0; y < height; ++y)
                std::memcpy(data + size_t(height - 1 - y) * rowBytes, s.latest.constScanLine(y), rowBytes);
        } else {
            std::memset(data, 0, size_t(rowBytes) * height); // nothing grabbed yet: black
        }
    }
    sample->SetActualDataLength(rowBytes * height);
    sample->SetSyncPoint(1);
    return S_OK;
}

PanelCaptureFilter::PanelCaptureFilter()
    : CSource("Panel capture", CLSID_PanelCapture), shared_(std::make_shared<PanelShared>())
{
    HRESULT hr = S_OK;
    AddPin(std::make_unique<PanelCaptureStream>(this, &hr));
    if (QCoreApplication* app = QCoreApplication::instance()) {
        auto* grabber = new PanelGrabber(shared_);
        grabber->moveToThread(app->thread());
        grabber_ = grabber;
    }
}

PanelCaptureFilter::~PanelCaptureFilter()
{
    if (grabber_)
        grabber_->deleteLater(); // its timer belongs to the GUI thread
}

HRESULT PanelCaptureFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_ISetPushPanel)
        return GetInterface(static_cast<ISetPushPanel*>(this), object);
    return CSource::NonDelegatingQueryInterface(iid, object);
}

bool PanelCaptureFilter::outputConnected()
{
    return GetPin(0)->IsConnected();
}

HRESULT PanelCaptureFilter::SetPanel(uintptr_t window, int32_t width, int32_t height)
{
    if (!window || width <= 1 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return E_INVALIDARG;
    CAutoLock lock(m_cStateLock);
    if (outputConnected())
        return VFW_E_ALREADY_CONNECTED; // the size is part of the connected type
    std::lock_guard guard(shared_->lock);
    shared_->window = window;
    shared_->width = width & ~1; // the pictures go on as YUY2, which needs an even width
    shared_->height = height;
    return S_OK;
}

HRESULT PanelCaptureFilter::SetPicture(const QImage* picture)
{
    std::lock_guard guard(shared_->lock);
    shared_->picture = picture;
    return S_OK;
}

HRESULT PanelCaptureFilter::SetPlayMode(int32_t flag)
{
    if (flag != 0 && flag != 1)
        return E_INVALIDARG;
    std::lock_guard guard(shared_->lock);
    shared_->playMode = flag == 1;
    return S_OK;
}

HRESULT PanelCaptureFilter::SetOwnerWindow(uintptr_t window)
{
    std::lock_guard guard(shared_->lock);
    shared_->owner = window;
    return S_OK;
}

HRESULT PanelCaptureFilter::SetIs4B3(int32_t flag)
{
    std::lock_guard guard(shared_->lock);
    shared_->is4b3 = flag != 0;
    return S_OK;
}

HRESULT PanelCaptureFilter::SetFrameRate(int32_t framesPerSecond)
{
    if (framesPerSecond < 1 || framesPerSecond > 60)
        return E_INVALIDARG;
    CAutoLock lock(m_cStateLock);
    if (outputConnected())
        return VFW_E_ALREADY_CONNECTED; // the rate is part of the connected type
    std::lock_guard guard(shared_->lock);
    shared_->framesPerSecond = framesPerSecond;
    return S_OK;
}

HRESULT PanelCaptureFilter::SetFullScreen(int32_t flag)
{
    std::lock_guard guard(shared_->lock);
    shared_->fullScreen = flag != 0;
    return S_OK;
}

} // namespace filters
