# What `cmake --install` puts where, and the Debian package of it all
# (`cmake --build build --target package`):
#
#   bin/                      pck-host, qir-unit-sim, qir-records,
#                             vxqir-stream-example, qir-pck-check,
#                             qir-replay, qir-gen
#   lib/                      libvxqir.so (unit_api/), lib/pkgconfig/vxqir.pc,
#                             lib/cmake/vxqir/ (find_package(vxqir))
#   lib/qir-varnel/           the packages (.pck, qir_players.pck included);
#                             pck-host looks here
#   include/                  VXQIRApi.h, VXQIRApiProgress.h, VXQIRApiBatch.h
#   lib/python3/dist-packages/qir/
#                             the Python package qir for Debian's Python 3
#                             (python/, when it is built)
#   share/doc/qir-varnel/     the READMEs (README.<program>.md, README.unit-client.md,
#                             README.image-converter.md), the C example, example graphs
#   lib/<multiarch>/wireshark/plugins/
#                             qir.lua, the Wireshark dissector (Wireshark's
#                             global Lua plugin folder on Debian)
#
# The package's library dependencies are computed by dpkg-shlibdeps; the
# programs it runs are named: iputils-ping for the library's reachability
# probe (ping).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

foreach(program pck-host qir-unit-sim qir-records vxqir-stream-example qir-pck-check qir-replay qir-gen)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
foreach(package tavrik_qir_varnel host_test_components qir_players)
  if(TARGET ${package})
    install(FILES $<TARGET_FILE:${package}> DESTINATION ${CMAKE_INSTALL_LIBDIR}/qir-varnel)
  endif()
endforeach()

if(TARGET vxqir)
  set(vxqir_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vxqir)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/vxqirConfig.cmake.in ${CMAKE_BINARY_DIR}/vxqirConfig.cmake @ONLY)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/vxqirConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/vxqirConfig.cmake ${CMAKE_BINARY_DIR}/vxqirConfigVersion.cmake
          DESTINATION ${vxqir_config_dir})
endif()

set(qir_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/qir-varnel)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${qir_doc_dir})
foreach(readme package host)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${readme}/README.md)
    install(FILES ${PROJECT_SOURCE_DIR}/${readme}/README.md DESTINATION ${qir_doc_dir} RENAME README.${readme}.md)
  endif()
endforeach()
if(TARGET qir-replay)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/qir_replay/README.md DESTINATION ${qir_doc_dir} RENAME README.qir-replay.md)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/recording-formats.md DESTINATION ${qir_doc_dir})
endif()
# The READMEs of the programs and of the package's components, named after
# what they describe.
foreach(documented "qir-unit-sim tools/qir_unit_sim" "qir-records tools/qir_records")
  separate_arguments(documented)
  list(GET documented 0 program)
  list(GET documented 1 folder)
  if(TARGET ${program})
    install(FILES ${PROJECT_SOURCE_DIR}/${folder}/README.md DESTINATION ${qir_doc_dir} RENAME README.${program}.md)
  endif()
endforeach()
if(TARGET tavrik_qir_varnel)
  install(FILES ${PROJECT_SOURCE_DIR}/components/unit_client/README.md DESTINATION ${qir_doc_dir}
          RENAME README.unit-client.md)
  install(FILES ${PROJECT_SOURCE_DIR}/components/image_converter/README.md DESTINATION ${qir_doc_dir}
          RENAME README.image-converter.md)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/examples/stream_frames.c DESTINATION ${qir_doc_dir}/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/examples/ DESTINATION ${qir_doc_dir}/examples FILES_MATCHING
        PATTERN "*.toml")

# Wireshark loads every Lua file of its global plugin folder at start; on
# Debian that is /usr/lib/<multiarch>/wireshark/plugins (`tshark -G folders`).
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(qir_wireshark_plugin_dir lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
else()
  set(qir_wireshark_plugin_dir lib/wireshark/plugins)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/qir.lua DESTINATION ${qir_wireshark_plugin_dir})
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/README.md DESTINATION ${qir_doc_dir} RENAME README.wireshark.md)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qir-varnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Replays recorded camera data into QIR sensor-injection units (client library, engine package, tools)")
set(CPACK_PACKAGE_CONTACT "QIR replay team <qir-replay@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds: VXQIR_IsInputInterfaceAvailable runs ping.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iputils-ping")
# The Python package qir runs on Debian's Python 3; its tests and examples
# use numpy and pytest.
if(TARGET qir_python_module)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3 (>= 3.11), python3-numpy, python3-pytest")
endif()
# libvxqir.so.3 is in the package itself: dpkg-shlibdeps finds it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
