#include "capture/FramePreviews.h"

#include "capture/DSUtilEx.h"

#include "app/DataModule.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Devices.h"
#include "compat/dshow/Uuids.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>
#include <cstdlib>

TYuvColor RgbToYuv(uint32_t rgb) {
    const long double r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
    const long double y = 0.256788L * r + 0.504129L * g + 0.097906L * b + 16;
    const long double u = -0.148223L * r - 0.290993L * g + 0.439216L * b + 128;
    const long double v = 0.439216L * r - 0.367788L * g - 0.071427L * b + 128;
    return {uint8_t(std::trunc(y)), uint8_t(std::trunc(u)), uint8_t(std::trunc(v))};
}

TInsetPlacement InsetPlacement(int width, int height) {
    TInsetPlacement placement{};
    // lrint rounds ties to even in the default rounding mode: 800 / 320 = 2.5 gives 2.
    placement.margin = 4 * int(std::lrint(double(width) / 320.0));
    const int x0 = 2 * (width / 3);
    const int x = x0 + 4 - x0 % 4 - placement.margin;
    const int h0 = height / 3;
    placement.inset = {x, placement.margin, width - x - placement.margin, h0 + 4 - h0 % 4};
    const int borderWidth = (width == 800 || width == 1280) ? placement.inset.width : placement.inset.width - 2;
    placement.border = {x, placement.margin, borderWidth, placement.inset.height};
    return placement;
}

namespace {

std::string FilterMoniker(REFCLSID clsid) { return SoftwareMonikerName(CLSID_LegacyAmFilterCategory, clsid); }

TSwitcherRect WholePicture(const AM_MEDIA_TYPE &type) {
    const BITMAPINFOHEADER *header = type.BitmapHeader();
    if (!header) return {0, 0, 0, 0};
    return {0, 0, header->biWidth, std::abs(header->biHeight)};
}

void PostPreviewPaused() {
    if (QObject *window = MainWindowHandle.load())
        QCoreApplication::postEvent(window, new QEvent(Messages::PreviewPaused));
}

}  // namespace

TFramePreview::TFramePreview(QWidget *parent) : QFrame(parent) {
    RegisterOutsideFilters();

    PnlPreview = new QFrame(this);
    PnlPreview->setObjectName("PnlPreview");
    PnlPreview->setStyleSheet("QFrame#PnlPreview { background-color: rgb(54, 54, 54); }");
    RecordWindow1 = new TVideoWindow(PnlPreview, "RecordWindow1");
    RecordWindow1->SetKeepAspectRatio(false);
    Label17 = new QLabel(QStringLiteral("输出画面    "), PnlPreview);
    Label17->setStyleSheet("color: white; font-size: 13px;");
    imgRecordHint = new QLabel(PnlPreview);
    imgRecordHint->setFixedSize(12, 12);
    imgRecordHint->setStyleSheet("background-color: rgb(220, 30, 30); border-radius: 6px;");
    imgRecordHint->hide();

    auto *caption = new QHBoxLayout;
    caption->addWidget(imgRecordHint);
    caption->addStretch();
    caption->addWidget(Label17);
    auto *panelLayout = new QVBoxLayout(PnlPreview);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(RecordWindow1, 1);
    panelLayout->addLayout(caption);
    auto *frameLayout = new QVBoxLayout(this);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(PnlPreview);

    Filter3in1out.SetMonikerName(FilterMoniker(CLSID_YUY2Switcher));
    for (TFilter *raw : {&FRawYUY2Filter1, &FRawYUY2Filter2, &FRawYUY2FilterPPT, &FRawYUY2FilterPen, &FRawShowFilter}) {
        raw->SetMonikerName(FilterMoniker(CLSID_RawVideoFilter));
        raw->SetFilterGraph(&FilterGraphPreview);
    }
    Filter3in1out.SetFilterGraph(&FilterGraphPreview);
    RecordWindow1->SetFilterGraph(&FilterGraphPreview);

    FilterMainPush.SetMonikerName(FilterMoniker(CLSID_MainPushSource));
    FilterNullRender.SetMonikerName(FilterMoniker(CLSID_NullRenderer));
    FilterMainPush.SetFilterGraph(&FilterGraphMainPush);
    FilterNullRender.SetFilterGraph(&FilterGraphMainPush);
}

TFramePreview::~TFramePreview() {
    StopPreview();
    CloseMainPush();
    if (FPreviewGrabber) FPreviewGrabber->SetOnSample(nullptr);
}

void TFramePreview::SetFrameSize(int width, int height) {
    m_switcherParam.header0 = 16;
    m_switcherParam.width = width;
    m_switcherParam.height = height;
    m_switcherParam.header12 = 25;
}

