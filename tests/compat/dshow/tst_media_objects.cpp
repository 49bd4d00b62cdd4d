// Media types, samples and allocators.

#include "compat/dshow/Allocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(MediaType, CopiesOwnTheirFormatBlock) {
    AM_MEDIA_TYPE original = MakeVideoType(MEDIASUBTYPE_YUY2, 640, 480, 16);
    AM_MEDIA_TYPE copy = original;
    ASSERT_NE(copy.pbFormat, original.pbFormat);
    copy.VideoInfo()->bmiHeader.biWidth = 320;
    EXPECT_EQ(original.VideoInfo()->bmiHeader.biWidth, 640);
    EXPECT_TRUE(MediaTypesEqual(AM_MEDIA_TYPE(original), original));

    AM_MEDIA_TYPE moved = std::move(copy);
    EXPECT_EQ(copy.pbFormat, nullptr);
    EXPECT_EQ(moved.VideoInfo()->bmiHeader.biWidth, 320);
    moved = moved;  // self-assignment keeps the block
    ASSERT_NE(moved.VideoInfo(), nullptr);
    FreeMediaType(moved);
    EXPECT_TRUE(moved.IsEmpty());
    EXPECT_EQ(moved.cbFormat, 0u);
}

TEST(MediaType, FormatAccessorsRefuseMissingShortOrForeignBlocks) {
    struct Case {
        GUID formattype;
        ULONG size;
        bool video, video2, wave;
    } cases[] = {
        {FORMAT_VideoInfo, sizeof(VIDEOINFOHEADER), true, false, false},
        {FORMAT_VideoInfo, sizeof(VIDEOINFOHEADER) - 1, false, false, false},
        {FORMAT_VideoInfo, 0, false, false, false},
        {FORMAT_VideoInfo2, sizeof(VIDEOINFOHEADER2), false, true, false},
        {FORMAT_VideoInfo2, sizeof(VIDEOINFOHEADER), false, false, false},
        {FORMAT_WaveFormatEx, sizeof(WAVEFORMATEX), false, false, true},
        {FORMAT_WaveFormatEx, 16, false, false, false},
        {FORMAT_None, sizeof(VIDEOINFOHEADER2), false, false, false},
    };
    for (const Case &c : cases) {
        AM_MEDIA_TYPE type;
        type.formattype = c.formattype;
        type.AllocFormatBuffer(c.size);
        EXPECT_EQ(type.VideoInfo() != nullptr, c.video) << GuidToString(c.formattype) << " " << c.size;
        EXPECT_EQ(type.VideoInfo2() != nullptr, c.video2) << GuidToString(c.formattype) << " " << c.size;
        EXPECT_EQ(type.WaveFormat() != nullptr, c.wave) << GuidToString(c.formattype) << " " << c.size;
        EXPECT_EQ(type.BitmapHeader() != nullptr, c.video || c.video2);
    }
}

TEST(MediaType, ImageSizeUsesTheMagnitudeOfTheHeight) {
    BITMAPINFOHEADER header;
    header.biWidth = 1280;
    header.biHeight = -720;  // top-down
    header.biBitCount = 16;
    EXPECT_EQ(BitmapImageSize(header), 1280u * 720 * 2);
    header.biWidth = 65536;
    header.biHeight = 65536;
    header.biBitCount = 32;
    EXPECT_EQ(BitmapImageSize(header), 0u);  // does not fit: no size rather than a wrapped one
}

TEST(MediaType, PartialPatternsMatchOnTheirSetFields) {
    const AM_MEDIA_TYPE yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 64, 48, 16);
    AM_MEDIA_TYPE pattern;
    EXPECT_TRUE(MatchesPartialType(yuy2, pattern));
    pattern.majortype = MEDIATYPE_Video;
    EXPECT_TRUE(MatchesPartialType(yuy2, pattern));
    pattern.subtype = MEDIASUBTYPE_RGB24;
    EXPECT_FALSE(MatchesPartialType(yuy2, pattern));
    pattern.subtype = GUID_NULL;
    pattern.majortype = MEDIATYPE_Audio;
    EXPECT_FALSE(MatchesPartialType(yuy2, pattern));
}

ComPtr<IMemAllocator> MakeAllocator(int buffers, int size) {
    ComPtr<IMemAllocator> allocator;
    EXPECT_EQ(CreateComObject<CMemAllocator>(IID_IMemAllocator, allocator.PutVoid()), S_OK);
    ALLOCATOR_PROPERTIES request{buffers, size, 16, 0}, actual;
    EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    return allocator;
}

