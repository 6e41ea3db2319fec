# Installation and packages, with CMake's own means: `cmake --install` lays the program out in
# the usual places, CPack makes a Debian package on Linux and a zip on Windows.

set(FW_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/res/packaging)

set(CPACK_PACKAGE_NAME fablewright-update)
set(CPACK_PACKAGE_VENDOR "Corvallen")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update downloader for Fablewright templates")
set(CPACK_PACKAGE_CONTACT "Corvallen Packaging <packages@corvallen.com>")
set(CPACK_STRIP_FILES ON)
# Checked when the package is made, not when the build is configured: developers build without
# keys all the time, a package without them would check nothing on users' machines.
set(CPACK_FW_TRUSTED_KEYS "${FW_TRUSTED_KEYS}")
set(CPACK_FW_ALLOW_UNSIGNED_DEFINITIONS "${FW_ALLOW_UNSIGNED_DEFINITIONS}")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_trust_check.cmake)

if(WIN32)
  # A zip of the program and a short text that says how to use it.
  if(TARGET FablewrightUpdate)
    install(TARGETS FablewrightUpdate RUNTIME DESTINATION .)
  endif()
  file(READ ${FW_PACKAGING_DIR}/README-windows.txt fw_readme)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/packaging/README.txt CONTENT "${fw_readme}"
       NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME FablewrightUpdate-${PROJECT_VERSION}-windows)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)
set(fw_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})

if(TARGET fablewright-update)
  install(TARGETS fablewright-update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET fablewright-publish)
  install(TARGETS fablewright-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${FW_PACKAGING_DIR}/fablewright-update.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
foreach(size 16 32 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icon/fablewright_update_${size}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
          RENAME fablewright-update.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/icon/fablewright_update.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
        RENAME fablewright-update.svg)

# The manual page and the changelog go out compressed, without a name or time stamp in the
# gzip header, so that the same sources make the same package.
find_program(FW_GZIP gzip REQUIRED)
set(fw_gz_dir ${CMAKE_BINARY_DIR}/packaging)
set(fw_gz_files)
foreach(pair "fablewright-update.1:fablewright-update.1.gz"
             "fablewright-publish.1:fablewright-publish.1.gz" "changelog:changelog.gz")
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${fw_gz_dir}/${target}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${fw_gz_dir}
                     COMMAND ${FW_GZIP} -9n -c ${FW_PACKAGING_DIR}/${source} > ${fw_gz_dir}/${target}
                     DEPENDS ${FW_PACKAGING_DIR}/${source} VERBATIM)
  list(APPEND fw_gz_files ${fw_gz_dir}/${target})
endforeach()
add_custom_target(fw_packaging_files ALL DEPENDS ${fw_gz_files})
install(FILES ${fw_gz_dir}/fablewright-update.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET fablewright-publish)
  install(FILES ${fw_gz_dir}/fablewright-publish.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${fw_gz_dir}/changelog.gz ${FW_PACKAGING_DIR}/copyright DESTINATION ${fw_docdir})

# The daily notifying check: a systemd user service and its timer, enabled for every user by
# the package's own link in the user units' timers.target.wants (a user turns it off with
# `systemctl --user mask`, an administrator for everyone with `systemctl --global mask`).
set(fw_user_units lib/systemd/user)
install(FILES ${FW_PACKAGING_DIR}/fablewright-update.service
              ${FW_PACKAGING_DIR}/fablewright-update.timer DESTINATION ${fw_user_units})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/timers.target.wants)
file(CREATE_LINK ../fablewright-update.timer
     ${CMAKE_BINARY_DIR}/packaging/timers.target.wants/fablewright-update.timer SYMBOLIC)
install(DIRECTORY ${CMAKE_BINARY_DIR}/packaging/timers.target.wants DESTINATION ${fw_user_units})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary first; this is the extended description, lines under 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Brings the templates of an installed copy of Fablewright up to date: it\n"
    "checks the maker's update server, downloads one updater per template that\n"
    "can be updated and runs them one after the other. Besides its window it has\n"
    "a quiet check for the tool and an unattended mode for administrators.")
include(CPack)
