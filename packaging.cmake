# `cpack -G DEB` in a build folder: a Debian package of the game, the reference server and their
# desktop files, installed under /usr.
set(CPACK_PACKAGE_NAME taptempest)
set(CPACK_PACKAGE_VENDOR "TapTempest")
set(CPACK_PACKAGE_CONTACT "TapTempest developers <taptempest@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Clicker game with click effects, and its reference server")
set(CPACK_PACKAGE_DESCRIPTION
    "Click one big button to earn clicks, exchange them for gold and buy visual click effects. "
    "The interface is in Simplified Chinese. Includes taptempest-server, a reference game "
    "server to play against on this machine.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://taptempest.invalid/")
# The libraries come from dpkg-shlibdeps. What it cannot see: the SQLite driver the server loads
# as a plug-in, and the openssl command that makes its first certificate.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, openssl")
# Chinese glyphs, the effects' symbols and Qt's own Chinese texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, fonts-symbola, qt6-translations-l10n")

# Debian wants the licence as the package's copyright file.
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/taptempest"
        RENAME copyright)

include(CPack)
