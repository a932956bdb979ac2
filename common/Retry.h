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
// first success, false when every attempt failed. After a failed attempt,
// `worthAnother` may end the retries at once (no pause): the next attempt
// would fail the same way, as a command that timed out would.
template <typename Attempt, typename WorthAnother>
bool Retry(const CRetryPolicy& policy, Attempt attempt, WorthAnother worthAnother)
{
    for (int done = 1; done <= policy.attempts; ++done) {
        if (attempt())
            return true;
        if (!worthAnother())
            return false;
        if (policy.pauseSeconds > 0 && (done < policy.attempts || policy.pauseAfterLastFailure))
            CClock::Get().Sleep(policy.pauseSeconds);
    }
    return false;
}

template <typename Attempt>
bool Retry(const CRetryPolicy& policy, Attempt attempt)
{
    return Retry(policy, attempt, [] { return true; });
}

#endif
