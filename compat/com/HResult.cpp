#include "compat/com/HResult.h"

#include <cstdio>

namespace {
struct CodeText {
    HRESULT code;
    const char *text;
};

constexpr CodeText kResultTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation completed with a false result."},
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_ABORT, "Operation aborted."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation."},
    {CLASS_E_CLASSNOTAVAILABLE, "Class factory cannot supply the requested class."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CO_E_DLLNOTFOUND, "The library of the class could not be found."},
    {CO_E_ERRORINDLL, "The library of the class has an error in its image."},
    {MK_E_SYNTAX, "Invalid moniker syntax."},
    {MK_E_NOOBJECT, "The object named by the moniker could not be found."},
    {STG_E_WRITEFAULT, "A disk error occurred during a write operation."},
    {STG_E_READFAULT, "A disk error occurred during a read operation."},
    {VFW_S_NO_MORE_ITEMS, "The end of the list has been reached."},
    {VFW_S_DUPLICATE_NAME, "A filter with the same name is already in the graph; the name was made unique."},
    {VFW_S_STATE_INTERMEDIATE, "The state transition has not completed."},
    {VFW_E_INVALIDMEDIATYPE, "An invalid media type was specified."},
    {VFW_E_INVALIDSUBTYPE, "An invalid media subtype was specified."},
    {VFW_E_NEED_OWNER, "This object can only be created as an aggregated object."},
    {VFW_E_ENUM_OUT_OF_SYNC, "The state of the enumerated object has changed and is now inconsistent with the state of the enumerator."},
    {VFW_E_ALREADY_CONNECTED, "At least one of the pins involved in the operation is already connected."},
    {VFW_E_FILTER_ACTIVE, "This operation cannot be performed because the filter is active."},
    {VFW_E_NO_TYPES, "One of the specified pins supports no media types."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together."},
    {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not connected."},
    {VFW_E_NO_ALLOCATOR, "No sample buffer allocator is available."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
    {VFW_E_BUFFER_NOTSET, "No buffer space has been set."},
    {VFW_E_BUFFER_OVERFLOW, "The buffer is not big enough."},
    {VFW_E_BADALIGN, "An invalid alignment was specified."},
    {VFW_E_ALREADY_COMMITTED, "Cannot change allocated memory while the filter is active."},
    {VFW_E_BUFFERS_OUTSTANDING, "One or more buffers are still active."},
    {VFW_E_NOT_COMMITTED, "Cannot allocate a sample when the allocator is not active."},
    {VFW_E_SIZENOTSET, "Cannot allocate memory because no size has been set."},
    {VFW_E_NO_INTERFACE, "The required interface is not supported."},
    {VFW_E_NOT_FOUND, "An object or name was not found."},
    {VFW_E_CANNOT_CONNECT, "No combination of intermediate filters could be found to make the connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_CHANGING_FORMAT, "Could not change formats dynamically."},
    {VFW_E_STATE_CHANGED, "The state changed while waiting to process the sample."},
    {VFW_E_NOT_STOPPED, "The operation could not be performed because the filter is not stopped."},
    {VFW_E_NOT_PAUSED, "The operation could not be performed because the filter is not paused."},
    {VFW_E_NOT_RUNNING, "The operation could not be performed because the filter is not running."},
    {VFW_E_WRONG_STATE, "The operation could not be performed because the filter is in the wrong state."},
    {VFW_E_NO_TRANSPORT, "Pins cannot connect because they do not support the same transport."},
    {VFW_E_MEDIA_TIME_NOT_SET, "The media time of this sample has not been set."},
    {VFW_E_TYPE_NOT_ACCEPTED, "This media type is not accepted."},
    {VFW_E_SAMPLE_REJECTED, "The sample was rejected."},
    {VFW_E_TIMEOUT, "The operation timed out."},
    {VFW_E_DUPLICATE_NAME, "A filter with this name is already in the graph."},
    {VFW_E_SAMPLE_TIME_NOT_SET, "No time stamp has been set for this sample."},
    {VFW_E_NO_CAPTURE_HARDWARE, "No capture hardware is available."},
};

struct SystemText {
    uint32_t code;
    const char *text;
};

constexpr SystemText kSystemTexts[] = {
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough storage is available to process this command."},
    {14, "Not enough storage is available to complete this operation."},
    {21, "The device is not ready."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {170, "The requested resource is in use."},
    {1167, "The device is not connected."},
    {1460, "This operation returned because the timeout period expired."},
};
}  // namespace

std::string HResultText(HRESULT hr) {
    for (const CodeText &entry : kResultTexts)
        if (entry.code == hr) return entry.text;
    char text[64];
    std::snprintf(text, sizeof text, "Unknown error 0x%08X.", static_cast<uint32_t>(hr));
    return text;
}

std::string SystemErrorText(uint32_t code) {
    for (const SystemText &entry : kSystemTexts)
        if (entry.code == code) return entry.text;
    char text[48];
    std::snprintf(text, sizeof text, "System error %u.", code);
    return text;
}
