#include "recording/FrameRecords.h"

#include "capture/DSUtilEx.h"

#include "app/DataModule.h"
#include "app/Log.h"
#include "app/MessageBox.h"
#include "compat/dshow/Devices.h"
#include "compat/dshow/Uuids.h"
#include "compat/filters/FilterInterfaces.h"

#include <QHBoxLayout>
#include <QPushButton>

#include <algorithm>
#include <thread>

namespace {

const char *const H264EncoderMoniker = "@device:sw:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\ffdshow video encoder";

const TSettingIni &Settings() {
    if (!SettingIni) throw TAppError(QStringLiteral("no settings loaded"));
    return *SettingIni;
}

}  // namespace

::Mp4Params MakeMp4Params(const AM_MEDIA_TYPE &encodedVideo, const AM_MEDIA_TYPE *encodedAudio, int framesPerSecond,
                          int videoKBitRate, int audioKBitRate) {
    ::Mp4Params params{};
    params.recordSize = sizeof params;
    params.videoPresent = 1;
    params.videoFormat = kMp4VideoFormatH264;
    if (const BITMAPINFOHEADER *header = encodedVideo.BitmapHeader()) {
        params.width = uint32_t(header->biWidth);
        params.height = uint32_t(header->biHeight);
    }
    params.videoConstant16 = 24;
    params.frameRate = uint32_t(framesPerSecond);
    params.videoBitRate = uint32_t(videoKBitRate) * 1000;
    const WAVEFORMATEX *wave = encodedAudio ? encodedAudio->WaveFormat() : nullptr;
    if (wave) {
        params.audioPresent = 1;
        params.audioConstant40 = 1;
        params.audioConstant44 = 2;
        params.audioBitRate = uint32_t(audioKBitRate) * 1000;
        params.audioSampleRate = wave->nSamplesPerSec;
        params.decoderConfigLength = wave->cbSize;
        params.decoderConfigAddress = reinterpret_cast<uintptr_t>(encodedAudio->pbFormat + sizeof(WAVEFORMATEX));
    }
    return params;
}

void TRecordTimeline::Reset(bool withAudio) { *this = TRecordTimeline(); m_withAudio = withAudio; }

std::optional<int64_t> TRecordTimeline::NextVideo(bool keyFrame) {
    if (m_firstSample) {
        if (m_withAudio) return std::nullopt;
        m_firstSample = false;
        m_videoTime = 0;
    } else {
        m_videoTime += FrameStep;
    }
    // A dropped picture still takes its 50 ms, so the pictures after it stay in step.
    if (!m_keySeen) {
        if (!keyFrame) return std::nullopt;
        m_keySeen = true;
    }
    return m_videoTime;
}

int64_t TRecordTimeline::NextAudio(std::optional<int64_t> start) {
    const int64_t startTime = start.value_or(m_lastAudioStart);
    m_lastAudioStart = startTime;
    if (m_firstSample) {
        m_firstSample = false;
        m_audioTime = FirstAudioTime;
        m_videoTime = FirstVideoBase;
        m_audioFirstStart = startTime;
        return m_audioTime;
    }
    // Two samples at one time would make the writer refuse the second.
    m_audioTime = std::max(startTime - m_audioFirstStart, m_audioTime + 1);
    return m_audioTime;
}

TFrameRecord::TFrameRecord(QWidget *parent) : QFrame(parent) {
    btnStart = new QPushButton(QStringLiteral("开始录制"), this);
    btnStop = new QPushButton(QStringLiteral("停止录制"), this);
    btnPlayBack = new QPushButton(QStringLiteral("回放"), this);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(btnStart);
    layout->addWidget(btnStop);
    layout->addWidget(btnPlayBack);

    RegisterOutsideFilters();
    H264EncodeFilter.SetMonikerName(H264EncoderMoniker);
    NullRenderV.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer));
    AACEncodeFilter.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_AacEncoder));
    NullRenderA.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer));
    for (TFilter *filter : {&H264EncodeFilter, &NullRenderV, &AACEncodeFilter, &NullRenderA})
        filter->SetFilterGraph(&FilterGraphRecord);
}

TFrameRecord::~TFrameRecord() { StopRecording(); }

