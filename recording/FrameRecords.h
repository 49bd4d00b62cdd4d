#pragma once

// The recording frame: for each recording a graph that encodes the composed pictures (pushed
// in by the preview) to H.264 and the microphone to AAC, and hands every encoded sample with
// its time stamp to the MP4 writer.

#include "capture/DeliverSources.h"
#include "capture/SampleGrabberExs.h"

#include "compat/dshow/Components.h"
#include "compat/mp4/Mp4Api.h"

#include <QFrame>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <vector>
#include <memory>
#include <mutex>
#include <optional>

class QPushButton;

// The writer's start parameters from the encoded types (encodedAudio null: no audio track).
::Mp4Params MakeMp4Params(const AM_MEDIA_TYPE &encodedVideo, const AM_MEDIA_TYPE *encodedAudio, int framesPerSecond,
                          int videoKBitRate, int audioKBitRate);

// The time stamps of one recording. The audio clock leads: with audio, video waits for the
// first audio sample; video then advances one 50 ms frame per encoded sample.
class TRecordTimeline {
public:
    static constexpr int64_t FrameStep = 500000;
    static constexpr int64_t FirstAudioTime = 157;
    static constexpr int64_t FirstVideoBase = 160;

    void Reset(bool withAudio);
    // The stamp of the next video sample, or nothing when it must be dropped: before the
    // first audio sample, and before the first key frame (a file must start decodable).
    std::optional<int64_t> NextVideo(bool keyFrame);
    // The stamp of an audio sample; a sample without a start time follows on from the last.
    int64_t NextAudio(std::optional<int64_t> start);
    bool FirstSample() const { return m_firstSample; }

private:
    bool m_withAudio = false;
    bool m_firstSample = true;
    bool m_keySeen = false;
    int64_t m_videoTime = 0;
    int64_t m_audioTime = 0;
    int64_t m_audioFirstStart = 0;
    int64_t m_lastAudioStart = 0;
};

// What a recording did so far, for progress and for the headless recorder's figures.
struct TRecordFigures {
    int64_t videoWritten = 0;
    int64_t videoDropped = 0;
    int64_t audioWritten = 0;
    int64_t lastAudioTime = 0;
    int64_t lastVideoTime = 0;
};

// 25 ms of 44100 Hz 16-bit stereo (176400 bytes a second), in whole sample frames: 4410 bytes
// would split a frame across two buffers.
inline constexpr int32_t AudioBufferCount = 1000 / 25;
inline constexpr int32_t AudioBufferBytes = (176400 * 25 / 1000) / 4 * 4;

class TFrameRecord : public QFrame {
public:
    explicit TFrameRecord(QWidget *parent = nullptr);
    ~TFrameRecord() override;
    TFrameRecord(const TFrameRecord &) = delete;
    TFrameRecord &operator=(const TFrameRecord &) = delete;

    // 0 when the file is open and recording, -1 after a failure (shown and logged).
    int StartRecording(const QString &path, bool withAudio);
    int StopRecording();
    // The preview's composed-frame hand-over, on the preview's streaming thread.
    void FrameSample(TSampleGrabberEx *sender, IMediaSample *sample, double sampleTime);
    HRESULT SetMixLevel(double level);
    double GetMixLevel();

    TRecordFigures Figures();
    bool Recording();

    QPushButton *btnStart = nullptr;
    QPushButton *btnStop = nullptr;
    QPushButton *btnPlayBack = nullptr;

    TFilterGraph FilterGraphRecord{"FilterGraphRecord"};
    TFilter H264EncodeFilter{"H264EncodeFilter"};
    TFilter NullRenderV{"NullRenderV"};
    TFilter AACEncodeFilter{"AACEncodeFilter"};
    TFilter NullRenderA{"NullRenderA"};

    AM_MEDIA_TYPE VideoMediaType;
    AM_MEDIA_TYPE EncodedVideoType;
    AM_MEDIA_TYPE EncodedAudioType;
    ::Mp4Params Mp4Params{};
    double MixLevel = 1.0;

private:
    void BuildGraph();
    void VideoSampleHandler(IMediaSample *sample);
    void AudioSampleHandler(IMediaSample *sample);
    void ReleaseGraph();
    ComPtr<IBaseFilter> NewAudioDevice();
    HRESULT ApplyMixLevel();

    bool WithAudio = false;
    std::atomic<bool> Delivering{false};
    // Composed frames go to the encoder only once its first picture can be written: the file
    // is open and, with audio, the first audio sample is in. The encoder's first picture is a
    // key frame, so the file starts decodable and in step with the sound.
    std::atomic<bool> m_videoOpen{false};

    std::mutex m_sourceLock;
    ComPtr<TDeliverSource> VideoSource;
    ComPtr<IBaseFilter> AudioSource;
    std::unique_ptr<TSampleGrabberEx> VideoGrabber;
    std::unique_ptr<TSampleGrabberEx> AudioGrabber;

    // Held around every test of the handle and every write, and around MP4_Stop: no sample is
    // written into a closed file.
    std::mutex m_fileLock;
    uint32_t Mp4Handle = 0;
    // When the file opened, in time since the graph started, and how far the capture stamps
    // run ahead of that clock (a server may hand over sound it held back at the start in one
    // go). Sound captured before the file opened is not part of the recording, so both
    // tracks start at the same moment.
    int64_t m_openCaptureTime = 0;
    int64_t m_captureLead = 0;
    bool m_captureLeadKnown = false;
    std::chrono::steady_clock::time_point m_graphStarted;
    TRecordTimeline m_timeline;
    TRecordFigures m_figures;
    // Sound is written only up to the pictures' time: a server that hands over sound in
    // bursts would otherwise leave the sound track running past the last picture.
    struct TPendingAudio {
        int64_t time;
        std::vector<uint8_t> bytes;
    };
    std::deque<TPendingAudio> m_pendingAudio;
    void WritePendingAudio(int64_t upTo);
    void WaitForSoundToReachThePictures();
};
