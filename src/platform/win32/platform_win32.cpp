// The Win32 side of the operating-system layer.
//
// The bridge above this file is single-threaded and blocking. Three things
// on Windows do not fit that directly, and all are kept in here:
//  - An anonymous pipe handle on standard input is always signalled, so it
//    cannot be waited on together with the port. A reader thread takes whole
//    lines off standard input and queues them; the main thread waits on an
//    event that the queue sets.
//  - The port is opened for overlapped I/O. A one-byte read stays pending
//    while the device is silent, and its event is what the waits block on,
//    together with the input queue's event or the stop event; once its byte
//    has come, one more ReadFile takes whatever else the input queue holds.
//    A synchronous read could be neither woken by a stop request nor told
//    that the line had gone (under wine a hung-up line even spins a whole
//    core in it), and WaitCommEvent is no use under wine: on a
//    pseudo-terminal it fails at once with ERROR_OPERATION_ABORTED (wine's
//    TIOCMGET fails there), and on a real line wine serves it by looking at
//    the port every millisecond.
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
#include <initializer_list>

#include "platform.h"
#include "given_ports.h"

namespace {

// ------------------------------------------------------------ stop flag

std::atomic<bool> stop_flag{false};
// Set with the flag, for the waits on the port (manual reset).
HANDLE stop_event = nullptr;

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

// Sets the stop flag and wakes the main thread wherever it waits: for a
// line, for the port, or for a port write that the device does not take
// (that write is then given up, and later writes are skipped).
void request_stop() {
    stop_flag = true;
    if (input_ready)
        SetEvent(input_ready);
    if (stop_event)
        SetEvent(stop_event);
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
    // \\.\COM12 and COM12 are one port.
    if (std::strncmp(name, "\\\\.\\", 4) == 0)
        name += 4;
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

// What the port has delivered beyond the byte last asked for; the link's
// reads are served from here until it is used up, and the waits count its
// bytes as the port's data. A read in progress fills the free end.
constexpr std::size_t PORT_BUFFER_SIZE = 1024;
char port_buffer[PORT_BUFFER_SIZE];
std::size_t port_next = 0;    // the next byte to hand out
std::size_t port_filled = 0;  // the end of the bytes read
OVERLAPPED read_io;           // the read in progress, if any
bool read_pending = false;
OVERLAPPED write_io;

bool port_buffered() { return port_next < port_filled; }

// A failed read's error as the line tells it: a line that is gone (a USB
// adapter pulled out; under wine, a hung-up pty) no longer reports its
// state, and that failure is the one to name.
DWORD line_error(DWORD read_error) {
    if (queued_bytes() < 0)
        return static_cast<DWORD>(last_error_or(static_cast<int>(read_error)));
    return read_error != 0 ? read_error : 1;
}

// Reads up to size bytes into the free end of the buffer. A read that
// finishes at once adds its bytes; one that has to wait is left pending.
// Returns 0 or the system error code.
DWORD issue_read(DWORD size) {
    if (!ReadFile(port, port_buffer + port_filled, size, nullptr, &read_io)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return error;
        read_pending = true;
        return 0;
    }
    DWORD got = 0;
    if (!GetOverlappedResult(port, &read_io, &got, FALSE))
        return GetLastError();
    port_filled += got;
    return 0;
}

// Once a byte has come, what else the input queue holds is taken with it:
// the queue says how much is there, so the read finishes at once. Its
// failures are left for the next read to meet.
void take_queued() {
    while (!read_pending && port_filled < PORT_BUFFER_SIZE) {
        long queued = queued_bytes();
        if (queued <= 0)
            return;
        std::size_t room = PORT_BUFFER_SIZE - port_filled;
        std::size_t before = port_filled;
        DWORD size = static_cast<DWORD>(static_cast<std::size_t>(queued) < room ? queued : room);
        if (issue_read(size) != 0 || port_filled == before)
            return;
    }
}

// Sees that the port is being read: bytes wait in the buffer, or a read is
// pending. With the buffer used up a one-byte read is started, which waits
// for the device's next byte however long it takes; the callers' waits
// bound it. Returns 0, or the line's error when the read failed at once.
DWORD keep_reading() {
    if (port_buffered() || read_pending)
        return 0;
    port_next = port_filled = 0;
    DWORD error = issue_read(1);
    if (error != 0)
        return line_error(error);
    if (port_buffered())
        take_queued();
    return 0;
}

// Takes the result of the pending read once its event is set. Returns 0 or
// the line's error.
DWORD finish_read() {
    read_pending = false;
    DWORD got = 0;
    if (!GetOverlappedResult(port, &read_io, &got, FALSE))
        return line_error(GetLastError());
    port_filled += got;
    if (got > 0)
        take_queued();
    return 0;
}

// Milliseconds from now to the deadline, as a wait's time-out.
DWORD wait_ms(ULONGLONG deadline, ULONGLONG now) {
    ULONGLONG left = deadline - now;
    return left < INFINITE ? static_cast<DWORD>(left) : INFINITE - 1;
}

// ------------------------------------------------------------------- log

HANDLE log_file = INVALID_HANDLE_VALUE;

// Returns how much went out.
std::size_t write_all(HANDLE handle, const char *data, std::size_t length) {
    std::size_t written = 0;
    while (written < length) {
        std::size_t left = length - written;
        DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!WriteFile(handle, data + written, chunk, &done, nullptr) || done == 0)
            break;
        written += done;
    }
    return written;
}

}  // namespace

