// Compiled once per probe with PROBE_HEADER naming a header that the probed
// library must not reach: the build of the probe must fail to find it.
#include PROBE_HEADER
