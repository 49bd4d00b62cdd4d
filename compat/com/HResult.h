#pragma once

#include <cstdint>
#include <string>

// Result codes keep the platform's numeric values: they appear in logs and error texts
// ("($80040216)") and callers compare them with documented numbers.
using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using BYTE = uint8_t;
using LONG = int32_t;

constexpr HRESULT MakeHResult(uint32_t value) { return static_cast<HRESULT>(value); }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x8004F001);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201);
inline constexpr HRESULT MK_E_SYNTAX = MakeHResult(0x800401E4);
inline constexpr HRESULT MK_E_NOOBJECT = MakeHResult(0x800401E5);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHResult(0x8003001D);
inline constexpr HRESULT STG_E_READFAULT = MakeHResult(0x8003001E);

inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = MakeHResult(0x00040103);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeHResult(0x0004022D);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeHResult(0x00040237);
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHResult(0x80040200);
inline constexpr HRESULT VFW_E_INVALIDSUBTYPE = MakeHResult(0x80040201);
inline constexpr HRESULT VFW_E_NEED_OWNER = MakeHResult(0x80040202);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeHResult(0x80040203);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHResult(0x80040204);
inline constexpr HRESULT VFW_E_FILTER_ACTIVE = MakeHResult(0x80040205);
inline constexpr HRESULT VFW_E_NO_TYPES = MakeHResult(0x80040206);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHResult(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHResult(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHResult(0x80040209);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeHResult(0x8004020A);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeHResult(0x8004020B);
inline constexpr HRESULT VFW_E_BUFFER_NOTSET = MakeHResult(0x8004020C);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHResult(0x8004020D);
inline constexpr HRESULT VFW_E_BADALIGN = MakeHResult(0x8004020E);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHResult(0x8004020F);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeHResult(0x80040210);
inline constexpr HRESULT VFW_E_NOT_COMMITTED = MakeHResult(0x80040211);
inline constexpr HRESULT VFW_E_SIZENOTSET = MakeHResult(0x80040212);
inline constexpr HRESULT VFW_E_NO_INTERFACE = MakeHResult(0x80040215);
inline constexpr HRESULT VFW_E_NOT_FOUND = MakeHResult(0x80040216);
inline constexpr HRESULT VFW_E_NO_TRANSPORT = MakeHResult(0x80040266);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHResult(0x80040217);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHResult(0x80040218);
inline constexpr HRESULT VFW_E_CHANGING_FORMAT = MakeHResult(0x80040219);
inline constexpr HRESULT VFW_E_STATE_CHANGED = MakeHResult(0x80040223);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MakeHResult(0x80040224);
inline constexpr HRESULT VFW_E_NOT_PAUSED = MakeHResult(0x80040225);
inline constexpr HRESULT VFW_E_NOT_RUNNING = MakeHResult(0x80040226);
inline constexpr HRESULT VFW_E_WRONG_STATE = MakeHResult(0x80040227);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHResult(0x8004022A);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED = MakeHResult(0x8004022B);
inline constexpr HRESULT VFW_E_TIMEOUT = MakeHResult(0x8004022E);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeHResult(0x8004023A);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHResult(0x80040249);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHResult(0x80040251);
inline constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = MakeHResult(0x8004027E);

// A readable text for a result code (the platform's error text); never empty.
std::string HResultText(HRESULT hr);
// A readable text for a system error code (2 … 15999): "The system cannot find the file
// specified." for 2, and so on; unknown codes get a generic text naming the number.
std::string SystemErrorText(uint32_t code);