TEST(Allocator, HandsOutItsFixedNumberOfBuffers) {
    auto allocator = MakeAllocator(2, 100);
    ComPtr<IMediaSample> a, b, c;
    EXPECT_EQ(allocator->GetBuffer(a.Put(), nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(a.Put(), nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->GetBuffer(b.Put(), nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(allocator->GetBuffer(c.Put(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    BYTE *pa = nullptr, *pb = nullptr;
    a->GetPointer(&pa);
    b->GetPointer(&pb);
    EXPECT_NE(pa, pb);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pa) % 16, 0u);
    EXPECT_EQ(a->GetSize(), 100);
    EXPECT_EQ(a->GetActualDataLength(), 100);
    EXPECT_EQ(a->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
    a->SetActualDataLength(10);
    a->SetSyncPoint(1);
    a = nullptr;  // back to the allocator
    ASSERT_EQ(allocator->GetBuffer(c.Put(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    // A buffer comes back clean: full length, no flags, no times.
    EXPECT_EQ(c->GetActualDataLength(), 100);
    EXPECT_EQ(c->IsSyncPoint(), S_FALSE);
    REFERENCE_TIME start, stop;
    EXPECT_EQ(c->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    ALLOCATOR_PROPERTIES request{4, 100, 1, 0}, actual;
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
}

TEST(Allocator, RefusesSizesItCannotServe) {
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(CreateComObject<CMemAllocator>(IID_IMemAllocator, allocator.PutVoid()), S_OK);
    EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
    ALLOCATOR_PROPERTIES actual;
    ALLOCATOR_PROPERTIES huge{64, 0x7FFFFFFF, 1, 0}, negative{1, -5, 1, 0}, oddAlign{1, 10, 3, 0};
    EXPECT_EQ(allocator->SetProperties(&huge, &actual), E_OUTOFMEMORY);
    EXPECT_EQ(allocator->SetProperties(&negative, &actual), E_INVALIDARG);
    EXPECT_EQ(allocator->SetProperties(&oddAlign, &actual), VFW_E_BADALIGN);
    EXPECT_EQ(allocator->SetProperties(nullptr, &actual), E_POINTER);
}

TEST(Allocator, BlockedGetBufferWakesWhenABufferReturns) {
    auto allocator = MakeAllocator(1, 64);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> held;
    ASSERT_EQ(allocator->GetBuffer(held.Put(), nullptr, nullptr, 0), S_OK);
    std::atomic<HRESULT> result{E_FAIL};
    std::thread waiter([&] {
        ComPtr<IMediaSample> sample;
        result = allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0);
    });
    held = nullptr;
    waiter.join();
    EXPECT_EQ(result.load(), S_OK);
}

TEST(Allocator, DecommitWakesEveryWaiterWithAnError) {
    auto allocator = MakeAllocator(1, 64);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> held;
    ASSERT_EQ(allocator->GetBuffer(held.Put(), nullptr, nullptr, 0), S_OK);
    constexpr int kWaiters = 4;
    std::atomic<int> started{0}, refused{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            started++;
            ComPtr<IMediaSample> sample;
            if (allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0) == VFW_E_NOT_COMMITTED) refused++;
        });
    while (started < kWaiters) std::this_thread::yield();
    // Waiters that have not reached the wait yet find it decommitted and fail at once too.
    allocator->Decommit();
    for (auto &w : waiters) w.join();
    EXPECT_EQ(refused.load(), kWaiters);
    // The outstanding buffer stays valid and goes back after the decommit.
    BYTE *data = nullptr;
    held->GetPointer(&data);
    data[0] = 1;
    held = nullptr;
    ComPtr<IMediaSample> again;
    EXPECT_EQ(allocator->GetBuffer(again.Put(), nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->GetBuffer(again.Put(), nullptr, nullptr, 0), S_OK);
}

TEST(Allocator, OutstandingSampleKeepsItsAllocatorAlive) {
    ComPtr<IMediaSample> sample;
    {
        auto allocator = MakeAllocator(1, 32);
        ASSERT_EQ(allocator->Commit(), S_OK);
        ASSERT_EQ(allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0), S_OK);
        allocator->Decommit();
    }
    BYTE *data = nullptr;
    sample->GetPointer(&data);
    data[31] = 7;  // still ours
    sample = nullptr;  // the allocator goes with its last buffer
}

}  // namespace