void TFramePreview::OpenMainPush() {
    if (FilterGraphMainPush.Active() && FilterGraphMainPush.State() == State_Running) return;

    if (!FMainPushGrabber) FMainPushGrabber = std::make_unique<TSampleGrabberEx>("FMainPushGrabber");
    FilterGraphMainPush.SetActive(true);
    FMainPushGrabber->SetFilterGraph(&FilterGraphMainPush);

    CheckDSResult(FilterMainPush.QueryInterface(&m_mainPushSettings), "SetPush...");
    m_mainPushSettings->SetPush(MainPushFramesPerSecond);

    ICaptureGraphBuilder2 *builder = FilterGraphMainPush.CaptureGraphBuilder();
    const ComPtr<IBaseFilter> grabberFilter = FMainPushGrabber->GetFilter();
    builder->RenderStream(nullptr, nullptr, FilterMainPush.GetFilter().Get(), nullptr, grabberFilter.Get());
    builder->RenderStream(nullptr, nullptr, grabberFilter.Get(), nullptr, FilterNullRender.GetFilter().Get());

    // Not a failure of the build: the picture stays black, which the log then explains.
    if (!FilterGraphMainPush.Play()) Notice(QStringLiteral("FilterGraphMainPush: the graph did not run"));
    MainPushMediaType = AM_MEDIA_TYPE();
    FMainPushGrabber->GetConnectedMediaType(&MainPushMediaType);
    FMainPushGrabber->SetOnSample(
        [this](TSampleGrabberEx *sender, IMediaSample *sample, double time) { MainPushSample(sender, sample, time); });
}

void TFramePreview::CloseMainPush() {
    // The grabber's handler delivers into the preview: it is gone before the frame is.
    if (FMainPushGrabber) FMainPushGrabber->SetOnSample(nullptr);
    FilterGraphMainPush.Stop();
    FilterGraphMainPush.SetActive(false);
    m_mainPushSettings = nullptr;
}

ComPtr<TDeliverSource> TFramePreview::AddPushSource(TPushInput &input, const char *filterName,
                                                    const char *graphName, const QString &addLabel) {
    ComPtr<TDeliverSource> source(new TDeliverSource(filterName));
    const HRESULT added = FilterGraphPreview.GraphBuilder()
                              ? FilterGraphPreview.GraphBuilder()->AddFilter(source.Get(), graphName)
                              : E_POINTER;
    if (!addLabel.isEmpty()) CheckDSResult(added, addLabel);
    if (SUCCEEDED(added)) {
        std::lock_guard lock(input.lock);
        input.source = source;
        input.stallReported = false;
    }
    return source;
}

void TFramePreview::BuildCameraBranch(TPushInput &input, int number, const AM_MEDIA_TYPE &type, TFilter &rawFilter,
                                      ComPtr<IBaseFilter> &decompressor) {
    const QString cam = QStringLiteral("FCamSource%1").arg(number);
    const QByteArray filterName = cam.toUtf8();
    const QByteArray graphName = QStringLiteral("CamSource%1").arg(number).toUtf8();
    // Adding camera branches is not checked: a failure shows at the connection that needs it.
    ComPtr<TDeliverSource> source = AddPushSource(input, filterName.constData(), graphName.constData(), QString());
    const HRESULT pinSet = source->SetPin(0, "out1", &type);
    if (number == 1) CheckDSResult(pinSet, "FCamSource1.SetPin");
    CheckDSResult(ConfigffdshowRaw(rawFilter.GetFilter().Get(), kRawOutputYuy2),
                  QStringLiteral("ConfigffdshowRaw FRawRGB32Filter%1").arg(number));

    IGraphBuilder *graph = FilterGraphPreview.GraphBuilder();
    if (SubtypeName(type.subtype) == "MJPG") {
        const QString mjpg = QStringLiteral("FCam%1MJPG").arg(number);
        CheckDSResult(CoCreate(CLSID_MjpegDec, &decompressor), QStringLiteral("create  ") + mjpg);
        graph->AddFilter(decompressor.Get(), mjpg.toUtf8().constData());
        CheckDSResult(ConnectPins(graph, source.Get(), decompressor.Get(), 0, 0), cam + " --> " + mjpg);
        CheckDSResult(ConnectFilters(decompressor.Get(), &rawFilter, 0, 0),
                      number == 1 ? mjpg + " --> FRawYUY2Filter1" : mjpg + " --> FRawRGB32Filter2");
    } else {
        CheckDSResult(ConnectFilters(source.Get(), &rawFilter, 0, 0),
                      number == 1 ? cam + " --> FRawYUY2Filter1" : cam + " --> FRawRGB32Filter2");
    }
    CheckDSResult(ConnectFilters(&rawFilter, &Filter3in1out, 0, number),
                  number == 1 ? QStringLiteral(" 1 --> 3to1") : QStringLiteral(" 2 --> 3to1"));
}

