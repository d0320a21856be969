// What the drain's files share: the prefix of its reports, its limits and how it writes time.
#pragma once

#include <cstdint>
#include <string>

namespace wendrix::drain {

inline constexpr const char* kReportPrefix = "private update wendrix Error: ";

// A gap gets at most this much silence: filling a machine's sleep or a debugger's pause whole
// would hold the host's thread for seconds and the file for gigabytes.
inline constexpr int64_t kMaxSilenceSeconds = 10;
// The most saved audio (bytes) a tick's transfer writes while the watch holds a backlog: a
// quarter of a megabyte is appended in well under a millisecond on a local disk (a second and
// a half of CD audio), and with a transfer on every tick a minute's backlog is written within
// seconds. The stop writes all that is left at once.
inline constexpr int64_t kBacklogBytesPerTransfer = 256 * 1024;
// A suspension the platform reports is told once it is this long (shorter ones are the
// platform's clocks disagreeing).
inline constexpr int64_t kLeastSuspendMicroseconds = 1000000;
// The shortest stand-still of a flowing device's position that counts as a stopped device,
// however short its ring: devices deliver in periods of up to about half a second.
inline constexpr int64_t kLeastFreezeMicroseconds = 700000;
// How long a device that has delivered nothing since Start may stay silent, beyond its ring,
// before it counts as stopped: a wireless headset switching to its microphone, or a busy sound
// server, takes seconds to deliver the first bytes (the start delay a device claims bounds
// only what the clock may count as lost).
inline constexpr int64_t kLeastSilentStartMicroseconds = 5000000;

// "3.000": `bytes` at `bytes_per_second` as seconds with three decimals, whatever the host's
// locale (bytes_per_second 1000000 turns microseconds into seconds).
std::string Seconds(int64_t bytes, int32_t bytes_per_second);

}  // namespace wendrix::drain
