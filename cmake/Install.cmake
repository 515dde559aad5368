# Installation as a desktop application (cmake --install build, prefix /usr/local
# unless given) and the Debian package (make deb). The program finds its sample
# recording at bin/../share/sayalike, so the data goes under the same prefix.
include(GNUInstallDirs)

set(SAYALIKE_ID org.sayalike.Sayalike)
set(SAYALIKE_HOMEPAGE "https://sayalike.org/" CACHE STRING "The project's home page")
set(SAYALIKE_MAINTAINER "Sayalike developers <developers@sayalike.org>")
# The day the version in project() was released; both change together.
set(SAYALIKE_RELEASE_DATE 2026-12-07)
set(SAYALIKE_RELEASE_DATE_RFC2822 "Mon, 07 Dec 2026 12:00:00 +0000")

set(resources ${CMAKE_SOURCE_DIR}/resources)
set(generated ${CMAKE_BINARY_DIR}/install-files)
configure_file(${resources}/${SAYALIKE_ID}.metainfo.xml.in
  ${generated}/${SAYALIKE_ID}.metainfo.xml @ONLY)
configure_file(${resources}/debian/changelog.in ${generated}/changelog @ONLY)
# Debian wants the changelog compressed, with no time stamp inside; the package
# is native (its version has no Debian revision), so it is changelog.gz.
execute_process(COMMAND gzip -9nf ${generated}/changelog)

install(TARGETS sayalike RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${resources}/${SAYALIKE_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${resources}/sayalike.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${generated}/${SAYALIKE_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES
  ${CMAKE_SOURCE_DIR}/share/sayalike/narrator-sample.mp3
  ${CMAKE_SOURCE_DIR}/share/sayalike/narrator-sample.txt
  DESTINATION ${CMAKE_INSTALL_DATADIR}/sayalike)
install(FILES ${resources}/debian/copyright ${generated}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sayalike)

# Installing, and so packaging, needs the program alone, not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sayalike)
set(CPACK_PACKAGE_VENDOR "The Sayalike developers")
set(CPACK_PACKAGE_CONTACT ${SAYALIKE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pronunciation trainer: listen, repeat and compare")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${SAYALIKE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the decoders and sinks
# and Qt's platform plugins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
# CPack puts the summary above this.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Open a recording of a native speaker, select a phrase on its oscillogram and
press Loop: Sayalike plays the phrase, records you repeating it as soon as you
speak, then plays the narrator and your take one after the other, so you can
compare. A short sample recording comes with it.")
include(CPack)
