#include "app/CrashReport.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>

#include <execinfo.h>
#include <unistd.h>

namespace {

// Everything the handler reads is prepared beforehand: inside the handler only
// async-signal-safe calls are allowed (no allocation, no locale or time zone lookups).
std::atomic<int> reportFd{-1};
std::atomic<long> utcOffsetSeconds{0};

constexpr int FatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

const char *SignalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "?";
    }
}

class FixedText {
public:
    void Add(const char *text)
    {
        while (*text && length < sizeof(buffer))
            buffer[length++] = *text++;
    }
    void AddNumber(long value, int width)
    {
        char digits[24];
        int count = 0;
        const bool negative = value < 0;
        unsigned long rest = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[count++] = char('0' + rest % 10);
            rest /= 10;
        } while (rest != 0 && count < 20);
        while (count < width)
            digits[count++] = '0';
        if (negative)
            Add("-");
        while (count > 0 && length < sizeof(buffer))
            buffer[length++] = digits[--count];
    }
    const char *Data() const { return buffer; }
    size_t Size() const { return length; }

private:
    char buffer[256];
    size_t length = 0;
};

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long days, long &year, long &month, long &day)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

void AddTimestamp(FixedText &text)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long local = long(now.tv_sec) + utcOffsetSeconds.load();
    long days = local / 86400;
    long seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    long year, month, day;
    CivilFromDays(days, year, month, day);
    text.AddNumber(year, 4);
    text.Add("-");
    text.AddNumber(month, 2);
    text.Add("-");
    text.AddNumber(day, 2);
    text.Add(" ");
    text.AddNumber(seconds / 3600, 2);
    text.Add(":");
    text.AddNumber(seconds / 60 % 60, 2);
    text.Add(":");
    text.AddNumber(seconds % 60, 2);
    text.Add(".");
    text.AddNumber(now.tv_nsec / 1000000, 3);
}

void WriteText(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0)
            return;
        data += written;
        size -= size_t(written);
    }
}

void OnFatalSignal(int signal)
{
    // Exchange so that a fault inside the report does not report again.
    const int fd = reportFd.exchange(-1);
    if (fd >= 0) {
        FixedText line;
        AddTimestamp(line);
        line.Add(":[提示]程序异常终止：信号 ");
        line.AddNumber(signal, 1);
        line.Add(" (");
        line.Add(SignalName(signal));
        line.Add(")，调用栈：\r\n");
        WriteText(fd, line.Data(), line.Size());
        void *frames[64];
        const int count = backtrace(frames, 64);
        backtrace_symbols_fd(frames, count, fd);
    }
    // SA_RESETHAND restored the default action: raising again ends the process with the
    // signal's own status.
    ::raise(signal);
}

}  // namespace

void SetCrashReportDescriptor(int fd) noexcept
{
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local))
        utcOffsetSeconds.store(local.tm_gmtoff);
    reportFd.store(fd);
}

void InstallCrashReporter()
{
    // backtrace() loads its unwinder on first use, which allocates: do it now, not in the handler.
    void *warmUp[1];
    backtrace(warmUp, 1);

    // A separate stack, so that a stack overflow can still be reported.
    static char alternateStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof(alternateStack);
    sigaltstack(&stack, nullptr);

    struct sigaction action{};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_ONSTACK | SA_NODEFER;
    for (int signal : FatalSignals)
        sigaction(signal, &action, nullptr);
}
