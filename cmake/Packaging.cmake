# `cpack -G DEB` in the build folder turns the installed layout into a Debian package. The
# shared libraries the program links are found by dpkg-shlibdeps and declared as dependencies;
# what it only starts at run time (a PDF viewer through xdg-open) is recommended.
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control a DAW from a digital mixing console")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillon is a tray application that translates MIDI between a digital mixing console, reached over the network or through MIDI ports, and a DAW, which sees it as virtual MIDI ports.")
set(CPACK_PACKAGE_CONTACT "Corvane <support@corvane.com>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "a2jmidid")
include(CPack)
