# The Debian package: `cpack -G DEB` in the build folder packs what
# `cmake --install` installs. Library dependencies come from the binaries;
# the SoundFont and Qt's display plugins are named because nothing links them.
include(GNUInstallDirs)
set(CPACK_PACKAGE_NAME qorn)
set(CPACK_PACKAGE_VENDOR "The Qor_n developers")
# The project has no mail address; packaging/lintian-overrides says so.
set(CPACK_PACKAGE_CONTACT "The Qor_n developers <qorn@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for DirectMusic segment files and Standard MIDI Files")
# The extended description, under the summary; a lone "." is an empty line,
# and no other line may start with one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Qor_n is a small single-window player for DirectMusic segment files
(.sgt, .sgp), the interactive music of many Windows games of the DirectX 6
to 9 years, and for Standard MIDI Files. A file dropped on the window or opened
plays at once, on the built-in software synthesizer (FluidSynth with a
General MIDI SoundFont or a DLS collection such as gm.dls) or on a MIDI
output port of the machine.
.
It plays segments composed from styles, chord maps and motifs with the DLS
instruments and waves they bring, sets loop count, tempo and volume, answers
the desktop's media keys (MPRIS), and hands a file opened from the file
manager to the copy already running.
.
qorn-render writes a piece to WAV, FLAC, Ogg Vorbis or a MIDI file, as fast
as the machine allows.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QORN_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# FluidSynth and the sound server's client are opened at run time
# (platform/runtime), so the library scan does not see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libfluidsynth3 (>= 2.2), libpulse0, fluid-soundfont-gm | timgm6mb-soundfont | musescore-general-soundfont-small, qt6-qpa-plugins, shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, dbus-user-session")

# What Debian asks of every package: the licence, the changelog and the
# lintian overrides with their reasons.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/packaging/changelog
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qorn)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME qorn)
# Manual pages and the changelog compressed as Debian wants them (gzip -9n:
# smallest, no name or time stamp inside), whoever installed them.
install(
  CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB pages "${root}/share/man/man1/*.1")
  foreach(f IN LISTS pages ITEMS "${root}/share/doc/qorn/changelog")
    if(EXISTS "${f}")
      execute_process(COMMAND gzip -9nf "${f}" RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "gzip ${f} failed")
      endif()
    endif()
  endforeach()
]])
include(CPack)
