#pragma once

// Helpers every graph of the program uses: the result check that turns a failed call into an
// error carrying the step's label, pin-by-index connections, the camera capture format and
// the short name of a media subtype.

#include "app/Errors.h"
#include "compat/dshow/Components.h"
#include "compat/dshow/Interfaces.h"

#include <string>

// A failed media-layer call: the text names the program, the result and the step.
class EDirectShowError : public TAppError {
public:
    EDirectShowError(const QString &message, HRESULT code) : TAppError(message), errorCode(code) {}
    HRESULT ErrorCode() const { return errorCode; }

private:
    HRESULT errorCode;
};

// A system error code (2 … 15999) returned where a result was expected.
class EOSError : public TAppError {
public:
    EOSError(const QString &message, uint32_t code) : TAppError(message), errorCode(code) {}
    uint32_t ErrorCode() const { return errorCode; }

private:
    uint32_t errorCode;
};

// Returns for S_OK, S_FALSE and any value from 16000 up. Raises EDirectShowError for a
// failure: program path + "\r\r" + error text + " ($<HEX>). \r\r" + label; raises EOSError
// for 2 … 15999: label + "[" + code in hexadecimal right-aligned in 8 places + "]: " + text.
void CheckDSResult(HRESULT result, const QString &label);

// The texts CheckDSResult raises, for callers that report without raising.
QString DSResultMessage(HRESULT result, const QString &label);
QString OSResultMessage(uint32_t code, const QString &label);

// The running program's file (at most 260 characters).
QString ProgramFilePath();

// Pin number `index` among the filter's pins of `direction`: S_OK; E_POINTER without a
// filter or out pointer; E_FAIL when there are fewer.
HRESULT FindPin(IBaseFilter *filter, PIN_DIRECTION direction, int index, IPin **pin);

// Intelligent connection of output pin `outputIndex` of `from` to input pin `inputIndex` of
// `to`; VFW_E_NOT_FOUND (the builder untouched) when either pin does not exist.
HRESULT ConnectPins(IGraphBuilder *graph, IBaseFilter *from, IBaseFilter *to, int outputIndex, int inputIndex);

// The same through the graph of the components; E_POINTER unless that graph is active.
HRESULT ConnectFilters(IFilterComponent *from, IFilterComponent *to, int outputIndex = 0, int inputIndex = 0);
HRESULT ConnectFilters(IBaseFilter *from, IFilterComponent *to, int outputIndex = 0, int inputIndex = 0);
HRESULT ConnectFilters(IFilterComponent *from, IBaseFilter *to, int outputIndex = 0, int inputIndex = 0);

// Chooses format number `formatIndex` of the capture filter's first pin (format 0 when the
// index is negative or not below the number of formats), at 15 frames per second, through
// the pin's IAMStreamConfig. Returns that call's result.
HRESULT SetCaptureFormat(IBaseFilter *captureFilter, int formatIndex);
HRESULT SetCaptureFormat(IFilterComponent *captureFilter, int formatIndex);

// "MJPG", "YUY2", "RGB24": the subtype's constant name without its prefix, at most five
// characters, upper case; empty for an unknown subtype.
std::string SubtypeName(REFGUID subtype);

inline constexpr REFERENCE_TIME CaptureFrameDuration = 666666;  // 15 frames per second
