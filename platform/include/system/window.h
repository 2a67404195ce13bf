// Native window handle (never used by the encoders of this system).
#ifndef SYSTEM_WINDOW_H_
#define SYSTEM_WINDOW_H_

#include <utils/RefBase.h>

struct ANativeWindow : public android::RefBase {};

#endif  // SYSTEM_WINDOW_H_