ComPtr<IBaseFilter> TFrameRecord::NewAudioDevice() {
    ComPtr<IBaseFilter> device;
    TSysDevEnum devices(CLSID_AudioInputDeviceCategory);
    const int index = SettingIni ? SettingIni->Mcf - 1 : -1;
    if (FAILED(devices.CreateFilter(index, device.Put()))) return nullptr;
    return device;
}

HRESULT TFrameRecord::ApplyMixLevel() {
    ComPtr<IBaseFilter> device = NewAudioDevice();
    if (!device) return S_OK;
    ComPtr<IAMAudioInputMixer> mixer;
    HRESULT result = device.As(&mixer);
    if (FAILED(result)) return result;
    mixer->put_Enable(1);
    // The stored level keeps its +0.01; the device takes no more than full level.
    return mixer->put_MixLevel(std::clamp(MixLevel, 0.0, 1.0));
}

HRESULT TFrameRecord::SetMixLevel(double level) {
    MixLevel = level + 0.01;
    return ApplyMixLevel();
}

double TFrameRecord::GetMixLevel() {
    DebugTrace("1");
    ComPtr<IBaseFilter> device = NewAudioDevice();
    double level = 0.00001;
    DebugTrace("2");
    ComPtr<IAMAudioInputMixer> mixer;
    if (device && SUCCEEDED(device.As(&mixer))) {
        DebugTrace("3");
        const HRESULT result = mixer->get_MixLevel(&level);
        if (FAILED(result)) DebugTrace(QStringLiteral("4: InputMixer.get_MixLevel hr=%1").arg(result));
    }
    return level;
}

void TFrameRecord::BuildGraph() {
    const TSettingIni &settings = Settings();
    FilterGraphRecord.SetActive(true);
    Notice(QStringLiteral("FilterGraphRecord.Active"));
    IGraphBuilder *graph = FilterGraphRecord.GraphBuilder();
    if (!graph) throw TAppError(QStringLiteral("FilterGraphRecord.Active"));

    ComPtr<TDeliverSource> source(new TDeliverSource("FVideoSource"));
    graph->AddFilter(source.Get(), "VideoSource");
    {
        std::lock_guard lock(m_sourceLock);
        VideoSource = source;
    }
    CheckDSResult(source->SetPin(0, "out1", &VideoMediaType), "FRecordSource.SetPin");
    if (!VideoGrabber) VideoGrabber = std::make_unique<TSampleGrabberEx>("FH264Grabber");
    VideoGrabber->SetFilterGraph(&FilterGraphRecord);
    CheckDSResult(ConfigffdshowEncoder(H264EncodeFilter.GetFilter().Get(), settings.VideoKBitRate),
                  "ConfigffdshowEncoder");
    CheckDSResult(ConnectFilters(source.Get(), &H264EncodeFilter), "FRecordSource --> H264EncodeFilter");
    CheckDSResult(ConnectFilters(&H264EncodeFilter, VideoGrabber.get()), "H264EncodeFilter --> FH264Grabber");
    CheckDSResult(ConnectFilters(VideoGrabber.get(), &NullRenderV), "FH264Grabber --> NullRender");

    if (WithAudio) {
        AudioSource = NewAudioDevice();
        ApplyMixLevel();
        graph->AddFilter(AudioSource.Get(), "AudioSource");
        ComPtr<IPin> capturePin;
        ComPtr<IAMBufferNegotiation> negotiation;
        if (SUCCEEDED(FindPin(AudioSource.Get(), PINDIR_OUTPUT, 0, capturePin.Put())) &&
            SUCCEEDED(capturePin.As(&negotiation))) {
            ALLOCATOR_PROPERTIES properties;
            properties.cBuffers = AudioBufferCount;
            properties.cbBuffer = AudioBufferBytes;
            properties.cbAlign = -1;
            properties.cbPrefix = -1;
            negotiation->SuggestAllocatorProperties(&properties);
        }
        if (!AudioGrabber) AudioGrabber = std::make_unique<TSampleGrabberEx>("FAACGrabber");
        AudioGrabber->SetFilterGraph(&FilterGraphRecord);
        CheckDSResult(ConfigAudioCodecAAC(AACEncodeFilter.GetFilter().Get(), settings.AudioKBitRate),
                      "ConfigAudioCodecAAC");
        CheckDSResult(ConnectFilters(AudioSource.Get(), &AACEncodeFilter), "FAudioSource --> AACEncodeFilter");
        CheckDSResult(ConnectFilters(&AACEncodeFilter, AudioGrabber.get()), "AACEncodeFilter --> FAACGrabber");
        CheckDSResult(ConnectFilters(AudioGrabber.get(), &NullRenderA), "FAACGrabber --> NullRender");
    }
    m_graphStarted = std::chrono::steady_clock::now();
    if (!FilterGraphRecord.Play()) throw TAppError(QStringLiteral("FilterGraphRecord.Run"));
}

