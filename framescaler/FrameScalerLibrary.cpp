// The library's classes, their registration data and its entry points.
#include "filter/ScaleFilter.h"
#include "filter/ScalePropertyPage.h"

#include "compat/dshow/ClassFactory.h"

namespace {

using framescaler::TScaleFilter;
using framescaler::TScalePropertyPage;

const AMOVIESETUP_MEDIATYPE kAnyVideo[] = {{&MEDIATYPE_Video, &GUID_NULL}};

const AMOVIESETUP_PIN kPins[] = {
    {"Input", 0, 0, 0, 0, &GUID_NULL, nullptr, 1, kAnyVideo},
    {"Output", 0, 1, 0, 0, &GUID_NULL, nullptr, 1, kAnyVideo},
};

// Pins: not rendered, not optional, not many, no required filter or pin.
// Merit 2097152 (0x200000): intelligent connection leaves the filter out; graphs add it by class.
constexpr DWORD kFilterMerit = 2097152;
const AMOVIESETUP_FILTER kFilterSetup = {&CLSID_ScaleFilter, kScaleFilterName, kFilterMerit, 2, kPins};

const CFactoryTemplate kTemplates[] = {
    {kScaleFilterName, &CLSID_ScaleFilter, &TScaleFilter::CreateInstance, &kFilterSetup},
    {kScaleFilterName, &CLSID_ScalePropertyPage, &TScalePropertyPage::CreateInstance, nullptr},
};

} // namespace

SC_FILTER_LIBRARY_ENTRY_POINTS(kTemplates, 2)
