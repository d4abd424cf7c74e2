# The Debian package: `cpack -G DEB` in the build folder packs what
# `cmake --install` installs. Library dependencies come from the binaries;
# the SoundFont and Qt's display plugins are named because nothing links them.
set(CPACK_PACKAGE_NAME qorn)
set(CPACK_PACKAGE_VENDOR "Qor_n developers")
set(CPACK_PACKAGE_CONTACT "Qor_n developers <qorn@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Player for DirectMusic segment files and Standard MIDI Files")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fluid-soundfont-gm | timgm6mb-soundfont | musescore-general-soundfont-small, qt6-qpa-plugins, shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, dbus-user-session")
include(CPack)
