# The Debian package: `cpack -G DEB` in the build folder makes quelbarin_<version>-<release>_<arch>.deb
# holding what `cmake --install` puts under /usr (programs, private module folder, desktop entry,
# icons, help page), the manual pages and the copyright file, plus the Debian changelog that only
# the package carries. Dependencies come from dpkg-shlibdeps, run on the programs and on the
# modules alike: the programs load the modules with dlopen, so only the modules' own links name
# libmpg123, libsoxr and libgsm.

set(QD_PACKAGE_MAINTAINER "Quelbarin Decoder developers <maintainers@quelbarin.invalid>"
    CACHE STRING "Maintainer field of the Debian package (name <address>)")
set(QD_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the package (the part after the '-')")

# Manual pages, compressed at build time with the best compression and neither name nor time
# stamp (gzip -9n), so that two builds give the same bytes. The converter depends on its page so
# that building just the programs still leaves every installed file in place.
find_program(QD_GZIP gzip REQUIRED)
set(_qd_man_sources docs/quelbarin-convert.1)
if(QD_BUILD_GUI AND TARGET quelbarin)
  list(APPEND _qd_man_sources docs/quelbarin.1)
endif()
set(_qd_man_pages)
foreach(_qd_page IN LISTS _qd_man_sources)
  get_filename_component(_qd_name ${_qd_page} NAME)
  set(_qd_plain ${CMAKE_BINARY_DIR}/man/${_qd_name})
  add_custom_command(
    OUTPUT ${_qd_plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${_qd_page} ${_qd_plain}
    COMMAND ${QD_GZIP} -9nf ${_qd_plain}
    DEPENDS ${PROJECT_SOURCE_DIR}/${_qd_page}
    COMMENT "Compressing the manual page ${_qd_name}"
    VERBATIM)
  list(APPEND _qd_man_pages ${_qd_plain}.gz)
endforeach()
add_custom_target(man-pages ALL DEPENDS ${_qd_man_pages})
add_dependencies(quelbarin-convert man-pages)
install(FILES ${_qd_man_pages} DESTINATION share/man/man1)
install(FILES cmake/debian/copyright DESTINATION share/doc/quelbarin)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quelbarin)
set(CPACK_PACKAGE_VENDOR "Quelbarin Decoder developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QD_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MP3 to WAV converter with a window and a command-line tool")
# Paragraphs are separated by an empty line; CPack indents the lines and writes the " ." lines.
set(CPACK_PACKAGE_DESCRIPTION
    "Quelbarin Decoder turns MPEG audio files (MP3, MP2, MP1) into 16-bit PCM WAV
files whose samples are those that mpg123 decodes.

The window (quelbarin, in Brazilian Portuguese, or in English on an English
desktop) converts one file per click, can scale the result to full scale, and
plays files with level meters.

The command-line converter (quelbarin-convert) converts files and whole
folders several at a time, never replaces an existing file unless asked to,
and also turns ADPCM, G.711, GSM, 24-bit, 32-bit and floating-point WAV files
into 16-bit PCM.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QD_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QD_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(QD_BUILD_GUI AND TARGET quelbarin)
  # Qt's own dialogs (file chooser, message boxes) in Brazilian Portuguese.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
endif()

# Read by cmake/DebianPackageFiles.cmake while CPack stages the package.
set(CPACK_QD_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
set(CPACK_QD_WORK_DIR ${CMAKE_BINARY_DIR}/debian)
set(CPACK_INSTALL_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianPackageFiles.cmake)

include(CPack)
