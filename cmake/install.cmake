# Install rules of the Linux build: the programs, the port library for other
# programs (runtime and development parts), the desktop entry, icons and man
# pages. Every file belongs to one component, named after the Debian package
# that carries it, so scripts/package installs each component into its own
# package tree, and a plain `cmake --install` gives the union of the three.
include_guard(GLOBAL)

# The library goes into the multiarch folder whatever the prefix, so that an
# install under any prefix has the same layout as the packages.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}"
      CACHE PATH "Object code libraries (lib/<multiarch triplet>)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LOOPSET_PORTLINK_VERSION 1.0.2)
set(LOOPSET_PORTLINK_SOVERSION 1)

set(loopset_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(portlink_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/portlink)

# libportlink.so.1 is the name programs record; the .so link is only for
# building against it.
set_target_properties(portlink PROPERTIES VERSION ${LOOPSET_PORTLINK_VERSION}
                                          SOVERSION ${LOOPSET_PORTLINK_SOVERSION})
# The header folder in the source tree is for the build only; users of the
# installed library find portlink.h in the include folder.
set_property(TARGET portlink PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/portlink/include>)

# --- loopset: the three programs and what a desktop needs of them ---------
set(loopset_programs loopctl loopsim)
if(TARGET loopset)
  list(PREPEND loopset_programs loopset)
endif()
install(TARGETS ${loopset_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT loopset)

if(TARGET loopset)
  install(FILES ${loopset_packaging_dir}/loopset.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT loopset)
  # Scaled copies of app/qt/icons/loopset.png (scripts/package icons remakes them).
  foreach(size 16 22 24 32 48 64)
    install(FILES ${loopset_packaging_dir}/icons/${size}x${size}/loopset.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT loopset)
  endforeach()
endif()

# Man pages ship compressed, as Debian wants them; gzip -n keeps the bytes
# the same from build to build.
set(loopset_man_pages loopctl.1 loopsim.1)
if(TARGET loopset)
  list(PREPEND loopset_man_pages loopset.1)
endif()
set(loopset_man_outputs)
foreach(page ${loopset_man_pages})
  set(source ${loopset_packaging_dir}/man/${page})
  set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" gzip ${source} ${output}
                     DEPENDS ${source} VERBATIM)
  list(APPEND loopset_man_outputs ${output})
endforeach()
add_custom_target(loopset_man ALL DEPENDS ${loopset_man_outputs})
install(FILES ${loopset_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT loopset)
install(FILES ${PROJECT_SOURCE_DIR}/app/cli/loopctl-completion.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME loopctl
        COMPONENT loopset)

# --- libportlink1 and libportlink-dev --------------------------------------
install(TARGETS portlink EXPORT portlinkTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                COMPONENT libportlink1
                NAMELINK_COMPONENT libportlink-dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/portlink/include/portlink.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT libportlink-dev)

install(EXPORT portlinkTargets NAMESPACE portlink:: DESTINATION ${portlink_cmake_dir}
        COMPONENT libportlink-dev)
configure_package_config_file(${loopset_packaging_dir}/portlinkConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/packaging/portlinkConfig.cmake
                              INSTALL_DESTINATION ${portlink_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/portlinkConfigVersion.cmake
                                 VERSION ${LOOPSET_PORTLINK_VERSION}
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/portlinkConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/portlinkConfigVersion.cmake
        DESTINATION ${portlink_cmake_dir} COMPONENT libportlink-dev)

# portlink.pc names the prefix the files are installed under, which
# `cmake --install --prefix` only tells at install time: write it then, and
# install that copy right after (the rules run in this order).
set(portlink_pc ${CMAKE_BINARY_DIR}/packaging/portlink.pc)
install(CODE "
  set(PORTLINK_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(PORTLINK_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(PORTLINK_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PORTLINK_PC_VERSION \"${LOOPSET_PORTLINK_VERSION}\")
  configure_file(\"${loopset_packaging_dir}/portlink.pc.in\" \"${portlink_pc}\" @ONLY)
" COMPONENT libportlink-dev)
install(FILES ${portlink_pc} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT libportlink-dev)
