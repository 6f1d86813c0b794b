# The Windows builds (mingw-w64), run under Wine.
add_compile_definitions(NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

set(ZV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(ZV_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${ZV_WINE_RUN} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(ZV_WINE_TEST ${CMAKE_BINARY_DIR}/wine-test)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-test.in ${ZV_WINE_TEST} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE_TEST})
set(ZV_WIDL_INCLUDE /usr/include/wine/wine/windows)

# zv_idl(out_var file.idl): type library, header and interface ids from widl.
# Sets <out_var>_TLB, <out_var>_HEADER_DIR and <out_var>_IID_SOURCE.
function(zv_idl out idl)
  get_filename_component(base ${idl} NAME_WE)
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/idl)
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(
    OUTPUT ${dir}/${base}.tlb ${dir}/${base}.h ${dir}/${base}_i.c
    COMMAND ${ZV_WIDL} -I${ZV_WIDL_INCLUDE} -L${ZV_WINE_LIBDIR} -t -o ${dir}/${base}.tlb ${idl_abs}
    COMMAND ${ZV_WIDL} -I${ZV_WIDL_INCLUDE} -h -o ${dir}/${base}.h ${idl_abs}
    COMMAND ${ZV_WIDL} -I${ZV_WIDL_INCLUDE} -u -o ${dir}/${base}_i.c ${idl_abs}
    DEPENDS ${idl_abs}
    COMMENT "widl ${base}.idl"
    VERBATIM)
  set(${out}_TLB ${dir}/${base}.tlb PARENT_SCOPE)
  set(${out}_HEADER_DIR ${dir} PARENT_SCOPE)
  set(${out}_IID_SOURCE ${dir}/${base}_i.c PARENT_SCOPE)
endfunction()

# zv_uses_modules(target PUBLIC|PRIVATE module ...): the target is built
# after the modules and programs it runs and finds each one's path as
# ZV_<NAME>_MODULE (the target's name in capitals, without a leading "zv").
function(zv_uses_modules target scope)
  foreach(module IN LISTS ARGN)
    string(REGEX REPLACE "^zv" "" name ${module})
    string(TOUPPER ${name} name)
    target_compile_definitions(${target} ${scope} ZV_${name}_MODULE="$<TARGET_FILE:${module}>")
  endforeach()
  add_dependencies(${target} ${ARGN})
endfunction()

# zv_wine_test(name SOURCES ... LIBS ... [MODULE module ...] [SHARED_STATE]
# [TIMEOUT s]): a GoogleTest program run under Wine, one CTest test per test
# case, that loads or starts the MODULEs (see zv_uses_modules). Tests that
# use the download manager's registry key, window or hand-off lock are
# SHARED_STATE and never run side by side.
function(zv_wine_test name)
  cmake_parse_arguments(ARG "SHARED_STATE" "TIMEOUT" "SOURCES;LIBS;MODULE" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  if(ARG_MODULE)
    zv_uses_modules(${name} PRIVATE ${ARG_MODULE})
  endif()
  set(props "")
  if(ARG_SHARED_STATE)
    list(APPEND props RESOURCE_LOCK zv_shared_state)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  list(APPEND props TIMEOUT ${ARG_TIMEOUT})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       TEST_PREFIX "${ZV_ARCH_NAME}." PROPERTIES ${props})
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZV_ARCH_NAME x86_64)
else()
  set(ZV_ARCH_NAME i686)
endif()

# Marks a module or program whose imports are checked.
function(zv_deliverable target)
  set_property(GLOBAL APPEND PROPERTY ZV_DELIVERABLES ${target})
endfunction()

# zv_module(target DLL|PROGRAM|GUI_PROGRAM NAME file_name SOURCES ...
#           [RC x.rc [RC_DEPENDS file ...] [RC_INCLUDES dir ...]] [DEF x.def]
#           [LIBS ...]): a deliverable, named as it ships. The resource script
# is rebuilt when a file it embeds changes; windres looks for those in
# RC_INCLUDES.
function(zv_module target kind)
  cmake_parse_arguments(ARG "" "NAME;RC;DEF" "SOURCES;RC_DEPENDS;RC_INCLUDES;LIBS" ${ARGN})
  if(kind STREQUAL "DLL")
    add_library(${target} MODULE ${ARG_SOURCES} ${ARG_RC} ${ARG_DEF})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${ARG_NAME} SUFFIX ".dll")
    if(ARG_DEF AND CMAKE_SIZEOF_VOID_P EQUAL 4)
      # The .def names the WINAPI exports without their @n decoration.
      target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
  elseif(kind STREQUAL "GUI_PROGRAM")
    add_executable(${target} WIN32 ${ARG_SOURCES} ${ARG_RC})
  elseif(kind STREQUAL "PROGRAM")
    add_executable(${target} ${ARG_SOURCES} ${ARG_RC})
  else()
    message(FATAL_ERROR "zv_module(${target}): ${kind} is none of DLL, PROGRAM, GUI_PROGRAM")
  endif()
  if(ARG_NAME AND NOT kind STREQUAL "DLL")
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_NAME})
  endif()
  if(ARG_RC AND ARG_RC_DEPENDS)
    set_source_files_properties(${ARG_RC} PROPERTIES OBJECT_DEPENDS "${ARG_RC_DEPENDS}")
  endif()
  foreach(dir IN LISTS ARG_RC_INCLUDES)
    set_property(SOURCE ${ARG_RC} APPEND PROPERTY COMPILE_OPTIONS "-I${dir}")
  endforeach()
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  zv_deliverable(${target})
endfunction()

# zv_com_server(target NAME file_name IDL x.idl RC x.rc DEF x.def
#               SCRIPTS a.rgs ... SOURCES ... LIBS ...): an in-process COM
# server on common/com. widl's interface ids and header make <target>_ids
# (for the module and its tests); the resources embed the type library and
# the registry scripts; the shared module entry gives the four exports the
# .def file names.
function(zv_com_server target)
  cmake_parse_arguments(ARG "" "NAME;IDL;RC;DEF" "SCRIPTS;SOURCES;LIBS" ${ARGN})
  zv_idl(SERVER ${ARG_IDL})
  add_library(${target}_ids STATIC ${SERVER_IID_SOURCE})
  target_include_directories(${target}_ids PUBLIC ${SERVER_HEADER_DIR})

  set(depends ${SERVER_TLB})
  foreach(script IN LISTS ARG_SCRIPTS)
    list(APPEND depends ${CMAKE_CURRENT_SOURCE_DIR}/${script})
  endforeach()
  # windres finds the type library beside the generated files, the scripts here.
  zv_module(${target} DLL NAME ${ARG_NAME} SOURCES ${ARG_SOURCES} DEF ${ARG_DEF}
            RC ${ARG_RC} RC_DEPENDS ${depends} RC_INCLUDES ${SERVER_HEADER_DIR} ${CMAKE_CURRENT_SOURCE_DIR}
            LIBS ${target}_ids zv_com_server zv_com ${ARG_LIBS})
endfunction()
