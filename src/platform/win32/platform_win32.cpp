// The Win32 side of the operating-system layer.
//
// The bridge above this file is single-threaded and blocking. Three things
// on Windows do not fit that directly, and all are kept in here:
//  - An anonymous pipe handle on standard input is always signalled, so it
//    cannot be waited on together with the port. A reader thread takes whole
//    lines off standard input and queues them; the main thread waits on an
//    event that the queue sets, and watches the port's input queue
//    (ClearCommError) between short waits.
//  - A port read waits the same way, by short looks at the input queue,
//    and takes the byte with ReadFile once it is there. A read that blocked
//    inside ReadFile could be neither woken by a stop request nor told that
//    the line had gone; under wine a hung-up line even spins a whole core
//    there until the time-out, which may be minutes.
//  - Console control events arrive on a thread of their own. Closing the
//    console (or logging off) sets the stop flag and holds the process open
//    for a few seconds so the main thread can write its last log entry.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // condition variables, GetTickCount64
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform.h"

namespace {

// ------------------------------------------------------------ stop flag

std::atomic<bool> stop_flag{false};

// How often a wait looks at the port's input queue. At 9600 baud about ten
// bytes arrive in this time, far less than the queue holds.
constexpr DWORD PORT_POLL_MS = 5;

// ---------------------------------------------------- standard input queue

// A line is kept up to this many bytes, enough for a UCI GUI's position of
// the longest game; the rest of a longer line is dropped here already.
constexpr std::size_t QUEUED_LINE_SIZE = 65536;
// Lines that may wait for the main thread; past this the reader stops taking
// input, and the pipe fills up behind it as it would with no reader at all.
constexpr int QUEUE_SLOTS = 32;

struct QueuedLine {
    char text[QUEUED_LINE_SIZE];
    std::size_t length;
};

CRITICAL_SECTION queue_lock;
CONDITION_VARIABLE queue_space;     // signalled when the main thread takes a line
HANDLE input_ready = nullptr;       // manual reset: set while a line or the end waits
QueuedLine queue[QUEUE_SLOTS];
int queue_first = 0;
int queue_count = 0;
bool input_ended = false;           // the reader saw the end of standard input
bool reader_started = false;        // touched by the main thread only

// The reader thread's line under construction.
QueuedLine building;

void push_line(const QueuedLine &line) {
    EnterCriticalSection(&queue_lock);
    while (queue_count == QUEUE_SLOTS)
        SleepConditionVariableCS(&queue_space, &queue_lock, INFINITE);
    queue[(queue_first + queue_count) % QUEUE_SLOTS] = line;
    ++queue_count;
    SetEvent(input_ready);
    LeaveCriticalSection(&queue_lock);
}

// Ends the line being built: the CR of a CR LF line end is not part of it.
void finish_line() {
    if (building.length > 0 && building.text[building.length - 1] == '\r')
        --building.length;
    push_line(building);
    building.length = 0;
}

DWORD WINAPI stdin_reader(LPVOID) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    building.length = 0;
    bool partial = false;  // bytes seen since the last line end (kept or not)
    static char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (in == nullptr || in == INVALID_HANDLE_VALUE ||
            !ReadFile(in, chunk, sizeof chunk, &got, nullptr) || got == 0)
            break;  // end of input, a broken pipe, or no standard input at all
        for (DWORD i = 0; i < got; ++i) {
            char c = chunk[i];
            if (c == '\n') {
                finish_line();
                partial = false;
                continue;
            }
            partial = true;
            if (building.length < QUEUED_LINE_SIZE)
                building.text[building.length++] = c;
        }
    }
    // A last line without its line end still counts as a line.
    if (partial)
        finish_line();
    EnterCriticalSection(&queue_lock);
    input_ended = true;
    SetEvent(input_ready);
    LeaveCriticalSection(&queue_lock);
    return 0;
}

