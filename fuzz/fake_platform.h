// A stand-in for the operating-system layer, for the fuzz targets: the
// device's bytes and the interface's lines come from the fuzz input, the log
// and the device's commands go to memory, time stands still and pauses are
// skipped.
//
// The device stream is plain bytes with one escape, 0xFF, followed by:
//   0x00  a literal 0xFF byte
//   0x01  a read time-out (the read returns no byte)
//   0x02  a read error (EIO) for one read
//   0x03  the interface line wins the next wait for input or port
//   0x04  the device is unplugged: from here on every read fails at once
//   0x05  the next wait for the interface or the port runs out its time
//   other a read time-out, like 0x01
// Once the stream is used up every read times out (or fails, when unplugged).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fake {

// Forgets everything of the previous input: streams, log, written commands.
void reset();
void set_port_stream(const std::uint8_t *data, std::size_t size);
// Interface text, split into lines at LF; a CR before the LF is dropped, as
// the real reader does. Lines for which keep returns false are left out.
void set_interface_text(const std::uint8_t *data, std::size_t size,
                        bool (*keep)(const std::string &line) = nullptr);
// Makes the next log opens fail (another writer holds the file).
void refuse_log(bool refuse);
// Called with each interface line as a read hands it out (a peek is not a
// read), before the bridge acts on it; reset() removes it.
void on_line_read(void (*hook)(const char *line));

// True when nothing but time-outs is left in the device stream.
bool port_drained();
// Everything written to the log while it was open.
const std::string &log();
// Everything written to the device.
const std::string &written();
// What must show up in the log, in order: every interface line handed out
// while the log could be opened, and every device byte read while it was open.
const std::string &owed_to_log();

// Aborts unless every byte owed to the log appears in it, in order.
void check_nothing_lost();

// Aborts with a message: an invariant of the bridge did not hold.
[[noreturn]] void fail(const char *what);
inline void require(bool holds, const char *what) {
    if (!holds)
        fail(what);
}

}  // namespace fake