bool TFramePreview::BuildPreview(bool camera1Running, bool camera2Running, int layoutMode) {
    for (TSwitcherLayer &layer : m_switcherParam.layers) layer.enabled = 0;
    FilterGraphPreview.SetActive(true);

    CheckDSResult(Filter3in1out.QueryInterface(&FYUY2SwitchSetting),
                  "Filter3in1out.QueryInterface(IYUY2SwitcherParam, FYUY2SwitchSetting)");
    CheckDSResult(FYUY2SwitchSetting->SetParam(&m_switcherParam), "FYUY2SwitchSetting.SetParam");

    ComPtr<TDeliverSource> mainSource = AddPushSource(FMainSource, "FMainSource", "FMainSource", "AddFilter FMainSource");
    CheckDSResult(mainSource->SetPin(0, "out1", &MainPushMediaType), "FMainSource.SetPin");
    CheckDSResult(ConnectFilters(mainSource.Get(), &Filter3in1out, 0, 0), " 0 --> 3to1");

    ComPtr<TDeliverSource> presentation =
        AddPushSource(FCamSourcePPT, "FCamSourcePPT", "CamSourcePPT", "AddFilter FCamSourcePPT");
    CheckDSResult(presentation->SetPin(0, "out1", &PresentationMediaType), "FCamSourcePPT.SetPin");
    CheckDSResult(ConfigffdshowRaw(FRawYUY2FilterPPT.GetFilter().Get(), kRawOutputYuy2),
                  "ConfigffdshowRaw FRawRGB32Filterppt");
    CheckDSResult(ConnectFilters(presentation.Get(), &FRawYUY2FilterPPT, 0, 0), "FCamSourcePPT --> FRawYUY2FilterPPT");
    CheckDSResult(ConnectFilters(&FRawYUY2FilterPPT, &Filter3in1out, 0, 3), " 3 --> 3to1");

    if (PenBoardEnabled) {
        ComPtr<TDeliverSource> pen =
            AddPushSource(FCamSourcePen, "FCamSourcePen", "CamSourcePen", "AddFilter FCamSourcePen");
        CheckDSResult(pen->SetPin(0, "out1", &PenMediaType), "FCamSourcePen.SetPin");
        CheckDSResult(ConfigffdshowRaw(FRawYUY2FilterPen.GetFilter().Get(), kRawOutputYuy2),
                      "ConfigffdshowRaw FRawRGB32FilterPen");
        CheckDSResult(ConnectFilters(pen.Get(), &FRawYUY2FilterPen, 0, 0), "FCamSourcePen --> FRawYUY2FilterPen");
        CheckDSResult(ConnectFilters(&FRawYUY2FilterPen, &Filter3in1out, 0, 4), " 4 --> n to 1");
    }
    if (camera1Running) BuildCameraBranch(FCamSource1, 1, Camera1MediaType, FRawYUY2Filter1, FCam1MJPG);
    if (camera2Running) BuildCameraBranch(FCamSource2, 2, Camera2MediaType, FRawYUY2Filter2, FCam2MJPG);

    if (!FPreviewGrabber) FPreviewGrabber = std::make_unique<TSampleGrabberEx>("FPreviewGrabber");
    FPreviewGrabber->SetFilterGraph(&FilterGraphPreview);
    CheckDSResult(ConnectFilters(&Filter3in1out, FPreviewGrabber.get(), 0, 0), "Filter3in1out --> FPreviewGrabber");
    CheckDSResult(ConfigffdshowRaw(FRawShowFilter.GetFilter().Get(), kRawOutputYuy2), "ConfigffdshowRaw FRawShowFilter");
    CheckDSResult(ConnectFilters(FPreviewGrabber.get(), &FRawShowFilter, 0, 0), "FPreviewGrabber --> FRawShowFilter");
    CheckDSResult(ConnectFilters(&FRawShowFilter, RecordWindow1, 0, 0), "FRawShowFilter --> recordwindow1");

    const bool running = FilterGraphPreview.Play();
    if (!running) Notice(QStringLiteral("FilterGraphPreview: the graph did not run"));
    m_previewRunning = true;
    SetLayoutMode(layoutMode);
    return running;
}