void start_reader() {
    if (reader_started)
        return;
    reader_started = true;
    InitializeCriticalSection(&queue_lock);
    InitializeConditionVariable(&queue_space);
    input_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = input_ready ? CreateThread(nullptr, 0, stdin_reader, nullptr, 0, nullptr)
                                : nullptr;
    if (thread) {
        CloseHandle(thread);
    } else {
        // No reader: standard input behaves as if it had ended, and nothing
        // waits on the event.
        input_ended = true;
        if (input_ready)
            SetEvent(input_ready);
    }
}

// True when a line or the end of input can be taken without waiting.
bool input_waiting() {
    EnterCriticalSection(&queue_lock);
    bool ready = queue_count > 0 || input_ended;
    LeaveCriticalSection(&queue_lock);
    return ready;
}

// --------------------------------------------------------------- console

// The main thread, so that a stop can end a port write it is blocked in.
HANDLE main_thread = nullptr;

// Sets the stop flag and wakes the main thread if it waits for a line; its
// other waits look at the flag between their looks at the port. A write to
// a port whose other end has stopped reading never returns by itself: it
// is cancelled, and later writes are skipped.
void request_stop() {
    stop_flag = true;
    if (input_ready)
        SetEvent(input_ready);
    if (main_thread)
        CancelSynchronousIo(main_thread);
}

BOOL WINAPI console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        // Ignored, as an interrupt is on other systems: a GUI may send it to
        // its whole process group.
        return TRUE;
    case CTRL_BREAK_EVENT:
        request_stop();
        return TRUE;
    default:
        // Close, log-off, shut-down: the process is ended once this handler
        // returns, so give the main thread time to wind down; its exit ends
        // this thread too.
        request_stop();
        Sleep(4000);
        return TRUE;
    }
}

// ------------------------------------------------------------------ port

HANDLE port = INVALID_HANDLE_VALUE;
HANDLE port_claim = nullptr;
int port_timeout_ms = 0;  // the read time-out last set
// How long after a stop the device's answers are still waited for, and
// when that ends (0: no stop yet).
constexpr ULONGLONG STOP_GRACE_MS = 500;
ULONGLONG stop_reads_end = 0;

// When the grace after a stop ends: what the device and the GUI had already
// sent is still taken until then, and nothing after.
ULONGLONG stop_grace_end() {
    if (stop_reads_end == 0)
        stop_reads_end = GetTickCount64() + STOP_GRACE_MS;
    return stop_reads_end;
}

// Windows' serial driver refuses a second opener by itself, but a port that
// wine maps to a Unix device does not: there two bridges would share the
// line and take each other's bytes. A named mutex per port name keeps a
// second bridge off the line in either case. Returns 0 or the error code.
int claim_port(const char *name) {
    char object[160] = "Global\\pawnbridge-port-";
    std::size_t at = std::strlen(object);
    for (const char *p = name; *p && at < sizeof object - 1; ++p, ++at) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        object[at] = c == '\\' ? '/' : c;  // a backslash would name a namespace
    }
    object[at] = '\0';
    HANDLE claim = CreateMutexA(nullptr, FALSE, object);
    if (!claim)
        return 0;  // no claim to be had; the port's own sharing rule still holds
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return ERROR_SHARING_VIOLATION;
    }
    port_claim = claim;
    return 0;
}

// Only COM1 to COM9 are names in the DOS device space; a higher number, as
// USB adapters often get, has to be opened through the device namespace.
bool needs_device_prefix(const char *name) {
    if (_strnicmp(name, "COM", 3) != 0)
        return false;
    const char *digits = name + 3;
    std::size_t count = std::strlen(digits);
    if (count < 2)
        return false;
    for (const char *p = digits; *p; ++p)
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

int last_error_or(int fallback) {
    DWORD error = GetLastError();
    return error ? static_cast<int>(error) : fallback;
}

// Bytes waiting in the port's input queue, or -1 when the port does not
// report its state (GetLastError tells why).
long queued_bytes() {
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (!ClearCommError(port, &errors, &status))
        return -1;
    return static_cast<long>(status.cbInQue);
}

// ------------------------------------------------------------------- log

HANDLE log_file = INVALID_HANDLE_VALUE;

void write_all(HANDLE handle, const char *data, std::size_t length) {
    while (length > 0) {
        DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        DWORD done = 0;
        if (!WriteFile(handle, data, chunk, &done, nullptr) || done == 0)
            return;
        data += done;
        length -= done;
    }
}

}  // namespace

