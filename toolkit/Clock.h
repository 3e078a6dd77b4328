#pragma once
// The program's clock: wall-clock seconds since 1970 (NSDate's timeIntervalSince1970), which
// tests can pin and move so that ages (the direction ring's fade) are checked without waiting.
// Main thread only; the value is kept in atomics so a stray reader from another thread is safe.
namespace fm::toolkit {

class Clock {
  public:
    // Seconds since 1970: the pinned time when set, else the system clock.
    static double now();
    // Signed seconds from now to `time` (negative for a past time).
    static double timeIntervalSinceNow(double time) { return time - now(); }

    // For tests: pin the clock at `secondsSince1970`, move it, or go back to the system clock.
    static void setNow(double secondsSince1970);
    static void advance(double seconds);
    static void useSystemTime();
};

}  // namespace fm::toolkit
