# A test-only kit whose setup entry can end the process at a numbered engine call
# (testapps/kill_point_entry.cpp). scripts/pack --kit build/killpoint/kit links packages
# from it; nothing of it goes to build/out/.
set(KILLPOINT_KIT_DIR ${CMAKE_BINARY_DIR}/killpoint/kit)
add_library(velmora_kill_point_entry OBJECT testapps/kill_point_entry.cpp)
target_compile_definitions(velmora_kill_point_entry PRIVATE VELMORA_MAINTENANCE=0)
target_include_directories(velmora_kill_point_entry PRIVATE ${CMAKE_SOURCE_DIR})

add_custom_command(
  OUTPUT ${KILLPOINT_KIT_DIR}/setup_entry.obj ${KILLPOINT_KIT_DIR}/libvelmora_setup.a
         ${KILLPOINT_KIT_DIR}/resources.stamp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KILLPOINT_KIT_DIR}/resources
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:velmora_setup> ${KILLPOINT_KIT_DIR}/libvelmora_setup.a
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_OBJECTS:velmora_kill_point_entry> ${KILLPOINT_KIT_DIR}/setup_entry.obj
  COMMAND ${CMAKE_COMMAND} -E copy ${KIT_DIR}/link-libraries.txt ${KILLPOINT_KIT_DIR}/link-libraries.txt
  COMMAND ${CMAKE_COMMAND} -E copy ${DELAY_IMPORT_LIBRARIES} ${KILLPOINT_KIT_DIR}/
  COMMAND ${CMAKE_COMMAND} -E copy ${setup_resources} ${KILLPOINT_KIT_DIR}/resources/
  COMMAND ${CMAKE_COMMAND} -E touch ${KILLPOINT_KIT_DIR}/resources.stamp
  DEPENDS velmora_setup $<TARGET_OBJECTS:velmora_kill_point_entry> ${setup_resources}
          ${KIT_DIR}/link-libraries.txt delay_import_libraries ${DELAY_IMPORT_LIBRARIES}
  COMMAND_EXPAND_LISTS
  COMMENT "Preparing the kill-point test kit")
add_custom_target(killpoint_kit ALL DEPENDS ${KILLPOINT_KIT_DIR}/setup_entry.obj
                                            ${KILLPOINT_KIT_DIR}/libvelmora_setup.a
                                            ${KILLPOINT_KIT_DIR}/resources.stamp)
# The object is a file dependency only; without this, make may copy it before recompiling it.
add_dependencies(killpoint_kit velmora_kill_point_entry)
