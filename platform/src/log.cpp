#include <android/log.h>
#include <host/log_record.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

namespace {

std::mutex& recordLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::vector<host::LogLine>& record() {
    static std::vector<host::LogLine>* lines = new std::vector<host::LogLine>;
    return *lines;
}

host::FatalHook gFatalHook = nullptr;

// Keeps a long recording from growing the record without bound.
const size_t kMaxRecordedLines = 200000;

char priorityLetter(int prio) {
    static const char kLetters[] = "??VDIWEFS";
    return (prio >= 0 && prio <= ANDROID_LOG_SILENT) ? kLetters[prio] : '?';
}

void emit(int prio, const char* tag, const char* text) {
    if (tag == nullptr) tag = "";
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmv;
    localtime_r(&tv.tv_sec, &tmv);
    char stamp[32];
    strftime(stamp, sizeof(stamp), "%m-%d %H:%M:%S", &tmv);
    char line[4400];
    snprintf(line, sizeof(line), "%s.%03ld %5d %5ld %c %s: %s\n", stamp,
             (long)(tv.tv_usec / 1000), (int)getpid(), (long)syscall(SYS_gettid),
             priorityLetter(prio), tag, text);

    std::lock_guard<std::mutex> guard(recordLock());
    // Fatal lines always reach stderr: they explain an abort.
    if (prio >= ANDROID_LOG_FATAL || getenv("LUMOKAST_LOG_QUIET") == nullptr) fputs(line, stderr);
    const char* path = getenv("LUMOKAST_LOG_FILE");
    if (path != nullptr && *path != '\0') {
        FILE* f = fopen(path, "a");
        if (f != nullptr) {
            fputs(line, f);
            fclose(f);
        }
    }
    if (record().size() < kMaxRecordedLines) record().push_back({prio, tag, text});
}

}  // namespace

extern "C" int __android_log_write(int prio, const char* tag, const char* text) {
    emit(prio, tag, text ? text : "");
    return 1;
}

extern "C" int __android_log_vprint(int prio, const char* tag, const char* fmt, va_list ap) {
    char buf[4096];
    vsnprintf(buf, sizeof(buf), fmt, ap);
    emit(prio, tag, buf);
    return 1;
}

extern "C" int __android_log_print(int prio, const char* tag, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int r = __android_log_vprint(prio, tag, fmt, ap);
    va_end(ap);
    return r;
}

extern "C" void __android_log_assert(const char* cond, const char* tag, const char* fmt, ...) {
    char buf[4096];
    if (fmt != nullptr) {
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(buf, sizeof(buf), fmt, ap);
        va_end(ap);
    } else {
        snprintf(buf, sizeof(buf), "Assertion failed: %s", cond ? cond : "");
    }
    emit(ANDROID_LOG_FATAL, tag, buf);
    if (gFatalHook != nullptr) gFatalHook(buf);
    abort();
}

namespace host {

std::vector<LogLine> logSnapshot() {
    std::lock_guard<std::mutex> guard(recordLock());
    return record();
}

void logClear() {
    std::lock_guard<std::mutex> guard(recordLock());
    record().clear();
}

int logCount(const std::string& text, const char* tag) {
    std::lock_guard<std::mutex> guard(recordLock());
    int n = 0;
    for (const LogLine& l : record()) {
        if (tag != nullptr && l.tag != tag) continue;
        if (l.msg.find(text) != std::string::npos) ++n;
    }
    return n;
}

void setFatalHook(FatalHook hook) { gFatalHook = hook; }

}  // namespace host
