// Host-only access to the in-memory log record, for tests.
#ifndef HOST_LOG_RECORD_H
#define HOST_LOG_RECORD_H

#include <string>
#include <vector>

namespace host {

struct LogLine {
    int prio;
    std::string tag;
    std::string msg;
};

// Every line logged since start or the last logClear(), oldest first.
std::vector<LogLine> logSnapshot();
void logClear();
// Number of recorded lines whose message contains `text` (and whose tag
// equals `tag` when it is not null).
int logCount(const std::string& text, const char* tag = nullptr);
// Called instead of abort() by fatal log lines while set (death tests do not
// need it; it lets in-process tests observe a CHECK without dying).
typedef void (*FatalHook)(const char* msg);
void setFatalHook(FatalHook hook);

}  // namespace host

#endif  // HOST_LOG_RECORD_H
