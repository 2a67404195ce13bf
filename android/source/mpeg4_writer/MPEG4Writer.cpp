#include "mpeg4_writer/MPEG4Writer.h"

namespace qor {

MPEG4Writer::MPEG4Writer(const char*) {}
MPEG4Writer::MPEG4Writer(int) {}
MPEG4Writer::~MPEG4Writer() {}
status_t MPEG4Writer::addSource(const sp<android::MediaSource>&) { return android::OK; }
bool MPEG4Writer::reachedEOS() { return true; }
status_t MPEG4Writer::start(android::MetaData*) { return android::UNKNOWN_ERROR; }
status_t MPEG4Writer::stop() { return android::OK; }
status_t MPEG4Writer::pause() { return android::OK; }

}  // namespace qor
