// Log lines of the capture library: the tag names the call site,
// "<LumoKAST_native> file: function(line)".
#ifndef LUMOKAST_LOG_H
#define LUMOKAST_LOG_H

#include <android/log.h>

void lumokastLog(int prio, const char* file, const char* function, int line, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

#define LKLOGD(...) lumokastLog(ANDROID_LOG_DEBUG, __FILE__, __FUNCTION__, __LINE__, __VA_ARGS__)
#define LKLOGE(...) lumokastLog(ANDROID_LOG_ERROR, __FILE__, __FUNCTION__, __LINE__, __VA_ARGS__)

#endif  // LUMOKAST_LOG_H