void plat_init() {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                    THREAD_TERMINATE, FALSE, 0);
    SetConsoleCtrlHandler(console_event, TRUE);
    // Standard output stays a text stream: "\n" goes out as CR LF.
    start_reader();
}

int plat_stop_requested() { return stop_flag ? 1 : 0; }

const char *plat_port_name() {
    const char *chosen = std::getenv("PAWNBRIDGE_COM1");
    return chosen && *chosen ? chosen : "COM1";
}

int plat_port_open() {
    const char *name = plat_port_name();
    char device_path[300];
    if (needs_device_prefix(name) && std::strlen(name) < sizeof device_path - 4) {
        std::snprintf(device_path, sizeof device_path, "\\\\.\\%s", name);
        name = device_path;
    }
    HANDLE opened = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return last_error_or(1);
    if (int refused = claim_port(plat_port_name())) {
        CloseHandle(opened);
        return refused;
    }

    // A handle that has no line settings is not a serial port (a plain file,
    // or a mapping whose target is gone): fail as an unopenable port would.
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(opened, &dcb)) {
        int error = last_error_or(1);
        CloseHandle(opened);
        plat_port_close();  // gives up the claim
        return error;
    }
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // Not every line accepts every setting (a virtual port may refuse the
    // modem lines); the link goes on with what it took.
    SetCommState(opened, &dcb);

    DWORD mask = 0;
    GetCommMask(opened, &mask);
    SetCommMask(opened, mask | EV_RXCHAR);

    port = opened;
    return 0;
}

void plat_port_close() {
    if (port != INVALID_HANDLE_VALUE)
        CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
    if (port_claim)
        CloseHandle(port_claim);
    port_claim = nullptr;
}

void plat_port_set_timeout(int ms) {
    port_timeout_ms = ms > 0 ? ms : 0;
    if (port == INVALID_HANDLE_VALUE)
        return;
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = ms > 0 ? static_cast<DWORD>(ms) : 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(port, &timeouts);
}

int plat_port_read_byte(char *byte) {
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(port_timeout_ms);
    for (;;) {
        // After a stop the device's answers already on their way are still
        // taken, for a short while in all; then reads end empty at once, as
        // a time-out would.
        if (stop_flag && deadline > stop_grace_end())
            deadline = stop_grace_end();
        if (port == INVALID_HANDLE_VALUE)
            return -ERROR_INVALID_HANDLE;
        // A line that is gone (a USB adapter pulled out; under wine, a
        // hung-up pty) no longer reports its state: that is the read's error.
        long queued = queued_bytes();
        if (queued < 0)
            return -last_error_or(1);
        if (queued > 0)
            break;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return 0;
        ULONGLONG left = deadline - now;
        Sleep(left < PORT_POLL_MS ? static_cast<DWORD>(left) : PORT_POLL_MS);
    }
    // The byte is there, so this returns at once; the port's own read
    // time-out still bounds it should the queue have said more than it has.
    DWORD got = 0;
    if (!ReadFile(port, byte, 1, &got, nullptr))
        return -last_error_or(1);
    return got == 1 ? 1 : 0;
}

void plat_port_write(const char *data, std::size_t length) {
    if (port != INVALID_HANDLE_VALUE && !stop_flag)
        write_all(port, data, length);
}

