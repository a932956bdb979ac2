// Bounded retries of a drive step, with their pauses on the clock seam so
// that tests of long retry loops run at once and can check the waits.
#ifndef TAPEDIAG_RETRY_H
#define TAPEDIAG_RETRY_H

#include "Clock.h"

struct CRetryPolicy {
    int attempts;                // at most this many, the first included
    long pauseSeconds;           // between two attempts
    bool pauseAfterLastFailure;  // also after the last failed attempt
    // A time (seconds since the epoch) before which attempts go on past
    // `attempts`: a wait for a drive that takes as long as it takes. The
    // clock is read after each failed attempt; 0 sets no such time.
    long until = 0;
};

// Runs `attempt` until it returns true, as the policy allows; true at the
// first success, false when every attempt failed. After a failed attempt,
// `worthAnother` may end the retries at once (no pause): the next attempt
// would fail the same way, as a command that timed out would.
template <typename Attempt, typename WorthAnother>
bool Retry(const CRetryPolicy& policy, Attempt attempt, WorthAnother worthAnother)
{
    CClock& clock = CClock::Get();
    if (policy.attempts < 1 && clock.Now() >= policy.until)
        return false;
    for (int done = 1;; ++done) {
        if (attempt())
            return true;
        if (!worthAnother())
            return false;
        const bool more = done < policy.attempts || clock.Now() < policy.until;
        if (policy.pauseSeconds > 0 && (more || policy.pauseAfterLastFailure))
            clock.Sleep(policy.pauseSeconds);
        if (!more)
            return false;
    }
}

template <typename Attempt>
bool Retry(const CRetryPolicy& policy, Attempt attempt)
{
    return Retry(policy, attempt, [] { return true; });
}

#endif
