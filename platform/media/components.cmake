# The OpenMAX IL components behind the in-process service (openh264 for
# H.264, libavcodec for AAC), the codec list and the platform's encoders.
pkg_check_modules(QOR_OPENH264 REQUIRED IMPORTED_TARGET openh264)
pkg_check_modules(QOR_LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil)

list(APPEND QOR_MEDIA_EXTRA_SOURCES
  omx/OmxComponent.cpp
  omx/AvcEncoderComponent.cpp
  omx/AacEncoderComponent.cpp
  omx/MediaCodecList.cpp
)
file(GLOB QOR_MEDIA_CODEC_SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec/*.cpp)
list(APPEND QOR_MEDIA_EXTRA_SOURCES ${QOR_MEDIA_CODEC_SOURCES})
list(APPEND QOR_MEDIA_EXTRA_LIBS PkgConfig::QOR_OPENH264 PkgConfig::QOR_LIBAV)