void TFrameRecord::ReleaseGraph() {
    {
        std::lock_guard lock(m_sourceLock);
        VideoSource = nullptr;
    }
    FilterGraphRecord.Stop();
    FilterGraphRecord.SetActive(false);
    AudioSource = nullptr;
}

int TFrameRecord::StartRecording(const QString &path, bool withAudio) {
    WithAudio = withAudio;
    Delivering = false;
    m_videoOpen = false;
    try {
        BuildGraph();
        const TSettingIni &settings = Settings();
        {
            std::lock_guard lock(m_fileLock);
            m_timeline.Reset(WithAudio);
            m_captureLeadKnown = false;
            m_pendingAudio.clear();
            m_figures = TRecordFigures();
        }
        Delivering = true;

        EncodedVideoType = AM_MEDIA_TYPE();
        CheckDSResult(VideoGrabber->GetConnectedMediaType(&EncodedVideoType), "FH264Grabber.GetConnectedMediaType");
        if (WithAudio) {
            EncodedAudioType = AM_MEDIA_TYPE();
            CheckDSResult(AudioGrabber->GetConnectedMediaType(&EncodedAudioType), "FAACGrabber.GetConnectedMediaType");
        }
        Mp4Params = MakeMp4Params(EncodedVideoType, WithAudio ? &EncodedAudioType : nullptr,
                                  settings.VideoFramesPerSec, settings.VideoKBitRate, settings.AudioKBitRate);

        // The handlers are in place before the file opens; they drop samples until it is.
        VideoGrabber->SetOnSample([this](TSampleGrabberEx *, IMediaSample *sample, double) { VideoSampleHandler(sample); });
        if (WithAudio)
            AudioGrabber->SetOnSample([this](TSampleGrabberEx *, IMediaSample *sample, double) { AudioSampleHandler(sample); });

        const std::u16string path16 = path.toStdU16String();
        uint8_t started;
        {
            std::lock_guard lock(m_fileLock);
            uint32_t handle = 0;
            started = MP4_Start(path16.c_str(), &Mp4Params, &handle);
            if (started == 0) Mp4Handle = handle;
            m_openCaptureTime = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now() - m_graphStarted)
                                    .count() / 100;
        }
        Notice(QStringLiteral(" MP4_Start") + path);
        if (started != 0) {
            Notice(QString::fromStdString(mp4::lastError()));
            Delivering = false;
            ReleaseGraph();
            Notice(QStringLiteral("创建MP4文件错误！"));
            ShowMessageBox(QStringLiteral("创建MP4文件错误！"));
            return -1;
        }
        if (!WithAudio) m_videoOpen = true;
        return 0;
    } catch (const std::exception &error) {
        Notice(QString::fromStdString(error.what()));
        Delivering = false;
        {
            std::lock_guard lock(m_fileLock);
            if (Mp4Handle) MP4_Stop(std::exchange(Mp4Handle, 0));
        }
        ReleaseGraph();
        ShowMessageBox(QStringLiteral("启动录制失败！"));
        return -1;
    }
}

int TFrameRecord::StopRecording() {
    Delivering = false;
    m_videoOpen = false;
    if (WithAudio)
        WaitForSoundToReachThePictures();
    {
        std::lock_guard lock(m_fileLock);
        if (Mp4Handle) {
            WritePendingAudio(m_figures.lastVideoTime + TRecordTimeline::FrameStep);
            MP4_Stop(std::exchange(Mp4Handle, 0));
        }
        m_pendingAudio.clear();
    }
    ReleaseGraph();
    return 0;
}

