# The documents every installed tree carries (copyright, changelog, manual
# pages), and the Debian package that `make package` (cpack -G DEB) builds
# from the install rules.

set(QLS_PACKAGE_NAME qlsdownloader)
set(QLS_MAINTAINER "Orvane Inc. downloader team <downloader@orvane.example>")
set(QLS_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${QLS_PACKAGE_NAME})

# Debian wants the changelog and the manual pages compressed without a time
# stamp, so that two builds give the same bytes.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(page IN ITEMS ${CMAKE_BINARY_DIR}/packaging/changelog ${PROJECT_SOURCE_DIR}/packaging/man/qlsdownloader.1
                      ${PROJECT_SOURCE_DIR}/packaging/man/qlsdownloader-cli.1)
  get_filename_component(name ${page} NAME)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/${name}.gz
    COMMAND ${GZIP_PROGRAM} -9nc ${page} > ${CMAKE_BINARY_DIR}/packaging/${name}.gz
    DEPENDS ${page}
    COMMENT "Compressing ${name}")
  list(APPEND compressed ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
endforeach()
add_custom_target(qls_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${QLS_DOCDIR})
install(FILES ${CMAKE_BINARY_DIR}/packaging/qlsdownloader.1.gz ${CMAKE_BINARY_DIR}/packaging/qlsdownloader-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QLS_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane Inc.")
set(CPACK_PACKAGE_CONTACT ${QLS_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "downloader and installer of the game's installation package")
set(CPACK_PACKAGE_DESCRIPTION
    "Brightholm DownLoader fetches the game's list of package files from the
publisher's server, learns their sizes, downloads them into a folder of the
player's choice (directly over HTTP with retries, mirrors and redirects) and
runs the downloaded installer.
.
The package holds the window (qlsdownloader), with its desktop entry and
icons, and qlsdownloader-cli, a command-line front end for scripts and
machines without a display.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QLS_MAINTAINER})
# A network tool that fetches a game, not a game itself.
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Runtime dependencies come from the shared libraries the programs link;
# the project's own libraries are private to the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
# The Traditional-Chinese texts need a font that has them; Windows
# installers run through wine.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
