# What "cmake --install build --prefix PREFIX" puts where, and the Debian
# package made of it ("cpack" in the build directory, after
# "cmake --build build --target programs").
#
# The game finds its data from its own executable: PREFIX/bin/torvane looks
# in PREFIX/share/torvane. So these two directories are fixed, whatever
# GNUInstallDirs would choose.
set(TORVANE_INSTALL_BIN bin)
set(TORVANE_INSTALL_DATA share/torvane)

# Everything the installation needs, without the tests and benchmarks; the
# install and package steps build nothing themselves (a package must not
# wait for seventy test programs).
# Manual pages go in compressed, as Debian's policy asks (-n: no time stamp,
# so the package is the same from one build to the next).
set(TORVANE_MAN_PAGES)
foreach(page torvane torvane-server torvane-race)
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.6.gz)
  add_custom_command(OUTPUT ${gz}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/dist/man/${page}.6 > ${gz}
                     DEPENDS ${CMAKE_SOURCE_DIR}/dist/man/${page}.6 VERBATIM)
  list(APPEND TORVANE_MAN_PAGES ${gz})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${TORVANE_MAN_PAGES})
add_custom_target(programs DEPENDS torvane torvane-server torvane-race torvane_data reference_demo man_pages)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

install(TARGETS torvane torvane-server torvane-race RUNTIME DESTINATION ${TORVANE_INSTALL_BIN})
install(FILES ${CMAKE_BINARY_DIR}/bin/torvane.saf tools/server/torvane-server.cfg
        DESTINATION ${TORVANE_INSTALL_DATA})
# The reference demo shows in the Playback Race list and is what
# --timedemo measures.
install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/demos DESTINATION ${TORVANE_INSTALL_DATA}
        FILES_MATCHING PATTERN "*.qxdemo")
install(FILES dist/${TORVANE_APP_ID}.desktop DESTINATION share/applications)
install(FILES dist/${TORVANE_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${TORVANE_ICON} DESTINATION share/icons/hicolor/256x256/apps)
install(FILES ${TORVANE_MAN_PAGES} DESTINATION share/man/man6)
# The service unit names the server by its installed path, known only at
# install time (--prefix may differ from the configured prefix).
install(CODE "
  file(READ \"${CMAKE_SOURCE_DIR}/tools/server/torvane-server.service\" unit)
  string(REPLACE \"/usr/bin/torvane-server\" \"\${CMAKE_INSTALL_PREFIX}/${TORVANE_INSTALL_BIN}/torvane-server\" unit \"\${unit}\")
  set(path \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/torvane-server.service\")
  message(STATUS \"Installing: \${path}\")
  file(WRITE \"\${path}\" \"\${unit}\")
")

# The Debian package. The programs need these at run time (objdump -p on
# the game, the server and the race runner: libOpenGL.so.0 is linked, and
# SDL opens libGL.so.1 for its GLX context); FreeType is only the data
# builder's. Mesa's drivers are what most machines render with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VERSION ${TORVANE_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "motocross racing simulator")
set(CPACK_PACKAGE_DESCRIPTION
    "A physically simulated dirt bike on a deformable track, robot riders, demos,\n online races and synthesised engine sound. Includes the race server and the\n window-less race runner.")
set(CPACK_PACKAGE_CONTACT "Torvane maintainers <maintainers@users.noreply.c-seed-16b900ca.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libgcc-s1, libode8, libsdl2-2.0-0, libpng16-16, zlib1g, libopengl0, libgl1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri")
include(CPack)
