#include "AacEncoderFilter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace filters {

namespace {
constexpr int kFrameSamples = 1024;
constexpr int kMaxFrameBytes = 8192; // 6144 bits per channel at most, two channels
constexpr uint32_t kAacRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};

const WAVEFORMATEX* pcmFormatOf(const AM_MEDIA_TYPE& type)
{
    if (type.majortype != MEDIATYPE_Audio || type.subtype != MEDIASUBTYPE_PCM)
        return nullptr;
    const WAVEFORMATEX* wave = type.WaveFormat();
    if (!wave || wave->wFormatTag != WAVE_FORMAT_PCM || wave->wBitsPerSample != 16 ||
        wave->nChannels < 1 || wave->nChannels > 2 || wave->nBlockAlign != wave->nChannels * 2 ||
        std::find(std::begin(kAacRates), std::end(kAacRates), wave->nSamplesPerSec) == std::end(kAacRates))
        return nullptr;
    return wave;
}
} // namespace

AacEncoderFilter::AacEncoderFilter() : CTransformFilter("AAC audio encoder", CLSID_AacEncoder) {}

HRESULT AacEncoderFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IAacEncoderSettings)
        return GetInterface(static_cast<IAacEncoderSettings*>(this), object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT AacEncoderFilter::SetConfig(const AacEncoderConfig* config)
{
    if (!config)
        return E_POINTER;
    constexpr int32_t kAacLc = 2;
    if (config->version != 0 || config->objectType != kAacLc || config->outputFormat != 0 ||
        config->bitRate < 8000 || config->bitRate > 320000)
        return E_INVALIDARG;
    CAutoLock lock(m_csFilter);
    if (GetPin(1)->IsConnected()) // GetPin makes the pins on first use
        return VFW_E_ALREADY_CONNECTED; // the bit rate is part of the connected type
    bitRate_ = config->bitRate;
    return S_OK;
}

AacSettings AacEncoderFilter::settingsFor(const AM_MEDIA_TYPE& input) const
{
    const WAVEFORMATEX* wave = pcmFormatOf(input);
    return {static_cast<int>(wave->nSamplesPerSec), wave->nChannels, bitRate_};
}

HRESULT AacEncoderFilter::CheckInputType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    return pcmFormatOf(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AacEncoderFilter::SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE* type)
{
    if (direction != PINDIR_INPUT)
        return S_OK;
    // The decoder configuration belongs to the output type, so it is made at input connection.
    try {
        audioSpecificConfig_ = AacEncoder(settingsFor(*type)).audioSpecificConfig();
    } catch (const std::exception&) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT AacEncoderFilter::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (const HRESULT hr = OnlyOutputTypeAt(position, type); hr != S_OK)
        return hr;
    const WAVEFORMATEX* in = pcmFormatOf(InputPin()->CurrentMediaType());
    if (!in)
        return VFW_E_NOT_CONNECTED;
    AM_MEDIA_TYPE out;
    out.majortype = MEDIATYPE_Audio;
    out.subtype = MEDIASUBTYPE_RAW_AAC1;
    out.bFixedSizeSamples = 0;
    out.bTemporalCompression = 0;
    out.lSampleSize = 0;
    out.formattype = FORMAT_WaveFormatEx;
    const auto extra = static_cast<ULONG>(audioSpecificConfig_.size());
    BYTE* block = out.AllocFormatBuffer(sizeof(WAVEFORMATEX) + extra);
    if (!block)
        return E_OUTOFMEMORY;
    WAVEFORMATEX wave;
    wave.wFormatTag = WAVE_FORMAT_RAW_AAC1;
    wave.nChannels = in->nChannels;
    wave.nSamplesPerSec = in->nSamplesPerSec;
    wave.nAvgBytesPerSec = static_cast<uint32_t>(bitRate_ / 8);
    wave.nBlockAlign = 1;
    wave.wBitsPerSample = 0;
    wave.cbSize = static_cast<uint16_t>(extra);
    std::memcpy(block, &wave, sizeof wave);
    std::memcpy(block + sizeof wave, audioSpecificConfig_.data(), extra);
    *type = std::move(out);
    return S_OK;
}

HRESULT AacEncoderFilter::CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output)
{
    if (!input || !output)
        return E_POINTER;
    const WAVEFORMATEX* in = pcmFormatOf(*input);
    const WAVEFORMATEX* out = output->WaveFormat();
    if (!in || !out || output->subtype != MEDIASUBTYPE_RAW_AAC1 || out->nChannels != in->nChannels ||
        out->nSamplesPerSec != in->nSamplesPerSec)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT AacEncoderFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return RequestAtLeast(allocator, request, 8, kMaxFrameBytes);
}

