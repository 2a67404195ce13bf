// The MP4 writer. (Skeleton: the full writer replaces it.)
#ifndef QOR_MPEG4_WRITER_H_
#define QOR_MPEG4_WRITER_H_

#include <media/stagefright/MediaWriter.h>
#include <media/stagefright/MetaData.h>
#include <media/stagefright/MediaSource.h>

namespace qor {

using android::sp;
using android::status_t;

class MPEG4Writer : public android::MediaWriter {
public:
    explicit MPEG4Writer(const char* filename);
    explicit MPEG4Writer(int fd);

    status_t addSource(const sp<android::MediaSource>& source) override;
    bool reachedEOS() override;
    status_t start(android::MetaData* param = nullptr) override;
    status_t stop() override;
    status_t pause() override;

protected:
    ~MPEG4Writer() override;
};

}  // namespace qor

#endif  // QOR_MPEG4_WRITER_H_
