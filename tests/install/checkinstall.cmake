# Installs the build into a fresh prefix and checks that a desktop finds the game there:
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -P checkinstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(path bin/taptempest bin/taptempest-server
             share/applications/taptempest.desktop
             share/icons/hicolor/256x256/apps/taptempest.png)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

file(READ "${PREFIX}/share/applications/taptempest.desktop" entry)
foreach(line "[Desktop Entry]" "Type=Application" "Exec=taptempest" "Icon=taptempest"
             "Name[zh_CN]=TapTempest 点击游戏")
  string(FIND "\n${entry}" "\n${line}\n" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks \"${line}\"")
  endif()
endforeach()

# The icon the entry names is a real 256 px PNG.
file(READ "${PREFIX}/share/icons/hicolor/256x256/apps/taptempest.png" png LIMIT 24 HEX)
if(NOT png MATCHES "^89504e470d0a1a0a0000000d4948445200000100000001")
  message(FATAL_ERROR "the desktop icon is not a 256 x 256 PNG: ${png}")
endif()
message(STATUS "installed layout is complete")
