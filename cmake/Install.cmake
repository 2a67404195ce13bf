# The kit as a game receives it: `cmake --install <build> --prefix <dir>`
# lays out the shipped libraries of this build's ABI, the Java classes (jar
# and sources), R8/ProGuard keep rules, libyuv's licence and the Unity
# plug-in folder, with kit/README.md describing it. From build-x86 that is
# the x86 kit; the 64-bit host build lays out the same under x86_64.
if(QOR_TARGET_ABI)
  set(QOR_INSTALL_ABI ${QOR_TARGET_ABI})
else()
  set(QOR_INSTALL_ABI x86_64)
endif()

set(QOR_KIT_LIBRARIES lumokast lumokastcore)
foreach(level 18 21 23)
  if(TARGET vencora_${level})
    list(APPEND QOR_KIT_LIBRARIES vencora_${level})
  endif()
endforeach()

get_target_property(QOR_KIT_JAR lumokast_java JAR_FILE)
file(GLOB QOR_KIT_JAVA CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/cn/lumokast/recorder/*.java)
file(GLOB QOR_KIT_CSHARP CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/unity/csharp/*.cs)

# Android: src/main/jniLibs/<abi>, libs/, the sources, the keep rules.
install(TARGETS ${QOR_KIT_LIBRARIES} LIBRARY DESTINATION android/jniLibs/${QOR_INSTALL_ABI})
install(FILES ${QOR_KIT_JAR} DESTINATION android/libs RENAME lumokast.jar)
install(FILES ${QOR_KIT_JAVA} DESTINATION android/java/cn/lumokast/recorder)
install(FILES ${CMAKE_SOURCE_DIR}/kit/proguard-rules.pro DESTINATION android)

# Unity: Assets/Plugins/Android, the libraries in libs/<abi> (Unity takes
# the CPU from that folder).
install(TARGETS LumoKastUnity ${QOR_KIT_LIBRARIES}
  LIBRARY DESTINATION unity/Plugins/Android/libs/${QOR_INSTALL_ABI})
install(FILES ${QOR_KIT_JAR} DESTINATION unity/Plugins/Android RENAME lumokast.jar)
install(FILES ${QOR_KIT_CSHARP} DESTINATION unity/Plugins/Android)

install(FILES ${CMAKE_SOURCE_DIR}/kit/README.md DESTINATION .)
install(FILES ${QOR_LIBYUV_ROOT}/LICENSE DESTINATION . RENAME LICENSE.libyuv)
