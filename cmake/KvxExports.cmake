# The Java natives exported by the Windows launchers. src/natives/jni/exports.txt lists them
# once; this turns the list into the module-definition file of the target's architecture:
# on i686 every name is exported under its stdcall decoration _NAME@COUNT (what a 32-bit Java
# runtime looks up), on x86-64 under the plain name. Nothing else is exported.
set(KVX_EXPORTS_LIST ${CMAKE_SOURCE_DIR}/src/natives/jni/exports.txt)
set(KVX_EXPORTS_DEF ${CMAKE_BINARY_DIR}/generated/kvx-exports.def)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KVX_EXPORTS_LIST})

file(STRINGS ${KVX_EXPORTS_LIST} kvx_export_lines)
set(kvx_def "; Generated from src/natives/jni/exports.txt by cmake/KvxExports.cmake\nEXPORTS\n")
foreach(line IN LISTS kvx_export_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  if(NOT line MATCHES "^(Java_[A-Za-z0-9_]+)[ \t]+([0-9]+)$")
    message(FATAL_ERROR "exports.txt: expected 'Java_NAME BYTES', got '${line}'")
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # In a module-definition file the C symbol's own leading underscore is implied: the
    # internal name NAME@COUNT is the object symbol _NAME@COUNT.
    string(APPEND kvx_def "    _${CMAKE_MATCH_1}@${CMAKE_MATCH_2} = ${CMAKE_MATCH_1}@${CMAKE_MATCH_2}\n")
  else()
    string(APPEND kvx_def "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(GENERATE OUTPUT ${KVX_EXPORTS_DEF} CONTENT "${kvx_def}")

file(GLOB KVX_NATIVES_JNI_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/natives/jni/*.cpp)
set(KVX_LAUNCHER_RC ${CMAKE_SOURCE_DIR}/src/resources/kvx.rc)
get_filename_component(KVX_BINUTILS_PREFIX ${CMAKE_CXX_COMPILER} NAME)
string(REGEX REPLACE "g\\+\\+.*$" "" KVX_BINUTILS_PREFIX ${KVX_BINUTILS_PREFIX})

# kvx_windows_launcher(NAME [CONSOLE] [RESOURCES file.rc] [EXTRA_SOURCES...]): a Windows launcher
# executable with the exported natives, the trimmed C++ runtime and the launcher's resources;
# CONSOLE makes the console-subsystem variant; RESOURCES replaces the launcher's resource script
# with one that includes it (one script, so the linker never has to merge two resource trees:
# it cannot merge one with an empty resource and then drops it); extra sources are added.
function(kvx_windows_launcher name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "CONSOLE" "RESOURCES" "")
  set(rc ${KVX_LAUNCHER_RC})
  if(arg_RESOURCES)
    set(rc ${arg_RESOURCES})
  endif()
  if(arg_CONSOLE)
    set(subsystem "")
    set(link -static -static-libgcc -static-libstdc++ -mconsole)
  else()
    set(subsystem WIN32)
    set(link ${KVX_WIN_LINK})
  endif()
  add_executable(${name} ${subsystem} ${CMAKE_SOURCE_DIR}/src/launcher/main.cpp
                 ${CMAKE_SOURCE_DIR}/src/launcher/win32/StubRuntime.cpp ${KVX_NATIVES_JNI_SOURCES}
                 ${rc} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE kvxcore ${link} -Wl,${KVX_EXPORTS_DEF})
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${KVX_EXPORTS_DEF})
  set_source_files_properties(${rc} TARGET_DIRECTORY ${name} PROPERTIES COMPILE_FLAGS "-c 65001")
  # Every launcher is a stub kvxpack may copy: no link time stamp (equal sources give equal
  # files) and no symbols; the debug information stays beside it as <name>.exe.debug.
  target_compile_options(${name} PRIVATE ${KVX_STUB_FLAGS})
  target_link_options(${name} PRIVATE -Wl,--no-insert-timestamp -Wl,--gc-sections)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${KVX_BINUTILS_PREFIX}objcopy --only-keep-debug $<TARGET_FILE:${name}> $<TARGET_FILE:${name}>.debug
    COMMAND ${KVX_BINUTILS_PREFIX}strip --strip-all $<TARGET_FILE:${name}>
    VERBATIM)
endfunction()
