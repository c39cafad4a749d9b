# The Debian package: cpack -G DEB in the build folder.

set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VENDOR "Quorvex developers")
set(CPACK_PACKAGE_VERSION
    "${QUORVEX_VERSION_MAJOR}.${QUORVEX_VERSION_MINOR}.${QUORVEX_VERSION_PATCH}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small editor for plain text files")
# Lines under 80 columns, as apt shows them; CPack indents each and marks the empty one.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quorvex is a small desktop editor for plain text files.\n"
    "One window holds the text; the File menu creates, opens and saves\n"
    "documents, the Edit menu copies, cuts, pastes and selects text and\n"
    "chooses the font and colour the whole text is shown in, the Search menu\n"
    "finds and replaces text and goes to a line, and the View menu turns word\n"
    "wrap and the status bar on and off.\n"
    "\n"
    "It keeps no settings and takes no command-line arguments.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# Only the binary package is made here; keep build folders out of a source package anyway.
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvex developers <developers@quorvex.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
find_program(QUORVEX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QUORVEX_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4)")
endif()

include(CPack)
