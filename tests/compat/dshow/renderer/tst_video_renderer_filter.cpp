#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"
#include "compat/dshow/renderer/VideoRendererFilter.h"
#include "tests/support/TestFilters.h"

#include <QtTest>
#include <libyuv.h>
#include <thread>

using namespace sc;

class tst_VideoRendererFilter : public QObject {
    Q_OBJECT
private slots:
    void showsStreamedPicturesInsideItsOwner();
    void acceptsOnlyPicturesItCanShow();
};

void tst_VideoRendererFilter::showsStreamedPicturesInsideItsOwner() {
    QWidget owner;
    owner.resize(300, 200);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));

    ComPtr<IBaseFilter> renderer;
    QCOMPARE(CoCreate(CLSID_VideoRenderer, &renderer), S_OK);
    ComPtr<IVideoWindow> window = renderer.As<IVideoWindow>();
    QVERIFY(window);
    QCOMPARE(window->put_Owner(&owner), S_OK);
    QCOMPARE(window->SetWindowPosition(50, 50, 200, 100), S_OK);
    QCOMPARE(window->put_KeepAspectRatio(0), S_OK);

    // A 64x48 YUY2 stream of pure blue pictures.
    constexpr int width = 64, height = 48;
    std::vector<uint8_t> bgrx(width * height * 4), yuy2(width * height * 2);
    for (size_t i = 0; i < bgrx.size(); i += 4) {
        bgrx[i] = 255;
        bgrx[i + 3] = 255;
    }
    libyuv::ARGBToYUY2(bgrx.data(), width * 4, yuy2.data(), width * 2, width, height);
    auto source = test::Make<test::PushSource>(MakeVideoType(MEDIASUBTYPE_YUY2, width, height, 16));
    ComPtr<IGraphBuilder> graph;
    QCOMPARE(CoCreate(CLSID_FilterGraph, &graph), S_OK);
    graph->AddFilter(source.Get(), "source");
    graph->AddFilter(renderer.Get(), "renderer");
    QCOMPARE(graph->Connect(source->Output(), PinsOf(renderer.Get(), PINDIR_INPUT).front().Get()), S_OK);
    QCOMPARE(graph.As<IMediaControl>()->Run(), S_OK);

    HRESULT pushed = E_FAIL;
    std::thread streaming([&] { pushed = source->Push(yuy2.data(), yuy2.size()); });
    streaming.join();
    QCOMPARE(pushed, S_OK);

    auto *filter = static_cast<renderer::VideoRendererFilter *>(renderer.Get());
    QTRY_COMPARE(filter->Window()->framesDrawn(), uint64_t(1));
    const QImage shown = owner.grab().toImage();
    auto blue = [](QRgb pixel) { return qBlue(pixel) > 230 && qRed(pixel) < 25 && qGreen(pixel) < 25; };
    QVERIFY(blue(shown.pixel(60, 60)));
    QVERIFY(blue(shown.pixel(240, 140)));
    QVERIFY(!blue(shown.pixel(40, 40)));    // outside the window's place
    QVERIFY(!blue(shown.pixel(260, 160)));

    BOOL visible = 0;
    QCOMPARE(window->put_Visible(0), S_OK);
    QCOMPARE(window->get_Visible(&visible), S_OK);
    QCOMPARE(visible, 0);
    QVERIFY(!filter->Window()->isVisible());
    graph.As<IMediaControl>()->Stop();
}

void tst_VideoRendererFilter::acceptsOnlyPicturesItCanShow() {
    ComPtr<IBaseFilter> renderer;
    QCOMPARE(CoCreate(CLSID_VideoRenderer, &renderer), S_OK);
    ComPtr<IPin> input = PinsOf(renderer.Get(), PINDIR_INPUT).front();
    const AM_MEDIA_TYPE accepted[] = {MakeVideoType(MEDIASUBTYPE_YUY2, 640, 480, 16),
                                      MakeVideoType(MEDIASUBTYPE_RGB24, 641, 480, 24),
                                      MakeVideoType(MEDIASUBTYPE_RGB32, 640, -480, 32)};
    const AM_MEDIA_TYPE refused[] = {MakeVideoType(MEDIASUBTYPE_MJPG, 640, 480, 24),
                                     MakeVideoType(MEDIASUBTYPE_YUY2, 641, 480, 16),
                                     MakePcmAudioType(44100, 2, 16)};
    for (const AM_MEDIA_TYPE &type : accepted)
        QCOMPARE(input->QueryAccept(&type), S_OK);
    for (const AM_MEDIA_TYPE &type : refused)
        QVERIFY(input->QueryAccept(&type) != S_OK);
}

QTEST_MAIN(tst_VideoRendererFilter)
#include "tst_video_renderer_filter.moc"