const AM_MEDIA_TYPE &TFramePreview::InputMediaType(int input) const {
    switch (input) {
    case 1: return Camera1MediaType;
    case 2: return Camera2MediaType;
    case 3: return PresentationMediaType;
    case 4: return PenMediaType;
    default: return MainPushMediaType;
    }
}

int TFramePreview::SetLayoutMode(int mode) {
    if (!FYUY2SwitchSetting) return 0;
    switch (mode) {
    case 1:
    case 2:
    case 3: FYUY2SwitchSetting->SetMode(mode); break;
    case 6: FYUY2SwitchSetting->SetMode(4); break;
    case 4:
    case 5: {
        const int W = m_switcherParam.width, H = m_switcherParam.height;
        const int fullInput = mode == 4 ? 3 : 2;
        TSwitcherLayer &full = m_switcherParam.layers[0];
        full.enabled = -1;
        full.input = fullInput;
        full.sourceRect = WholePicture(InputMediaType(fullInput));
        full.destRect = {0, 0, W, H};

        const TInsetPlacement placement = InsetPlacement(W, H);
        const TYuvColor grey = RgbToYuv(InsetBorderRgb);
        TSwitcherLayer &inset = m_switcherParam.layers[1];
        inset.enabled = -1;
        inset.input = 1;
        inset.sourceRect = WholePicture(Camera1MediaType);
        inset.destRect = placement.inset;
        inset.borderOn = 1;
        inset.borderRect = placement.border;
        inset.borderThickness = 2;
        inset.borderRgb = InsetBorderRgb;
        inset.borderYuv[0] = grey.y;
        inset.borderYuv[1] = grey.u;
        inset.borderYuv[2] = grey.v;
        FYUY2SwitchSetting->SetLayers(m_switcherParam.layers);
        break;
    }
    default: break;
    }
    return 0;
}

void TFramePreview::ReleasePushSources() {
    for (TPushInput *input : {&FMainSource, &FCamSource1, &FCamSource2, &FCamSourcePPT, &FCamSourcePen}) {
        std::lock_guard lock(input->lock);
        input->source = nullptr;
    }
}

void TFramePreview::StopPreview() {
    // Entry points lose their way in before the graph goes; one already delivering keeps its
    // own reference, and the stopping filter lets it return.
    m_previewRunning = false;
    ReleasePushSources();
    FilterGraphPreview.Stop();
    FilterGraphPreview.SetActive(false);
    FYUY2SwitchSetting = nullptr;
    FCam1MJPG = nullptr;
    FCam2MJPG = nullptr;
}

void TFramePreview::GetConnectedMediaType(AM_MEDIA_TYPE &type) {
    type = AM_MEDIA_TYPE();
    if (FPreviewGrabber) FPreviewGrabber->GetConnectedMediaType(&type);
}

void TFramePreview::SetOnSample(TSampleGrabberEx::TSampleEvent handler) {
    if (!FPreviewGrabber) FPreviewGrabber = std::make_unique<TSampleGrabberEx>("FPreviewGrabber");
    FPreviewGrabber->SetOnSample(std::move(handler));
}

void TFramePreview::Deliver(TPushInput &input, IMediaSample *sample, bool reportPause) {
    ComPtr<TDeliverSource> source;
    {
        std::lock_guard lock(input.lock);
        source = input.source;
    }
    if (!source || !FilterGraphPreview.Active()) return;
    FILTER_STATE state = State_Stopped;
    if (FAILED(source->GetState(0, &state))) return;
    if (state == State_Paused) {
        // Once per stall: the main window recovers the preview, a flood would only queue up.
        if (reportPause && m_previewRunning && !input.stallReported.exchange(true)) PostPreviewPaused();
        return;
    }
    if (state != State_Running) return;
    input.stallReported = false;
    BYTE *buffer = nullptr;
    if (!sample || FAILED(sample->GetPointer(&buffer))) return;
    source->DeliverBuffer(0, buffer, sample->GetActualDataLength(), 0);
}

void TFramePreview::Cam1Sample(TSampleGrabberEx *, IMediaSample *sample, double) { Deliver(FCamSource1, sample, true); }
void TFramePreview::Cam2Sample(TSampleGrabberEx *, IMediaSample *sample, double) { Deliver(FCamSource2, sample, true); }
void TFramePreview::PresentationSample(TSampleGrabberEx *, IMediaSample *sample, double) {
    Deliver(FCamSourcePPT, sample, true);
}
void TFramePreview::PenSample(TSampleGrabberEx *, IMediaSample *sample, double) { Deliver(FCamSourcePen, sample, true); }
void TFramePreview::MainPushSample(TSampleGrabberEx *, IMediaSample *sample, double) {
    Deliver(FMainSource, sample, false);
}