void TFrameRecord::FrameSample(TSampleGrabberEx *, IMediaSample *sample, double) {
    if (!Delivering || !m_videoOpen) return;
    ComPtr<TDeliverSource> source;
    {
        std::lock_guard lock(m_sourceLock);
        source = VideoSource;
    }
    if (!source) return;
    FILTER_STATE state = State_Stopped;
    if (FAILED(source->GetState(0, &state)) || state != State_Running) return;
    BYTE *buffer = nullptr;
    if (!sample || FAILED(sample->GetPointer(&buffer))) return;
    source->DeliverBuffer(0, buffer, sample->GetActualDataLength(), 1);
}

void TFrameRecord::VideoSampleHandler(IMediaSample *sample) {
    std::lock_guard lock(m_fileLock);
    if (!Mp4Handle) return;
    const bool key = sample->IsSyncPoint() == S_OK;
    const std::optional<int64_t> time = m_timeline.NextVideo(key);
    BYTE *bytes = nullptr;
    if (!time || FAILED(sample->GetPointer(&bytes))) {
        ++m_figures.videoDropped;
        return;
    }
    if (MP4_WriteSample(Mp4Handle, 0, *time, bytes, uint32_t(sample->GetActualDataLength()), key ? 1 : 0) != 0) {
        DebugTrace(QStringLiteral(" H264 no"));
        ++m_figures.videoDropped;
        return;
    }
    ++m_figures.videoWritten;
    m_figures.lastVideoTime = *time;
    WritePendingAudio(*time + TRecordTimeline::FrameStep);
    if (key) DebugTrace(QString::number(*time / 10000));
}

void TFrameRecord::AudioSampleHandler(IMediaSample *sample) {
    std::lock_guard lock(m_fileLock);
    REFERENCE_TIME start = 0, stop = 0;
    std::optional<int64_t> startTime;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) {
        startTime = start;
        const int64_t elapsed =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - m_graphStarted)
                .count() / 100;
        m_captureLead = m_captureLeadKnown ? std::max(m_captureLead, stop - elapsed) : stop - elapsed;
        m_captureLeadKnown = true;
    }
    if (!Mp4Handle) return;
    if (m_timeline.FirstSample() && startTime && *startTime - m_captureLead < m_openCaptureTime) return;
    const bool first = m_timeline.FirstSample();
    const int64_t time = m_timeline.NextAudio(startTime);
    BYTE *bytes = nullptr;
    if (FAILED(sample->GetPointer(&bytes))) return;
    m_pendingAudio.push_back({time, std::vector<uint8_t>(bytes, bytes + sample->GetActualDataLength())});
    // The first sound opens the recording; later sound waits for the pictures.
    WritePendingAudio(first ? time : m_figures.lastVideoTime + TRecordTimeline::FrameStep);
    m_videoOpen = true;
}

// Sound arrives later than the pictures by the capture latency (a sound server may hand it over
// in bursts). Waiting, within a bound, for the sound of the last picture lets both tracks end
// together instead of the sound track ending short.
void TFrameRecord::WaitForSoundToReachThePictures() {
    constexpr auto Limit = std::chrono::milliseconds(1500);
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(m_fileLock);
            if (!Mp4Handle || m_figures.audioWritten == 0)
                return;
            const int64_t newestSound = m_pendingAudio.empty() ? m_figures.lastAudioTime : m_pendingAudio.back().time;
            if (newestSound >= m_figures.lastVideoTime)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TFrameRecord::WritePendingAudio(int64_t upTo) {
    while (!m_pendingAudio.empty() && m_pendingAudio.front().time <= upTo) {
        const TPendingAudio &audio = m_pendingAudio.front();
        if (MP4_WriteSample(Mp4Handle, 1, audio.time, audio.bytes.data(), uint32_t(audio.bytes.size()), 1) != 0) {
            DebugTrace(QStringLiteral("Audio AAC no"));
        } else {
            ++m_figures.audioWritten;
            m_figures.lastAudioTime = audio.time;
        }
        m_pendingAudio.pop_front();
    }
}

TRecordFigures TFrameRecord::Figures() {
    std::lock_guard lock(m_fileLock);
    return m_figures;
}

bool TFrameRecord::Recording() {
    std::lock_guard lock(m_fileLock);
    return Mp4Handle != 0;
}
