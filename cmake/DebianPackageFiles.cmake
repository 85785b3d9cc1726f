# Run by CPack (CPACK_INSTALL_SCRIPTS) while it stages the Debian package: adds the files that
# only the package carries, which a plain `cmake --install` leaves out.
#  - share/doc/quelbarin/changelog.Debian.gz: cmake/debian/changelog, whose newest entry must
#    name the version being packaged, compressed with gzip -9n.
#  - share/lintian/overrides/quelbarin: cmake/debian/lintian-overrides, when there is one.
# The paths and the version come from the CPACK_* variables that cmake/Packaging.cmake set.

# file(INSTALL) puts its files under $DESTDIR, which CPack points at the staging folder; without
# it they would land in the live system.
if("$ENV{DESTDIR}" STREQUAL "")
  message(FATAL_ERROR "DebianPackageFiles.cmake runs only inside CPack's staging (DESTDIR is empty)")
endif()

set(_qd_version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
file(STRINGS "${CPACK_QD_DEBIAN_DIR}/changelog" _qd_top LIMIT_COUNT 1)
if(NOT _qd_top MATCHES "^${CPACK_PACKAGE_NAME} \\(([^)]+)\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the first line is not an entry header: ${_qd_top}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL _qd_version)
  message(FATAL_ERROR "cmake/debian/changelog: the newest entry is ${CMAKE_MATCH_1}, the package "
                      "is ${_qd_version}; add an entry for ${_qd_version}")
endif()

find_program(_qd_gzip gzip REQUIRED)
file(MAKE_DIRECTORY "${CPACK_QD_WORK_DIR}")
file(COPY_FILE "${CPACK_QD_DEBIAN_DIR}/changelog" "${CPACK_QD_WORK_DIR}/changelog.Debian")
execute_process(COMMAND "${_qd_gzip}" -9nf "${CPACK_QD_WORK_DIR}/changelog.Debian"
                COMMAND_ERROR_IS_FATAL ANY)

set(_qd_prefix "${CPACK_PACKAGING_INSTALL_PREFIX}")
file(INSTALL "${CPACK_QD_WORK_DIR}/changelog.Debian.gz"
     DESTINATION "${_qd_prefix}/share/doc/${CPACK_PACKAGE_NAME}"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(EXISTS "${CPACK_QD_DEBIAN_DIR}/lintian-overrides")
  file(INSTALL "${CPACK_QD_DEBIAN_DIR}/lintian-overrides"
       DESTINATION "${_qd_prefix}/share/lintian/overrides"
       RENAME "${CPACK_PACKAGE_NAME}"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
