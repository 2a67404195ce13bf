/*
 * What the encoder library's push functions answer, between it and the
 * front end: 0 taken, negative refused, and kPushDropped for a frame the
 * recorder let go on purpose (the disk is behind). A dropped frame was never
 * handed to an encoder, so the front end reuses its buffer; the game sees 0.
 */
#ifndef QOR_COMMON_PUSH_RESULT_H_
#define QOR_COMMON_PUSH_RESULT_H_

namespace qor {

const int kPushDropped = 1;

}  // namespace qor

#endif  // QOR_COMMON_PUSH_RESULT_H_
