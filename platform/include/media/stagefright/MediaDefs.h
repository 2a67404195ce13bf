// The platform's media MIME strings.
#ifndef MEDIA_DEFS_H_
#define MEDIA_DEFS_H_

namespace android {

extern const char* MEDIA_MIMETYPE_VIDEO_AVC;    // "video/avc"
extern const char* MEDIA_MIMETYPE_VIDEO_MPEG4;  // "video/mp4v-es"
extern const char* MEDIA_MIMETYPE_VIDEO_H263;   // "video/3gpp"
extern const char* MEDIA_MIMETYPE_VIDEO_RAW;    // "video/raw"
extern const char* MEDIA_MIMETYPE_AUDIO_AMR_NB; // "audio/3gpp"
extern const char* MEDIA_MIMETYPE_AUDIO_AMR_WB; // "audio/amr-wb"
extern const char* MEDIA_MIMETYPE_AUDIO_AAC;    // "audio/mp4a-latm"
extern const char* MEDIA_MIMETYPE_AUDIO_RAW;    // "audio/raw"
extern const char* MEDIA_MIMETYPE_CONTAINER_MPEG4;  // "video/mp4"

}  // namespace android

#endif  // MEDIA_DEFS_H_
