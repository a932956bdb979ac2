// The one seam for time: every pause and clock reading of the diagnostics
// goes through CClock::Get(), so that tests replace the clock and a test of a
// long wait runs in microseconds and can check the waits that were asked for.
#ifndef TAPEDIAG_CLOCK_H
#define TAPEDIAG_CLOCK_H

class CClock {
public:
    virtual ~CClock() {}
    // Seconds since the epoch.
    virtual long Now() = 0;
    // Suspends the caller for that many seconds.
    virtual void Sleep(long seconds) = 0;

    // The clock in use: the system clock unless a test installed another.
    static CClock& Get();
    // Installs `clock` (not owned); null restores the system clock.
    static void Set(CClock* clock);
};

#endif
