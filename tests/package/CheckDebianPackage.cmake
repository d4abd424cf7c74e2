# cmake -DBUILD_DIR=... -DSCRATCH=... -DCPACK=... -DAPP_ID=... -P CheckDebianPackage.cmake
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/out ${SCRATCH}/root)
execute_process(COMMAND ${CPACK} -G DEB -B ${SCRATCH}/out --config ${BUILD_DIR}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}")
endif()
file(GLOB debs ${SCRATCH}/out/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb, found: ${debs}")
endif()
execute_process(COMMAND dpkg-deb -x ${debs} ${SCRATCH}/root RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -x failed: ${err}")
endif()
execute_process(COMMAND dpkg-deb -f ${debs} Depends OUTPUT_VARIABLE depends)

set(missing "")
set(desktopFile usr/share/applications/${APP_ID}.desktop)
set(metainfo usr/share/metainfo/${APP_ID}.metainfo.xml)
foreach(f usr/bin/qorn usr/bin/qorn-render ${desktopFile} ${metainfo} usr/share/mime/packages/qorn.xml
          usr/share/icons/hicolor/scalable/apps/qorn.svg usr/share/icons/hicolor/48x48/apps/qorn.png
          usr/share/icons/hicolor/256x256/apps/qorn.png usr/share/man/man1/qorn.1.gz
          usr/share/man/man1/qorn-render.1.gz usr/share/doc/qorn/copyright usr/share/doc/qorn/changelog.gz)
  if(NOT EXISTS ${SCRATCH}/root/${f})
    list(APPEND missing ${f})
  endif()
endforeach()
foreach(d libfluidsynth libpulse0 fluid-soundfont-gm libqt6widgets6 libqt6dbus6 qt6-qpa-plugins)
  if(NOT depends MATCHES "${d}")
    list(APPEND missing "dependency ${d}")
  endif()
endforeach()
file(READ ${SCRATCH}/root/${desktopFile} desktop)
if(NOT desktop MATCHES "Exec=qorn %f" OR NOT desktop MATCHES "audio/x-directmusic-segment")
  list(APPEND missing "desktop entry with %f and the segment type")
endif()
if(missing)
  message(FATAL_ERROR "the package lacks: ${missing}\nDepends: ${depends}")
endif()

# As a distribution and a software centre look at it: lintian reports no
# error and no warning (overrides carry their reasons), the AppStream data
# and the desktop entry are valid.
execute_process(COMMAND lintian --fail-on error,warning ${debs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lintian:\n${out}")
endif()
execute_process(COMMAND appstreamcli validate --no-net ${SCRATCH}/root/${metainfo} RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate:\n${out}")
endif()
execute_process(COMMAND desktop-file-validate ${SCRATCH}/root/${desktopFile} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate:\n${out}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
message(STATUS "package ok: ${debs}")
