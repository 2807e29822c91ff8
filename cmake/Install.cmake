# Installation and the Debian package.
#
#   <prefix>/bin/tarvex, <prefix>/bin/tarvex-cli
#   <prefix>/share/applications/tarvex.desktop
#   <prefix>/share/icons/hicolor/{16..256}x{..}/apps/tarvex.png, scalable/apps/tarvex.svg
#   <prefix>/share/tarvex/workspace/   the template of a user's first workspace
#
# The build tree gets the same share/ folder beside bin/, so build/bin/tarvex without
# --workspace behaves like an installed program (the workspace goes to $XDG_DATA_HOME/tarvex).
include(GNUInstallDirs)

set(TARVEX_SHARE_DIR ${CMAKE_BINARY_DIR}/share)
set(TARVEX_TEMPLATE_DIR ${TARVEX_SHARE_DIR}/tarvex/workspace)

# ---- workspace template ----------------------------------------------------------------------
# The demo workspace without its tasks (editor pages, publish modules, an empty log folder so the
# run log is on), plus the word libraries and the keyword dictionary built from Debian's
# python3-jieba. The task catalogue is made by the program at first start.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB_RECURSE _tarvex_template_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/demo/workspace/*")
set(_tarvex_template_stamp ${CMAKE_BINARY_DIR}/workspace-template.stamp)
add_custom_command(OUTPUT ${_tarvex_template_stamp}
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR}/demo/workspace -DTARGET=${TARVEX_TEMPLATE_DIR}
          -P ${CMAKE_SOURCE_DIR}/cmake/MakeWorkspaceTemplate.cmake
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/demo/prepare-workspace ${TARVEX_TEMPLATE_DIR}
  COMMAND ${CMAKE_COMMAND} -E touch ${_tarvex_template_stamp}
  DEPENDS ${CMAKE_SOURCE_DIR}/demo/prepare-workspace ${CMAKE_SOURCE_DIR}/cmake/MakeWorkspaceTemplate.cmake
          ${_tarvex_template_sources}
  COMMENT "Workspace template (editor pages, publish modules, word libraries, keyword dictionary)"
  VERBATIM)
add_custom_target(tarvex_workspace_template ALL DEPENDS ${_tarvex_template_stamp})
install(DIRECTORY ${TARVEX_TEMPLATE_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/workspace COMPONENT cli)

install(TARGETS tarvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)

# ---- desktop program -------------------------------------------------------------------------
if(TARGET tarvex)
  install(TARGETS tarvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/tarvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT gui)
  # PNG sizes rendered from the one SVG drawing with libvips' command line.
  find_program(TARVEX_VIPS vips REQUIRED)
  set(_tarvex_icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(_dir ${TARVEX_SHARE_DIR}/icons/hicolor/${size}x${size}/apps)
    add_custom_command(OUTPUT ${_dir}/tarvex.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${TARVEX_VIPS} thumbnail ${CMAKE_SOURCE_DIR}/packaging/tarvex.svg ${_dir}/tarvex.png ${size}
      DEPENDS ${CMAKE_SOURCE_DIR}/packaging/tarvex.svg
      VERBATIM)
    list(APPEND _tarvex_icons ${_dir}/tarvex.png)
    install(FILES ${_dir}/tarvex.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      COMPONENT gui)
  endforeach()
  add_custom_target(tarvex_icons ALL DEPENDS ${_tarvex_icons})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/tarvex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    COMPONENT gui)
  # The user guide the program opens with F1 (found relative to the installed executable).
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/guide/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex/guide COMPONENT gui)
endif()

# ---- Debian package --------------------------------------------------------------------------
# `cpack -G DEB` in a build folder (the release preset is the one to ship). The library
# dependencies are read from the executables by dpkg-shlibdeps; the packages below are used
# without being linked: Qt's platform plug-ins, the face for Chinese watermark text, and Qt's
# own Chinese dialog texts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tarvex采集器 web-content collector and publisher")
set(CPACK_PACKAGE_DESCRIPTION "Collects articles from web sites by rules (list pages, content fields,
pagination, attachments) and publishes them into your own CMS through an interface script.
Includes the desktop program (tarvex) and a command line for servers (tarvex-cli);
examples for systemd, containers and Kubernetes are in /usr/share/doc/tarvex/examples.")
set(CPACK_PACKAGE_CONTACT "Tarvex developers <tarvex@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei")
if(TARGET tarvex)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-wayland")
endif()
include(CPack)

# The README and the server examples (systemd units, container file, Kubernetes CronJob).
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex COMPONENT cli)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/deploy/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex/examples COMPONENT cli)

# The WordPress side: the plugin's folder and zip (for wp-admin's "上传插件"), built from
# interface/wordpress at build time, and the plain interface script with its sample settings.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  set(_wp_sources ${CMAKE_SOURCE_DIR}/interface/wordpress/tarvex.php
    ${CMAKE_SOURCE_DIR}/interface/wordpress/plugin/tarvex-publisher.php
    ${CMAKE_SOURCE_DIR}/interface/wordpress/plugin/uninstall.php
    ${CMAKE_SOURCE_DIR}/interface/wordpress/plugin/readme.txt)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/wordpress/tarvex-publisher.zip
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wordpress-plugin ${CMAKE_BINARY_DIR}/wordpress
    DEPENDS ${_wp_sources} ${CMAKE_SOURCE_DIR}/scripts/wordpress-plugin
    COMMENT "WordPress plugin tarvex-publisher.zip" VERBATIM)
  add_custom_target(wordpress_plugin ALL DEPENDS ${CMAKE_BINARY_DIR}/wordpress/tarvex-publisher.zip)
  install(FILES ${CMAKE_BINARY_DIR}/wordpress/tarvex-publisher.zip DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/wordpress
    COMPONENT cli)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/wordpress/tarvex-publisher DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/wordpress
    COMPONENT cli)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/interface/wordpress/tarvex.php ${CMAKE_SOURCE_DIR}/interface/wordpress/tarvex-config-sample.php
  ${CMAKE_SOURCE_DIR}/interface/wordpress/wordpress-module.txt ${CMAKE_SOURCE_DIR}/interface/wordpress/README.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/wordpress COMPONENT cli)

# The plug-in interface for people writing their own plug-ins.
install(FILES ${CMAKE_SOURCE_DIR}/src/platform/tarvex_plugin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvex
  COMPONENT cli)

if(TARVEX_BUILD_TESTS)
  # Installs the build into a DESTDIR and starts the installed tarvex-cli there.
  add_test(NAME installed_tree
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install/installed_tree.sh ${CMAKE_BINARY_DIR} ${CMAKE_COMMAND})
  # Builds deploy/container/Containerfile where a container engine exists; skipped elsewhere.
  add_test(NAME container_image COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install/container_build.sh ${CMAKE_SOURCE_DIR})
  set_tests_properties(container_image PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 3600)
endif()
