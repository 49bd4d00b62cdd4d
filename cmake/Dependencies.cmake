# Every library the build stands on, found once here and used by target name everywhere.
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Sql Test)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(ZLIB REQUIRED)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale libswresample)
pkg_check_modules(X264 REQUIRED IMPORTED_TARGET x264)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)

# Debian's libyuv ships neither pkg-config nor CMake files.
find_library(YUV_LIBRARY yuv REQUIRED)
find_path(YUV_INCLUDE_DIR libyuv.h REQUIRED)
add_library(sc_libyuv INTERFACE)
target_include_directories(sc_libyuv SYSTEM INTERFACE ${YUV_INCLUDE_DIR})
target_link_libraries(sc_libyuv INTERFACE ${YUV_LIBRARY})
add_library(Yuv::yuv ALIAS sc_libyuv)

if(STUDIOCAST_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(STUDIOCAST_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
