// The device lock: one device, several programs. Every process that uses the
// same device node holds this lock for each exchange (and, for a sale, a
// cancellation or a session query, for its whole attempt loop), so no process
// ever reads another's answer. It sits under the call lock, which stays as it is.
//
// An flock on a lock file named after the node's device number, in /run/lock:
// the kernel drops it when its holder dies, and any user can take it. A waiter
// sleeps on inotify until a holder closes the file or its deadline passes.
// When the lock file cannot be had (no /run/lock, read-only, ...), calls go on
// without it.
#pragma once

namespace sat {

// Holds the device from construction to destruction. Nested holds of one thread
// (the attempt loop, then each exchange inside it) count up and never wait.
class DeviceHold {
  public:
    // Waits, at most until `deadline` (tick() seconds), for the device.
    explicit DeviceHold(long deadline) noexcept;
    ~DeviceHold();
    DeviceHold(const DeviceHold&) = delete;
    DeviceHold& operator=(const DeviceHold&) = delete;

    // False when another process held the device past the deadline: nothing may
    // be sent, the call gives its busy answer.
    explicit operator bool() const noexcept { return held_; }
    // True when the device was found held and had to be waited for.
    bool waited() const noexcept { return waited_; }

  private:
    bool held_ = false;
    bool waited_ = false;
    bool counted_ = false; // this hold took part in the thread's nesting count
};

} // namespace sat
