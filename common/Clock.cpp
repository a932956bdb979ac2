#include "Clock.h"

#include <ctime>
#include <unistd.h>

namespace {

class CSystemClock : public CClock {
public:
    long Now() override { return static_cast<long>(std::time(nullptr)); }
    void Sleep(long seconds) override
    {
        if (seconds > 0)
            ::sleep(static_cast<unsigned>(seconds));
    }
};

CSystemClock systemClock;
CClock* currentClock = &systemClock;

}  // namespace

CClock& CClock::Get()
{
    return *currentClock;
}

void CClock::Set(CClock* clock)
{
    currentClock = clock != nullptr ? clock : &systemClock;
}
