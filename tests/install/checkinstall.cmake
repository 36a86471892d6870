# Installs the build into a fresh prefix and checks that a desktop finds the game there:
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -P checkinstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(icons "")
foreach(size 16 24 32 48 64 72 80 96 128 256)
  list(APPEND icons share/icons/hicolor/${size}x${size}/apps/taptempest.png)
endforeach()
foreach(path bin/taptempest bin/taptempest-server
             share/applications/io.github.taptempest.TapTempest.desktop
             share/metainfo/io.github.taptempest.TapTempest.metainfo.xml
             ${icons})
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

file(READ "${PREFIX}/share/applications/io.github.taptempest.TapTempest.desktop" entry)
foreach(line "[Desktop Entry]" "Type=Application" "Exec=taptempest" "Icon=taptempest"
             "Name[zh_CN]=TapTempest 点击游戏")
  string(FIND "\n${entry}" "\n${line}\n" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks \"${line}\"")
  endif()
endforeach()

# The icon the entry names is a real 256 px PNG; the 16 px one is 16 px.
file(READ "${PREFIX}/share/icons/hicolor/256x256/apps/taptempest.png" png LIMIT 24 HEX)
if(NOT png MATCHES "^89504e470d0a1a0a0000000d4948445200000100000001")
  message(FATAL_ERROR "the desktop icon is not a 256 x 256 PNG: ${png}")
endif()
file(READ "${PREFIX}/share/icons/hicolor/16x16/apps/taptempest.png" png LIMIT 24 HEX)
if(NOT png MATCHES "^89504e470d0a1a0a0000000d49484452000000100000001")
  message(FATAL_ERROR "the 16 px desktop icon is not a 16 x 16 PNG: ${png}")
endif()

# What a desktop and a software centre read passes their own checks.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(APPSTREAMCLI appstreamcli)
if(NOT DESKTOP_FILE_VALIDATE OR NOT APPSTREAMCLI)
  message(FATAL_ERROR "desktop-file-validate and appstreamcli are needed (Debian packages "
                      "desktop-file-utils and appstream; scripts/test installs them)")
endif()
execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${PREFIX}/share/applications/io.github.taptempest.TapTempest.desktop"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${result}\n${out}")
endif()
# The component id is reverse-DNS and names the desktop entry; a warning fails the check too.
execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net --pedantic
                        "${PREFIX}/share/metainfo/io.github.taptempest.TapTempest.metainfo.xml"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR out MATCHES "W: |E: ")
  message(FATAL_ERROR "appstreamcli validate: ${result}\n${out}")
endif()
file(READ "${PREFIX}/share/metainfo/io.github.taptempest.TapTempest.metainfo.xml" metainfo)
if(NOT metainfo MATCHES "<id>io\\.github\\.taptempest\\.TapTempest</id>")
  message(FATAL_ERROR "the metainfo's id is not the desktop entry's name")
endif()
message(STATUS "installed layout is complete")
