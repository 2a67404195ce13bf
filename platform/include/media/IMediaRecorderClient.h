// Listener of a media writer: (message, ext1, ext2) events.
#ifndef IMEDIA_RECORDER_CLIENT_H_
#define IMEDIA_RECORDER_CLIENT_H_

#include <utils/RefBase.h>

namespace android {

class IMediaRecorderClient : public RefBase {
public:
    virtual void notify(int msg, int ext1, int ext2) = 0;
};

// Messages and codes of the media recorder listener interface.
enum media_recorder_event_type {
    MEDIA_RECORDER_EVENT_LIST_START = 1,
    MEDIA_RECORDER_EVENT_ERROR = 1,
    MEDIA_RECORDER_EVENT_INFO = 2,
    MEDIA_RECORDER_TRACK_EVENT_ERROR = 100,
    MEDIA_RECORDER_TRACK_EVENT_INFO = 101,
};

enum media_recorder_info_type {
    MEDIA_RECORDER_INFO_MAX_DURATION_REACHED = 800,
    MEDIA_RECORDER_INFO_MAX_FILESIZE_REACHED = 801,
    MEDIA_RECORDER_TRACK_INFO_COMPLETION_STATUS = 1000,
    MEDIA_RECORDER_TRACK_INFO_PROGRESS_IN_TIME = 1001,
    MEDIA_RECORDER_TRACK_ERROR_GENERAL = 100,
};

}  // namespace android

#endif  // IMEDIA_RECORDER_CLIENT_H_
