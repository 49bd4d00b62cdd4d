#pragma once

// On a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) the program writes a short report
// with a backtrace to the day's log, then the signal ends the process as it would have without
// the handler (exit status and core dump unchanged).
void InstallCrashReporter();

// The log file the report goes to; -1 while no log is open. Kept by the program-wide log.
void SetCrashReportDescriptor(int fd) noexcept;
