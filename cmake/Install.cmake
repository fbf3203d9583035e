# `cmake --install` puts the library where other projects find it: the headers under
# include/quillpack (with the same folders as src/), the static library, the tool, a CMake package
# (find_package(Quillpack) gives Quillpack::core) and a pkg-config file (quillpack.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUILLPACK_INCLUDE_SUBDIR ${CMAKE_INSTALL_INCLUDEDIR}/quillpack)
set(QUILLPACK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quillpack)

set_target_properties(quillpack_core PROPERTIES EXPORT_NAME core)
install(TARGETS quillpack_core EXPORT QuillpackTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${QUILLPACK_INCLUDE_SUBDIR})
install(TARGETS quillpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY src/ DESTINATION ${QUILLPACK_INCLUDE_SUBDIR} FILES_MATCHING PATTERN "*.h")

install(EXPORT QuillpackTargets NAMESPACE Quillpack:: DESTINATION ${QUILLPACK_CMAKE_DIR})
configure_package_config_file(cmake/QuillpackConfig.cmake.in ${PROJECT_BINARY_DIR}/QuillpackConfig.cmake
                              INSTALL_DESTINATION ${QUILLPACK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuillpackConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuillpackConfig.cmake ${PROJECT_BINARY_DIR}/QuillpackConfigVersion.cmake
        DESTINATION ${QUILLPACK_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so the install can move (`cmake --install --prefix`).
file(RELATIVE_PATH QUILLPACK_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(cmake/quillpack.pc.in ${PROJECT_BINARY_DIR}/quillpack.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quillpack.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The licences travel with every install: ours, and those of the libraries the tool runs with.
install(FILES LICENSE THIRD-PARTY-NOTICES DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillpack)
# The manual page and the bash completion, where man and bash-completion look for them below the prefix.
if(NOT WIN32)
  install(FILES doc/quillpack.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completion/quillpack.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME quillpack)
endif()
