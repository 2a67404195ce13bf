/*
 * Host only: a test sets the time that systemTime() reports, so a recording
 * of a minute of sound (or a clock running fast or slow) needs no minute of
 * real time.
 */
#ifndef HOST_TEST_CLOCK_H_
#define HOST_TEST_CLOCK_H_

#include <stdint.h>

namespace host {

// From now on every clock reads `timeNs`, until the next call or
// releaseTestClock().
void setTestClockNs(int64_t timeNs);
// The clocks run from the system again.
void releaseTestClock();

}  // namespace host

#endif  // HOST_TEST_CLOCK_H_
