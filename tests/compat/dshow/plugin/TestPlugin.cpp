// A filter library as a filter maker would write one: a pass-through video transform with a
// property page, served through the library entry points.

#include "compat/dshow/ClassFactory.h"
#include "compat/dshow/PropertyPage.h"
#include "compat/dshow/TransformFilter.h"

#include <cstring>

namespace {

constexpr CLSID CLSID_PluginFilter = MakeGuid("{7E57F11E-0001-4000-8000-00000000F11E}");
constexpr CLSID CLSID_PluginPage = MakeGuid("{7E57F11E-0002-4000-8000-00000000F11E}");

class PluginFilter final : public CTransformFilter, public ISpecifyPropertyPages {
public:
    PluginFilter() : CTransformFilter("Plugin Filter", CLSID_PluginFilter) {}
    static CUnknown *CreateInstance(IUnknown *, HRESULT *) { return new PluginFilter(); }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages *>(this), object);
        return CTransformFilter::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT GetPages(CAUUID *pages) override {
        if (!pages) return E_POINTER;
        pages->pElems = static_cast<GUID *>(CoTaskMemAlloc(sizeof(GUID)));
        if (!pages->pElems) return E_OUTOFMEMORY;
        pages->cElems = 1;
        pages->pElems[0] = CLSID_PluginPage;
        return S_OK;
    }
    HRESULT CheckInputType(const AM_MEDIA_TYPE *type) override {
        return type->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) override {
        return MediaTypesEqual(*input, *output) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override {
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        return CopyMediaType(type, &InputPin()->CurrentMediaType());
    }
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override {
        request->cBuffers = 1;
        request->cbBuffer = 4096;
        ALLOCATOR_PROPERTIES actual;
        return allocator->SetProperties(request, &actual);
    }
    HRESULT Transform(IMediaSample *input, IMediaSample *output) override {
        BYTE *in, *out;
        input->GetPointer(&in);
        output->GetPointer(&out);
        std::memcpy(out, in, size_t(std::min(input->GetActualDataLength(), output->GetSize())));
        return S_OK;
    }
};

class PluginPage final : public CBasePropertyPage {
public:
    PluginPage() : CBasePropertyPage("PluginPage", "Plugin") {}
    static CUnknown *CreateInstance(IUnknown *, HRESULT *) { return new PluginPage(); }
};

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, nullptr}};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", 0, 0, 0, 0, nullptr, nullptr, 1, kPinTypes},
    {"Output", 0, 1, 0, 0, nullptr, nullptr, 1, kPinTypes},
};
const AMOVIESETUP_FILTER kFilterSetup = {&CLSID_PluginFilter, "Plugin Filter", MERIT_NORMAL, 2, kPins};

const CFactoryTemplate g_Templates[] = {
    {"Plugin Filter", &CLSID_PluginFilter, &PluginFilter::CreateInstance, &kFilterSetup},
    {"Plugin Page", &CLSID_PluginPage, &PluginPage::CreateInstance, nullptr},
};

}  // namespace

SC_FILTER_LIBRARY_ENTRY_POINTS(g_Templates, 2)