HRESULT AacEncoderFilter::StartStreaming()
{
    try {
        encoder_ = std::make_unique<AacEncoder>(settingsFor(InputPin()->CurrentMediaType()));
    } catch (const std::exception&) {
        return E_FAIL;
    }
    nextInputTime_ = 0;
    return S_OK;
}

HRESULT AacEncoderFilter::StopStreaming()
{
    encoder_.reset();
    return S_OK;
}

HRESULT AacEncoderFilter::deliverFrame(std::span<const uint8_t> frame, int64_t time)
{
    ComPtr<IMediaSample> out;
    HRESULT hr = OutputPin()->GetDeliveryBuffer(out.Put(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE* data = nullptr;
    out->GetPointer(&data);
    if (static_cast<LONG>(frame.size()) > out->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    std::memcpy(data, frame.data(), frame.size());
    out->SetActualDataLength(static_cast<LONG>(frame.size()));
    const WAVEFORMATEX* in = pcmFormatOf(InputPin()->CurrentMediaType());
    REFERENCE_TIME start = time;
    REFERENCE_TIME stop = time + kFrameSamples * UNITS / in->nSamplesPerSec;
    out->SetTime(&start, &stop);
    out->SetSyncPoint(1);
    return OutputPin()->Deliver(out.Get());
}

HRESULT AacEncoderFilter::Receive(IMediaSample* sample)
{
    CAutoLock lock(m_csReceive);
    if (!OutputPin()->IsConnected())
        return S_OK;
    if (!encoder_)
        return VFW_E_WRONG_STATE;
    const WAVEFORMATEX* wave = pcmFormatOf(InputPin()->CurrentMediaType());
    BYTE* data = nullptr;
    if (!wave || FAILED(sample->GetPointer(&data)))
        return E_UNEXPECTED;
    const int frames = sample->GetActualDataLength() / wave->nBlockAlign;
    REFERENCE_TIME start = 0, stop = 0;
    // An unstamped buffer follows on from the one before it.
    if (FAILED(sample->GetTime(&start, &stop)))
        start = nextInputTime_;
    nextInputTime_ = start + int64_t(frames) * UNITS / wave->nSamplesPerSec;
    deliveryResult_ = S_OK;
    try {
        encoder_->encode(reinterpret_cast<const int16_t*>(data), frames, start,
                         [this](std::span<const uint8_t> frame, int64_t time) {
                             if (deliveryResult_ == S_OK)
                                 deliveryResult_ = deliverFrame(frame, time);
                         });
    } catch (const std::exception&) {
        return E_FAIL;
    }
    return FAILED(deliveryResult_) ? deliveryResult_ : S_OK;
}

HRESULT AacEncoderFilter::EndOfStream()
{
    {
        CAutoLock lock(m_csReceive);
        if (encoder_) {
            try {
                encoder_->flush([this](std::span<const uint8_t> frame, int64_t time) {
                    deliverFrame(frame, time);
                });
            } catch (const std::exception&) {
                // the stream ends either way
            }
        }
    }
    return CTransformFilter::EndOfStream();
}

} // namespace filters
