/*
 * Results of the encoder library's C interface that only the front end
 * sees, besides 0 (done) and the negative refusals and failures.
 */
#ifndef QOR_COMMON_LIBRARY_RESULTS_H_
#define QOR_COMMON_LIBRARY_RESULTS_H_

namespace qor {

// A push: the frame was let go on purpose (the disk is behind). It was never
// handed to an encoder, so the front end reuses its buffer; the game sees 0.
const int kPushDropped = 1;

// A stop: the recording did not end in time and its file is completed in
// the background, where its encoders may still read the buffers they were
// handed (the front end keeps them, and the library loaded). The game sees -1.
const int kStopInBackground = -110;  // -ETIMEDOUT

}  // namespace qor

#endif  // QOR_COMMON_LIBRARY_RESULTS_H_
