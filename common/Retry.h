// Bounded retries of a drive step, with their pauses on the clock seam so
// that tests of long retry loops run at once and can check the waits.
#ifndef TAPEDIAG_RETRY_H
#define TAPEDIAG_RETRY_H

#include "Clock.h"

struct CRetryPolicy {
    int attempts;                // at most this many, the first included
    long pauseSeconds;           // between two attempts
    bool pauseAfterLastFailure;  // also after the last failed attempt
};

// Runs `attempt` until it returns true, as the policy allows; true at the
// first success, false when every attempt failed.
template <typename Attempt>
bool Retry(const CRetryPolicy& policy, Attempt attempt)
{
    for (int done = 1; done <= policy.attempts; ++done) {
        if (attempt())
            return true;
        if (policy.pauseSeconds > 0 && (done < policy.attempts || policy.pauseAfterLastFailure))
            CClock::Get().Sleep(policy.pauseSeconds);
    }
    return false;
}

#endif
