# The package builder's kit (everything scripts/pack links a setup package from) and
# the sample package build/out/VelmoraSetup.exe.
set(KIT_DIR ${CMAKE_BINARY_DIR}/kit)
file(GLOB setup_resources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/setup/resources/*)
# Names for -l; the delay-import libraries lie in the kit itself.
string(REPLACE ";" " " kit_libraries "${DELAY_IMPORT_NAMES};${SETUP_KNOWN_DLLS}")
file(GENERATE OUTPUT ${KIT_DIR}/link-libraries.txt CONTENT "${kit_libraries}\n")

add_custom_command(
  OUTPUT ${KIT_DIR}/libvelmora_setup.a ${KIT_DIR}/setup_entry.obj ${KIT_DIR}/resources.stamp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KIT_DIR}/resources
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:velmora_setup> ${KIT_DIR}/libvelmora_setup.a
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_OBJECTS:velmora_setup_entry> ${KIT_DIR}/setup_entry.obj
  COMMAND ${CMAKE_COMMAND} -E copy ${setup_resources} ${KIT_DIR}/resources/
  COMMAND ${CMAKE_COMMAND} -E touch ${KIT_DIR}/resources.stamp
  DEPENDS velmora_setup $<TARGET_OBJECTS:velmora_setup_entry> ${setup_resources}
  COMMAND_EXPAND_LISTS
  COMMENT "Preparing the package builder's kit")
add_custom_target(setup_kit ALL DEPENDS ${KIT_DIR}/libvelmora_setup.a ${KIT_DIR}/setup_entry.obj
                                        ${KIT_DIR}/resources.stamp)

# The sample payload: the placeholder application, both programs of this project and
# a few data files in nested folders.
set(SAMPLE_PAYLOAD ${CMAKE_BINARY_DIR}/sample/payload)
file(GLOB_RECURSE sample_data CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sample/data/*)
# The sample's runtime is the stand-in installer, described for the server scripts/demo
# starts on port 47443.
set(SAMPLE_DESCRIPTOR ${CMAKE_BINARY_DIR}/sample/runtime-descriptor.txt)
set(SAMPLE_RUNTIME ${CMAKE_BINARY_DIR}/sample/runtime-server/windowsdesktop-runtime-8.0.11-win-x64.exe)
add_custom_command(
  OUTPUT ${SAMPLE_DESCRIPTOR} ${SAMPLE_RUNTIME}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:runtime_installer_ok> ${SAMPLE_RUNTIME}
  COMMAND ${CMAKE_COMMAND} -DINSTALLER=${SAMPLE_RUNTIME}
          -DURL=https://localhost:47443/windowsdesktop-runtime-8.0.11-win-x64.exe
          -DOUTPUT=${SAMPLE_DESCRIPTOR} -P ${CMAKE_SOURCE_DIR}/cmake/write-runtime-descriptor.cmake
  DEPENDS runtime_installer_ok ${CMAKE_SOURCE_DIR}/cmake/write-runtime-descriptor.cmake
  COMMENT "Describing the sample's stand-in runtime installer")
# The list of names is a dependency too: a renamed or removed file keeps no newer
# timestamp behind, yet must repack. Rewritten only when the list changes.
string(REPLACE ";" "\n" sample_listing "${sample_data}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/sample/data-files.txt CONTENT "${sample_listing}\n" @ONLY)
add_custom_command(
  OUTPUT ${OUT_DIR}/VelmoraSetup.exe
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SAMPLE_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SAMPLE_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/sample/data ${SAMPLE_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:velmora_placeholder_app> ${SAMPLE_PAYLOAD}/Velmora.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:velmora_uninstaller> ${SAMPLE_PAYLOAD}/Uninstall.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:velmora_maintenance> ${SAMPLE_PAYLOAD}/Velmora.Maintenance.exe
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/pack --kit ${KIT_DIR} --payload ${SAMPLE_PAYLOAD}
          --runtime-descriptor ${SAMPLE_DESCRIPTOR} --output ${OUT_DIR}/VelmoraSetup.exe
  DEPENDS setup_kit ${KIT_DIR}/libvelmora_setup.a ${KIT_DIR}/setup_entry.obj ${KIT_DIR}/resources.stamp
          velmora_placeholder_app velmora_uninstaller velmora_maintenance ${sample_data}
          ${CMAKE_BINARY_DIR}/sample/data-files.txt
          ${SAMPLE_DESCRIPTOR} ${CMAKE_SOURCE_DIR}/scripts/pack
  COMMENT "Packing the sample setup package")
add_custom_target(sample_package ALL DEPENDS ${OUT_DIR}/VelmoraSetup.exe)
