# The 32-bit x86 build: the ABI the kit ships in (Android x86), built with the
# host compiler's multilib support against Debian's i386 libraries.
#   cmake -S . -B build-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86.cmake
#
# Not a cross build: the programs run here, tests and benchmarks included.

# The Android x86 ABI: i686 with SSSE3, SSE arithmetic, and a stack realigned
# on entry (callers from Java or other compilers may keep only 4 bytes).
set(QOR_X86_ABI_FLAGS "-m32 -march=i686 -mssse3 -mfpmath=sse -mstackrealign")
set(CMAKE_C_FLAGS_INIT "${QOR_X86_ABI_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${QOR_X86_ABI_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Libraries, CMake packages (GTest, benchmark) and pkg-config files of i386.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# The JNI libraries run in the i386 JVM; the amd64 JDK compiles the jars and
# lends its JNI headers (the same for both ABIs).
set(QOR_JAVA_RUNTIME_HOME /usr/lib/jvm/java-17-openjdk-i386 CACHE PATH "JVM that loads the libraries")
set(QOR_TARGET_ABI x86)
