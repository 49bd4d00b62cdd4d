#include "SyntheticSources.h"

#include "capture/DSUtilEx.h"

#include "compat/dshow/Devices.h"
#include "compat/dshow/Uuids.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstring>

namespace {

struct TYuv {
    uint8_t y, u, v;
};

// Eight bars, white to black, in studio range.
constexpr TYuv Bars[8] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                          {106, 202, 222}, {81, 90, 240}, {41, 240, 110}, {16, 128, 128}};

void FillRgb32(std::vector<uint8_t> &picture, int width, int x0, int y0, int w, int h, uint32_t bgra, int height) {
    for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y) {
        // Bottom-up rows: picture row y is stored at height - 1 - y.
        uint32_t *row = reinterpret_cast<uint32_t *>(picture.data()) + size_t(height - 1 - y) * width;
        for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) row[x] = bgra;
    }
}

}  // namespace

TSyntheticSource::TSyntheticSource(const char *name, TSyntheticKind kind, int width, int height, int framesPerSecond,
                                   int seed)
    : m_kind(kind), m_width(width & ~1), m_height(height), m_fps(framesPerSecond), m_seed(seed),
      m_graph(std::string(name) + "Graph"), m_grabber(std::string(name) + "Grabber"),
      m_nullRenderer(std::string(name) + "NullRenderer") {
    const REFERENCE_TIME duration = UNITS / m_fps;
    if (kind == TSyntheticKind::Camera) {
        m_type = MakeVideoType(MEDIASUBTYPE_YUY2, m_width, m_height, 16, duration, MakeFourCC('Y', 'U', 'Y', '2'));
        m_base.resize(size_t(m_width) * m_height * 2);
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; x += 2) {
                const TYuv bar = Bars[(x * 8 / m_width + seed) % 8];
                uint8_t *p = &m_base[(size_t(y) * m_width + x) * 2];
                p[0] = p[2] = bar.y;
                p[1] = bar.u;
                p[3] = bar.v;
            }
    } else {
        m_type = MakeVideoType(MEDIASUBTYPE_RGB32, m_width, m_height, 32, duration);
        m_base.assign(size_t(m_width) * m_height * 4, 0xFF);
        if (kind == TSyntheticKind::Slide) {
            FillRgb32(m_base, m_width, 0, 0, m_width, m_height / 6, 0xFF8A3C1E, m_height);  // title band
            for (int line = 0; line < 6; ++line)
                FillRgb32(m_base, m_width, m_width / 10, m_height / 4 + line * m_height / 10, m_width * (6 - line % 3) / 10,
                          std::max(2, m_height / 40), 0xFF303030, m_height);
        }
    }
    m_picture = m_base;
    m_nullRenderer.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer));
    m_nullRenderer.SetFilterGraph(&m_graph);
}

TSyntheticSource::~TSyntheticSource() { Stop(); }

void TSyntheticSource::Paint(int frame) {
    if (m_kind == TSyntheticKind::Camera) {
        // Restore the columns the bar covered last time, then draw it one step further.
        const int barWidth = std::max(2, m_width / 16) & ~1;
        const int step = std::max(2, m_width / 80) & ~1;
        const int oldX = ((frame - 1) * step) % m_width & ~1;
        const int newX = (frame * step) % m_width & ~1;
        for (int y = 0; y < m_height; ++y) {
            const size_t row = size_t(y) * m_width * 2;
            const int oldLength = std::min(barWidth, m_width - oldX) * 2;
            std::memcpy(&m_picture[row + oldX * 2], &m_base[row + oldX * 2], oldLength);
            const int newLength = std::min(barWidth, m_width - newX) * 2;
            for (int i = 0; i < newLength; i += 2) {
                m_picture[row + newX * 2 + i] = 235;
                m_picture[row + newX * 2 + i + 1] = 128;
            }
        }
    } else if (m_kind == TSyntheticKind::Drawing) {
        // A stroke that writes itself across the board, line by line.
        const int thickness = std::max(2, m_height / 100);
        const int line = (frame * 4 / m_width) % 8;
        const int x = (frame * 4) % m_width;
        const int y = m_height / 10 + line * m_height / 10 + int(8 * std::sin(x / 20.0));
        if (frame * 4 % (m_width * 8) < 4) m_picture = m_base;
        FillRgb32(m_picture, m_width, x, y, 4, thickness, 0xFF1040C0, m_height);
    } else {
        // Slides change every five seconds: the title band takes another shade.
        if (frame % (5 * m_fps) == 0) {
            m_picture = m_base;
            const uint8_t shade = uint8_t(60 + (frame / (5 * m_fps) * 40) % 160);
            FillRgb32(m_picture, m_width, 0, 0, m_width, m_height / 6, 0xFF000000u | (shade << 8) | 0x1E, m_height);
        }
    }
}

void TSyntheticSource::Start(TSampleGrabberEx::TSampleEvent onSample) {
    m_graph.SetActive(true);
    m_grabber.SetFilterGraph(&m_graph);
    m_source = ComPtr<TDeliverSource>(new TDeliverSource("SyntheticSource"));
    CheckDSResult(m_graph.GraphBuilder()->AddFilter(m_source.Get(), "SyntheticSource"), "AddFilter SyntheticSource");
    CheckDSResult(m_source->SetPin(0, "out1", &m_type), "SyntheticSource.SetPin");
    CheckDSResult(ConnectFilters(m_source.Get(), &m_grabber), "SyntheticSource --> Grabber");
    CheckDSResult(ConnectFilters(&m_grabber, &m_nullRenderer), "Grabber --> NullRenderer");
    m_grabber.GetConnectedMediaType(&m_connected);
    m_grabber.SetOnSample(std::move(onSample));
    m_graph.Play();
    m_running = true;
    m_thread = std::thread([this] { Run(); });
}

void TSyntheticSource::Run() {
    const auto period = std::chrono::nanoseconds(1000000000LL / m_fps);
    auto next = std::chrono::steady_clock::now();
    for (int frame = 0; m_running; ++frame) {
        Paint(frame);
        if (m_source->DeliverBuffer(0, m_picture.data(), LONG(m_picture.size()), 1) == S_OK) ++m_sent;
        next += period;
        std::this_thread::sleep_until(next);
    }
}

void TSyntheticSource::Stop() {
    m_running = false;
    if (m_thread.joinable()) m_thread.join();
    m_grabber.SetOnSample(nullptr);
    m_graph.Stop();
    m_graph.SetActive(false);
    m_source = nullptr;
}