void plat_init() {
    stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(console_event, TRUE);
    // Standard output stays a text stream: "\n" goes out as CR LF.
    start_reader();
}

int plat_stop_requested() { return stop_flag ? 1 : 0; }

const char *plat_port_from_environment() {
    const char *chosen = std::getenv("PAWNBRIDGE_COM1");
    return chosen && *chosen ? chosen : nullptr;
}

namespace {

void add_port(PortEntry *out, int max, int &count, const char *name, bool modem_class) {
    if (count >= max || std::strlen(name) >= PORT_NAME_SIZE)
        return;
    for (int i = 0; i < count; ++i)
        if (_stricmp(out[i].name, name) == 0)
            return;
    std::snprintf(out[count].name, PORT_NAME_SIZE, "%s", name);
    out[count].modem_class = modem_class;
    ++count;
}

// COM3 before COM10: by the number after "COM".
int com_number(const char *name) {
    return _strnicmp(name, "COM", 3) == 0 ? std::atoi(name + 3) : 1 << 30;
}

// A port the system lists with its driver's device name: a USB modem-class
// port is \Device\USBSER000 and the like.
struct ListedPort {
    char name[PORT_NAME_SIZE];
    bool modem_class;
};

constexpr int LISTED_PORTS = 64;

}  // namespace

int plat_list_ports(PortEntry *out, int max) {
    int count = 0;
    static PortEntry given[LISTED_PORTS];
    if (int named = given_port_names(';', given, LISTED_PORTS); named >= 0) {
        for (int i = 0; i < named; ++i)
            add_port(out, max, count, given[i].name, false);
        return count;
    }
    add_port(out, max, count, "COM1", false);
    static ListedPort listed[LISTED_PORTS];
    int found = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD index = 0; found < LISTED_PORTS; ++index) {
            char device[256];
            DWORD device_size = sizeof device;
            BYTE data[PORT_NAME_SIZE];
            DWORD data_size = sizeof data - 1;
            DWORD type = 0;
            LONG result = RegEnumValueA(key, index, device, &device_size, nullptr, &type, data, &data_size);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result != ERROR_SUCCESS || type != REG_SZ)
                continue;
            data[data_size < sizeof data ? data_size : sizeof data - 1] = '\0';
            std::snprintf(listed[found].name, PORT_NAME_SIZE, "%s", reinterpret_cast<char *>(data));
            for (char *c = device; *c; ++c)
                *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
            listed[found].modem_class = std::strstr(device, "USBSER") != nullptr;
            ++found;
        }
        RegCloseKey(key);
    }
    std::qsort(listed, static_cast<std::size_t>(found), sizeof listed[0], [](const void *a, const void *b) {
        int x = com_number(static_cast<const ListedPort *>(a)->name);
        int y = com_number(static_cast<const ListedPort *>(b)->name);
        return x < y ? -1 : x > y ? 1 : 0;
    });
    // The ordinary ports first, the modem-class ones last (listed, never tried).
    for (bool modem : {false, true})
        for (int i = 0; i < found; ++i)
            if (listed[i].modem_class == modem)
                add_port(out, max, count, listed[i].name, modem);
    return count;
}

int plat_port_is_open() { return port != INVALID_HANDLE_VALUE; }

int plat_same_port(const char *a, const char *b) { return _stricmp(a, b) == 0; }

int plat_port_open(const char *name) {
    const char *given = name;
    char device_path[300];
    if (needs_device_prefix(name) && std::strlen(name) < sizeof device_path - 4) {
        std::snprintf(device_path, sizeof device_path, "\\\\.\\%s", name);
        name = device_path;
    }
    if (!read_io.hEvent)
        read_io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!write_io.hEvent)
        write_io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!read_io.hEvent || !write_io.hEvent)
        return last_error_or(1);
    HANDLE opened = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return last_error_or(1);
    if (int refused = claim_port(given)) {
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

    // No time-outs on the port itself: a read waits until its bytes are
    // there, and the link's own waits bound it.
    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    SetCommTimeouts(opened, &timeouts);

    port = opened;
    return 0;
}

void plat_port_close() {
    if (port != INVALID_HANDLE_VALUE) {
        if (read_pending) {
            // The read's buffer must outlive it; a read that does not end
            // when cancelled is left to the closing of the handle.
            CancelIoEx(port, &read_io);
            if (WaitForSingleObject(read_io.hEvent, 1000) == WAIT_OBJECT_0) {
                DWORD got = 0;
                GetOverlappedResult(port, &read_io, &got, FALSE);
            }
            read_pending = false;
        }
        CloseHandle(port);
    }
    port = INVALID_HANDLE_VALUE;
    port_next = port_filled = 0;
    if (port_claim)
        CloseHandle(port_claim);
    port_claim = nullptr;
}

