# Delay-import libraries for the system DLLs that are not among Windows' KnownDLLs.
# A plain import of such a DLL is resolved by the loader before wWinMain runs, and the
# program's own folder comes first in that search: a DLL planted beside a temporary
# copy of an elevated program would be loaded. Delay-loaded, the DLL is loaded at its
# first call through LoadLibrary, which honours SetDefaultDllDirectories.
# Sets DELAY_IMPORT_LIBRARIES (full paths) and DELAY_IMPORT_NAMES (for -l).
set(DELAY_IMPORT_DIR ${CMAKE_BINARY_DIR}/kit)
set(DELAY_IMPORT_LIBRARIES "")
set(DELAY_IMPORT_NAMES "")
foreach(dll ${SETUP_DELAYED_DLLS})
  find_library(import_library_${dll} NAMES lib${dll}.a REQUIRED)
  execute_process(COMMAND ${triple}-nm -g --defined-only ${import_library_${dll}}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  # Functions only: an import without code behind it is data and cannot be delayed.
  string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z0-9_@]+" functions "${symbols}")
  list(TRANSFORM functions REPLACE "^[0-9a-f]+ T " "")
  list(SORT functions)
  list(REMOVE_DUPLICATES functions)
  string(REPLACE ";" "\n  " exports "${functions}")
  set(def ${DELAY_IMPORT_DIR}/delay-${dll}.def)
  set(library ${DELAY_IMPORT_DIR}/libvelmora_delay_${dll}.a)
  # Rewritten only when it changes, so that a new configure does not relink everything.
  file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY ${dll}.dll\nEXPORTS\n  ${exports}\n" @ONLY)
  # Run inside the kit with plain names: dlltool names its members after the output
  # path, and the build folder's path must not reach the programs.
  add_custom_command(OUTPUT ${library}
    COMMAND ${triple}-dlltool --input-def delay-${dll}.def --dllname ${dll}.dll
            --temp-prefix velmora_delay_${dll} --output-delaylib libvelmora_delay_${dll}.a
    WORKING_DIRECTORY ${DELAY_IMPORT_DIR}
    DEPENDS ${def} COMMENT "Delay-import library for ${dll}.dll")
  list(APPEND DELAY_IMPORT_LIBRARIES ${library})
  list(APPEND DELAY_IMPORT_NAMES velmora_delay_${dll})
endforeach()
add_custom_target(delay_import_libraries DEPENDS ${DELAY_IMPORT_LIBRARIES})
