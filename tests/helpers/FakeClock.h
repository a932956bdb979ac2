// A clock that moves only when asked: Sleep() advances it and is recorded,
// Advance() stands for time spent elsewhere (a slow command). CFakeClockScope
// installs a clock for one test and restores the previous one.
#ifndef TAPEDIAG_TEST_FAKECLOCK_H
#define TAPEDIAG_TEST_FAKECLOCK_H

#include "Clock.h"

#include <vector>

class CFakeClock : public CClock {
public:
    explicit CFakeClock(long start = 1000000) : m_now(start) {}

    long Now() override { return m_now; }
    void Sleep(long seconds) override
    {
        m_sleeps.push_back(seconds);
        m_now += seconds;
    }
    void Advance(long seconds) { m_now += seconds; }
    const std::vector<long>& Sleeps() const { return m_sleeps; }

private:
    long m_now;
    std::vector<long> m_sleeps;
};

class CFakeClockScope {
public:
    explicit CFakeClockScope(CClock& clock) : m_previous(&CClock::Get()) { CClock::Set(&clock); }
    ~CFakeClockScope() { CClock::Set(m_previous); }

    CFakeClockScope(const CFakeClockScope&) = delete;
    CFakeClockScope& operator=(const CFakeClockScope&) = delete;

private:
    CClock* m_previous;
};

#endif