void plat_port_set_timeout(int ms) { port_timeout_ms = ms > 0 ? ms : 0; }

int plat_port_read_byte(char *byte) {
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(port_timeout_ms);
    for (;;) {
        // After a stop the device's answers already on their way are still
        // taken, for a short while in all; then reads end empty at once, as
        // a time-out would.
        bool stopping = stop_flag;
        if (stopping && deadline > stop_grace_end())
            deadline = stop_grace_end();
        if (port == INVALID_HANDLE_VALUE)
            return 0;  // no device: nothing will come
        if (DWORD error = keep_reading())
            return -static_cast<int>(error);
        if (port_buffered())
            break;
        if (!read_pending)
            return 0;  // the read came back empty, as a time-out would
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return 0;
        // Until a stop, its event ends the wait; after it, only the clock.
        HANDLE events[2] = {read_io.hEvent, stop_event};
        DWORD count = !stopping && stop_event ? 2 : 1;
        DWORD woke = WaitForMultipleObjects(count, events, FALSE, wait_ms(deadline, now));
        if (woke == WAIT_OBJECT_0) {
            if (DWORD error = finish_read())
                return -static_cast<int>(error);
            if (!port_buffered())
                return 0;
            break;
        }
        if (woke == WAIT_FAILED)
            return -last_error_or(1);
        // Timed out or stopped: the clock and the stop's rule decide.
    }
    *byte = port_buffer[port_next++];
    return 1;
}

void plat_port_write(const char *data, std::size_t length) {
    while (length > 0 && port != INVALID_HANDLE_VALUE && !stop_flag) {
        DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        if (!WriteFile(port, data, chunk, nullptr, &write_io)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return;
            // A device that has stopped reading holds the write up until a
            // stop gives it up.
            HANDLE events[2] = {write_io.hEvent, stop_event};
            if (WaitForMultipleObjects(stop_event ? 2 : 1, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                // No write follows a stop, so a write that does not end
                // when cancelled is left to the closing of the handle.
                CancelIoEx(port, &write_io);
                WaitForSingleObject(write_io.hEvent, 1000);
                return;
            }
        }
        DWORD done = 0;
        if (!GetOverlappedResult(port, &write_io, &done, FALSE) || done == 0)
            return;
        data += done;
        length -= done;
    }
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

namespace {

// The wait behind plat_wait_input_or_port and plat_wait_port; a negative
// time-out waits for as long as it takes.
int wait_for(bool with_stdin, int timeout_ms) {
    start_reader();
    bool forever = timeout_ms < 0;
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms > 0 ? timeout_ms : 0);
    for (;;) {
        if (stop_flag)
            return with_stdin ? 1 : 2;  // a port read then goes by the stop's rule
        if (with_stdin && input_waiting())
            return 1;
        if (port == INVALID_HANDLE_VALUE) {
            // No device: only the GUI can end the wait.
            if (!with_stdin)
                return 0;
            DWORD woke = WaitForSingleObject(input_ready, forever ? INFINITE : static_cast<DWORD>(timeout_ms));
            return woke == WAIT_OBJECT_0 ? 1 : 0;
        }
        if (keep_reading() != 0)
            return with_stdin ? 0 : 2;  // the line is gone; the read that follows says so
        // Bytes in the buffer, or a read that came back empty: the read
        // that follows takes them.
        if (port_buffered() || !read_pending)
            return 2;
        ULONGLONG now = GetTickCount64();
        if (!forever && now >= deadline)
            return 0;
        // Standard input first: it wins when both are ready. The finished
        // read is taken up by the read that follows.
        HANDLE events[2] = {with_stdin ? input_ready : stop_event, read_io.hEvent};
        DWORD woke = WaitForMultipleObjects(2, events, FALSE, forever ? INFINITE : wait_ms(deadline, now));
        if (woke == WAIT_OBJECT_0 + 1)
            return with_stdin && (stop_flag || input_waiting()) ? 1 : 2;
        if (woke == WAIT_FAILED)
            return 0;
    }
}

}  // namespace

int plat_wait_input_or_port(int timeout_ms) { return wait_for(true, timeout_ms); }

int plat_wait_port(int timeout_ms) { return wait_for(false, timeout_ms); }

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
    if (log_file == INVALID_HANDLE_VALUE)
        return;
    // Whole or not at all: what a full disk lets through of an entry is
    // taken off again. The log is ours alone while open.
    LARGE_INTEGER zero, before;
    zero.QuadPart = 0;
    bool known = SetFilePointerEx(log_file, zero, &before, FILE_END) != 0;
    if (write_all(log_file, data, length) < length && known) {
        SetFilePointerEx(log_file, before, nullptr, FILE_BEGIN);
        SetEndOfFile(log_file);
    }
}

void plat_log_close() {
    if (log_file != INVALID_HANDLE_VALUE)
        CloseHandle(log_file);
    log_file = INVALID_HANDLE_VALUE;
}

void plat_sleep_ms(int ms) { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }

long long plat_time_seconds() { return static_cast<long long>(std::time(nullptr)); }

long long plat_monotonic_ms() { return static_cast<long long>(GetTickCount64()); }

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
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return PORT_MISSING;
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
