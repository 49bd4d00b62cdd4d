#pragma once

// The preview frame: the graph that composes every picture source of a lesson into the one
// picture that is shown and recorded, and the small main push graph that feeds switcher
// input 0. Frames of the source graphs enter through the five entry points, on the sources'
// streaming threads; building, stopping and layout changes run on the main thread.

#include "capture/DeliverSources.h"
#include "capture/SampleGrabberExs.h"

#include "compat/dshow/Components.h"
#include "compat/filters/FilterInterfaces.h"

#include <QFrame>

#include <atomic>
#include <memory>
#include <mutex>

class QLabel;

// Colour with red in the low byte → Y, U, V bytes.
struct TYuvColor {
    uint8_t y, u, v;
};
TYuvColor RgbToYuv(uint32_t rgb);

// Where the camera inset of modes 4 and 5 goes in an output of width × height.
struct TInsetPlacement {
    int margin;
    TSwitcherRect inset;
    TSwitcherRect border;
};
TInsetPlacement InsetPlacement(int width, int height);

inline constexpr uint32_t InsetBorderRgb = 8421504;  // grey 128, 128, 128
inline constexpr int MainPushFramesPerSecond = 20;

class TFramePreview : public QFrame {
public:
    explicit TFramePreview(QWidget *parent = nullptr);
    // Releases the preview graph and stops the main push graph.
    ~TFramePreview() override;
    TFramePreview(const TFramePreview &) = delete;
    TFramePreview &operator=(const TFramePreview &) = delete;

    void SetFrameSize(int width, int height);
    // Builds and runs the main push graph; a running one is left as it is.
    void OpenMainPush();
    // Stops and releases the main push graph (at the end of the program).
    void CloseMainPush();
    // Raises EDirectShowError with the label of the failing step; false when the built graph
    // does not run.
    bool BuildPreview(bool camera1Running, bool camera2Running, int layoutMode);
    int SetLayoutMode(int mode);
    void StopPreview();
    // The composed output type; E_FAIL results leave `type` empty.
    void GetConnectedMediaType(AM_MEDIA_TYPE &type);

    // The composed-frame hand-over (the event of FPreviewGrabber).
    void SetOnSample(TSampleGrabberEx::TSampleEvent handler);

    // Frame entry points, with the signature of a grabber's sample event.
    void Cam1Sample(TSampleGrabberEx *sender, IMediaSample *sample, double sampleTime);
    void Cam2Sample(TSampleGrabberEx *sender, IMediaSample *sample, double sampleTime);
    void PresentationSample(TSampleGrabberEx *sender, IMediaSample *sample, double sampleTime);
    void PenSample(TSampleGrabberEx *sender, IMediaSample *sample, double sampleTime);
    void MainPushSample(TSampleGrabberEx *sender, IMediaSample *sample, double sampleTime);

    const TSwitcherParam &SwitcherParam() const { return m_switcherParam; }

    QFrame *PnlPreview = nullptr;
    QLabel *Label17 = nullptr;
    QLabel *imgRecordHint = nullptr;
    TVideoWindow *RecordWindow1 = nullptr;

    TFilterGraph FilterGraphPreview{"FilterGraphPreview"};
    TFilter Filter3in1out{"Filter3in1out"};
    TFilter FRawYUY2Filter1{"FRawYUY2Filter1"};
    TFilter FRawYUY2Filter2{"FRawYUY2Filter2"};
    TFilter FRawYUY2FilterPPT{"FRawYUY2FilterPPT"};
    TFilter FRawYUY2FilterPen{"FRawYUY2FilterPen"};
    TFilter FRawShowFilter{"FRawShowFilter"};

    TFilterGraph FilterGraphMainPush{"FilterGraphMainPush"};
    TFilter FilterMainPush{"FilterMainPush"};
    TFilter FilterNullRender{"FilterNullRender"};

    bool PenBoardEnabled = true;
    AM_MEDIA_TYPE Camera1MediaType;
    AM_MEDIA_TYPE Camera2MediaType;
    AM_MEDIA_TYPE PresentationMediaType;
    AM_MEDIA_TYPE PenMediaType;
    AM_MEDIA_TYPE MainPushMediaType;

private:
    // One push source of the preview graph as the entry points see it: the reference is taken
    // under the lock, so a delivery never reaches a filter that StopPreview is releasing.
    struct TPushInput {
        std::mutex lock;
        ComPtr<TDeliverSource> source;
        std::atomic<bool> stallReported{false};
    };

    void Deliver(TPushInput &input, IMediaSample *sample, bool reportPause);
    ComPtr<TDeliverSource> AddPushSource(TPushInput &input, const char *filterName, const char *graphName,
                                         const QString &addLabel);
    void BuildCameraBranch(TPushInput &input, int number, const AM_MEDIA_TYPE &type, TFilter &rawFilter,
                           ComPtr<IBaseFilter> &decompressor);
    void ReleasePushSources();
    const AM_MEDIA_TYPE &InputMediaType(int input) const;

    // Set once the built graph runs: a graph passes through Paused on its way to Running, and
    // that is no stall to report.
    std::atomic<bool> m_previewRunning{false};
    TSwitcherParam m_switcherParam{};
    ComPtr<IYUY2SwitcherParam> FYUY2SwitchSetting;
    ComPtr<ISetPushSource> m_mainPushSettings;
    std::unique_ptr<TSampleGrabberEx> FPreviewGrabber;
    std::unique_ptr<TSampleGrabberEx> FMainPushGrabber;
    ComPtr<IBaseFilter> FCam1MJPG;
    ComPtr<IBaseFilter> FCam2MJPG;

    TPushInput FMainSource;
    TPushInput FCamSource1;
    TPushInput FCamSource2;
    TPushInput FCamSourcePPT;
    TPushInput FCamSourcePen;
};
