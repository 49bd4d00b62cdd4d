#pragma once

#include "compat/dshow/Interfaces.h"
#include "compat/dshow/Locks.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class CMemAllocator;

// The body of most DecideBufferSize overrides: raises the request to at least `buffers` buffers
// of at least `bytes` bytes (alignment at least 1), sets it, and fails with E_FAIL when the
// allocator grants less.
HRESULT RequestAtLeast(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request, int32_t buffers, int32_t bytes);

// One buffer of an allocator. Releasing the last reference hands it back to its allocator
// (it is never deleted by its users).
class CMediaSample final : public IMediaSample {
public:
    CMediaSample(CMemAllocator *allocator, BYTE *buffer, LONG size);

    HRESULT QueryInterface(REFIID iid, void **object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetPointer(BYTE **buffer) override;
    LONG GetSize() override { return size; }
    HRESULT GetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) override;
    HRESULT SetTime(const REFERENCE_TIME *start, const REFERENCE_TIME *stop) override;
    HRESULT IsSyncPoint() override { return syncPoint ? S_OK : S_FALSE; }
    HRESULT SetSyncPoint(BOOL sync) override;
    HRESULT IsPreroll() override { return preroll ? S_OK : S_FALSE; }
    HRESULT SetPreroll(BOOL value) override;
    LONG GetActualDataLength() override { return actualLength; }
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE **type) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT IsDiscontinuity() override { return discontinuity ? S_OK : S_FALSE; }
    HRESULT SetDiscontinuity(BOOL value) override;
    HRESULT GetMediaTime(int64_t *start, int64_t *stop) override;
    HRESULT SetMediaTime(const int64_t *start, const int64_t *stop) override;

private:
    friend class CMemAllocator;
    ~CMediaSample() override = default;
    void ResetForUse();

    CMemAllocator *allocator;
    BYTE *buffer;
    LONG size;
    std::atomic<ULONG> refCount{0};
    LONG actualLength = 0;
    bool syncPoint = false, preroll = false, discontinuity = false;
    std::optional<std::pair<REFERENCE_TIME, REFERENCE_TIME>> times;
    std::optional<std::pair<int64_t, int64_t>> mediaTimes;
    std::unique_ptr<AM_MEDIA_TYPE> mediaType;
};

// A fixed number of equal buffers. GetBuffer blocks until a buffer is free; Decommit wakes
// every waiting GetBuffer with VFW_E_NOT_COMMITTED, so that stopping never deadlocks a
// delivering thread. The memory stays allocated from Commit until Decommit and the return
// of the last outstanding buffer, so steady streaming allocates nothing.
class CMemAllocator final : public CUnknown, public IMemAllocator {
public:
    CMemAllocator() = default;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT SetProperties(const ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES *props) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop, DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample *sample) override;

    // Largest buffer a single request may ask for (guards against absurd sizes from bad types).
    static constexpr int64_t kMaxTotalBytes = int64_t(1) << 30;

private:
    ~CMemAllocator() override;
    void FreeMemoryLocked();

    std::mutex lock;
    std::condition_variable bufferFreed;
    ALLOCATOR_PROPERTIES props;
    bool committed = false;
    std::vector<CMediaSample *> samples;  // all of them, owned
    std::vector<CMediaSample *> freeList;
    std::unique_ptr<BYTE[]> memory;
};