namespace {

// Lines still to be taken once the grace after a stop is over (-1 until
// then).
int lines_after_grace = -1;

// The next queued line into dst, cut to fit; consume takes it off the
// queue. Returns 0 at the end of input.
int next_stdin_line(char *dst, std::size_t size, bool consume) {
    start_reader();
    for (;;) {
        EnterCriticalSection(&queue_lock);
        // After a stop only what the GUI has already sent is taken (it
        // sends "quit" and closes the console together): what the reader
        // queues during the grace, and then the lines queued when it ended;
        // a GUI that goes on writing must not keep the bridge.
        if (stop_flag && lines_after_grace < 0 && GetTickCount64() >= stop_grace_end())
            lines_after_grace = queue_count;
        if (lines_after_grace == 0) {
            LeaveCriticalSection(&queue_lock);
            return 0;
        }
        if (queue_count > 0) {
            const QueuedLine &line = queue[queue_first];
            if (size > 0) {
                std::size_t keep = line.length < size - 1 ? line.length : size - 1;
                std::memcpy(dst, line.text, keep);
                dst[keep] = '\0';
            }
            if (consume) {
                if (lines_after_grace > 0)
                    --lines_after_grace;
                queue_first = (queue_first + 1) % QUEUE_SLOTS;
                --queue_count;
                if (queue_count == 0 && !input_ended)
                    ResetEvent(input_ready);
                WakeConditionVariable(&queue_space);
            }
            LeaveCriticalSection(&queue_lock);
            return 1;
        }
        bool ended = input_ended;
        LeaveCriticalSection(&queue_lock);
        if (ended || stop_flag)
            return 0;
        WaitForSingleObject(input_ready, INFINITE);
    }
}

}  // namespace

int plat_stdin_read_line(char *dst, std::size_t size) { return next_stdin_line(dst, size, true); }

int plat_stdin_peek_line(char *dst, std::size_t size) { return next_stdin_line(dst, size, false); }

int plat_wait_input_or_port(int timeout_ms) {
    start_reader();
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms > 0 ? timeout_ms : 0);
    for (;;) {
        if (stop_flag || input_waiting())
            return 1;
        if (port == INVALID_HANDLE_VALUE)
            return 0;
        long queued = queued_bytes();
        if (queued < 0)
            return 0;  // the line is gone; the read that follows says so
        if (queued > 0)
            return 2;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return 0;
        ULONGLONG left = deadline - now;
        WaitForSingleObject(input_ready, left < PORT_POLL_MS ? static_cast<DWORD>(left)
                                                             : PORT_POLL_MS);
    }
}

int plat_log_open(const char *name) {
    if (log_file != INVALID_HANDLE_VALUE)
        return 1;
    HANDLE opened = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return 0;
    SetFilePointer(opened, 0, nullptr, FILE_END);
    log_file = opened;
    return 1;
}

void plat_log_write(const char *data, std::size_t length) {
    if (log_file != INVALID_HANDLE_VALUE)
        write_all(log_file, data, length);
}

void plat_log_close() {
    if (log_file != INVALID_HANDLE_VALUE)
        CloseHandle(log_file);
    log_file = INVALID_HANDLE_VALUE;
}

void plat_sleep_ms(int ms) { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }

long long plat_time_seconds() { return static_cast<long long>(std::time(nullptr)); }

void plat_local_time(int *weekday, int *month, int *day, int *hour, int *minute, int *second,
                     int *year) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    *weekday = now.wDayOfWeek;  // 0 is Sunday, as the interface wants
    *month = now.wMonth - 1;
    *day = now.wDay;
    *hour = now.wHour;
    *minute = now.wMinute;
    *second = now.wSecond;
    *year = now.wYear;
}

PortRefusal plat_port_refusal(int code) {
    // Windows opens a port for one program at a time and refuses any other
    // with "access denied"; a second bridge is refused by our own claim.
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
        return PORT_IN_USE;
    return PORT_REFUSED_OTHER;
}

const char *plat_error_text(int code) {
    static char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    // The system's text ends with its own line end; ours adds one.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0)
        std::snprintf(text, sizeof text, "error %d", code);
    else
        text[length] = '\0';
    return text;
}
