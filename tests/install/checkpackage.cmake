# Builds the Debian package from a build folder and checks what it would install and need:
#   cmake -DBUILD_DIR=<build> -DOUT=<empty folder> -P checkpackage.cmake
cmake_minimum_required(VERSION 3.21)
file(REMOVE_RECURSE "${OUT}")
get_filename_component(cmake_bin "${CMAKE_COMMAND}" DIRECTORY)
find_program(CPACK cpack HINTS "${cmake_bin}" NO_DEFAULT_PATH)
find_program(CPACK cpack)
find_program(DPKG_DEB dpkg-deb)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT CPACK OR NOT DPKG_DEB OR NOT DPKG_SHLIBDEPS)
  message(FATAL_ERROR "cpack, dpkg-deb and dpkg-shlibdeps are needed (Debian package dpkg-dev; "
                      "scripts/test installs it)")
endif()
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT}"
                RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
file(GLOB debs "${OUT}/*.deb")
list(LENGTH debs count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack -G DEB failed (${result}, ${count} packages):\n${log}")
endif()
get_filename_component(name "${debs}" NAME)
if(NOT name MATCHES "^taptempest_[0-9.]+(-[0-9]+)?_[a-z0-9]+\\.deb$")
  message(FATAL_ERROR "unexpected package file name ${name}")
endif()

execute_process(COMMAND "${DPKG_DEB}" -c "${debs}" OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c failed on ${name}")
endif()
# "-rwxr-xr-x root/root 123 2026-01-01 00:00 ./usr/bin/taptempest": keep the paths of files.
set(files "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^-[^ ]+ +[^ ]+ +[0-9]+ +[^ ]+ +[^ ]+ +\\./(.*)$")
    list(APPEND files "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(expected usr/bin/taptempest usr/bin/taptempest-server
             usr/share/doc/taptempest/copyright
             usr/share/applications/io.github.taptempest.TapTempest.desktop
             usr/share/metainfo/io.github.taptempest.TapTempest.metainfo.xml)
foreach(size 16 24 32 48 64 72 80 96 128 256)
  list(APPEND expected usr/share/icons/hicolor/${size}x${size}/apps/taptempest.png)
endforeach()
foreach(path IN LISTS expected)
  if(NOT path IN_LIST files)
    message(FATAL_ERROR "the package lacks ${path}; it holds:\n${listing}")
  endif()
endforeach()
# Nothing else: no test, benchmark or build helper slips in.
foreach(path IN LISTS files)
  if(NOT path IN_LIST expected)
    message(FATAL_ERROR "the package should not install ${path}")
  endif()
endforeach()

execute_process(COMMAND "${DPKG_DEB}" -f "${debs}" Package Depends Recommends Section
                OUTPUT_VARIABLE fields)
# dpkg-shlibdeps found the libraries both programs link; the plug-ins it cannot see are named.
foreach(dependency "Package: taptempest" "libqt6widgets6" "libqt6network6" "libqt6gui6"
                   "libqt6httpserver6" "libsodium23" "libqt6sql6-sqlite" "openssl" "libc6")
  string(FIND "${fields}" "${dependency}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the package's fields lack ${dependency}:\n${fields}")
  endif()
endforeach()
message(STATUS "${name}: ${fields}")
