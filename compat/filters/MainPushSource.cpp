#include "MainPushSource.h"

#include "VideoTypes.h"

#include <algorithm>
#include <thread>

namespace filters {

namespace {
constexpr uint32_t kBlackPair = 0x80108010; // Y 16, U 128, Y 16, V 128
constexpr auto kStopPoll = std::chrono::milliseconds(10);
} // namespace

MainPushStream::MainPushStream(MainPushSource* filter, HRESULT* result)
    : CSourceStream(filter, result, "Out"), source_(filter)
{
}

HRESULT MainPushStream::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    *type = makeYuy2Type(kWidth, kHeight, UNITS / source_->framesPerSecond());
    return S_OK;
}

HRESULT MainPushStream::CheckMediaType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    const auto layout = pictureLayoutOf(*type);
    return layout && layout->format == PixelFormat::Yuy2 && layout->width == kWidth &&
                   layout->height == kHeight
        ? S_OK
        : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT MainPushStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return RequestAtLeast(allocator, request, 1, kWidth * kHeight * 2);
}

HRESULT MainPushStream::OnThreadCreate()
{
    clock_.start(source_->framesPerSecond());
    return S_OK;
}

HRESULT MainPushStream::FillBuffer(IMediaSample* sample)
{
    const auto deadline = clock_.next();
    while (PacedClock::Clock::now() < deadline) {
        if (StopRequested())
            return E_ABORT; // stopping: no end of stream, just no more samples
        std::this_thread::sleep_until(std::min(deadline, PacedClock::Clock::now() + kStopPoll));
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    constexpr int kSize = kWidth * kHeight * 2;
    auto* pairs = reinterpret_cast<uint32_t*>(data);
    std::fill(pairs, pairs + kSize / 4, kBlackPair);
    sample->SetActualDataLength(kSize);
    sample->SetSyncPoint(1);
    return S_OK;
}

MainPushSource::MainPushSource() : CSource("Main push source", CLSID_MainPushSource)
{
    HRESULT hr = S_OK;
    AddPin(std::make_unique<MainPushStream>(this, &hr));
}

HRESULT MainPushSource::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_ISetPushSource)
        return GetInterface(static_cast<ISetPushSource*>(this), object);
    return CSource::NonDelegatingQueryInterface(iid, object);
}

HRESULT MainPushSource::SetPush(int32_t framesPerSecond)
{
    if (framesPerSecond < 1 || framesPerSecond > 60)
        return E_INVALIDARG;
    CAutoLock lock(m_cStateLock);
    if (GetPin(0)->IsConnected())
        return VFW_E_ALREADY_CONNECTED; // the rate is part of the connected type
    rate_ = framesPerSecond;
    return S_OK;
}

} // namespace filters
