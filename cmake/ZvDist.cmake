# The archive an integrator ships: the deliverables, the tools used beside
# them (the job-list sender and the stand-in download manager), how to
# register each module, and the SHA-256 of every file. One ZIP per
# architecture, made by CPack from these install rules (component "dist").
set(ZV_DIST_MODULES "")
foreach(target IN LISTS ZV_MODULES)
  if(TARGET ${target})
    list(APPEND ZV_DIST_MODULES ${target})
  endif()
endforeach()
set(ZV_DIST_TOOLS "")
foreach(target zvjobs zvstandin)
  if(TARGET ${target})
    list(APPEND ZV_DIST_TOOLS ${target})
  endif()
endforeach()

install(TARGETS ${ZV_DIST_MODULES}
        RUNTIME DESTINATION . COMPONENT dist
        LIBRARY DESTINATION . COMPONENT dist)
install(TARGETS ${ZV_DIST_TOOLS} RUNTIME DESTINATION tools COMPONENT dist)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/REGISTER.txt DESTINATION . COMPONENT dist)
# The browser extension that talks to zvbridge.exe: the Chromium edition as
# a folder to load unpacked, the Firefox edition as its add-on file.
set(ZV_DIST_WEBEXT "")
if(TARGET zvbridge AND TARGET webext)
  set(ZV_DIST_WEBEXT webext/chromium/background.js webext/chromium/manifest.json webext/zorvane.xpi)
  install(FILES ${ZV_WEBEXT_DIR}/chromium/background.js ${ZV_WEBEXT_DIR}/chromium/manifest.json
          DESTINATION webext/chromium COMPONENT dist)
  install(FILES ${ZV_WEBEXT_DIR}/zorvane.xpi DESTINATION webext COMPONENT dist)
endif()
# Last, so that the list covers every file above.
install(CODE "set(ZV_DIST_ROOT \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")" COMPONENT dist)
install(SCRIPT ${CMAKE_SOURCE_DIR}/packaging/sha256_list.cmake COMPONENT dist)

# What `./dev.sh dist` builds before packing.
add_custom_target(dist_files)
add_dependencies(dist_files ${ZV_DIST_MODULES} ${ZV_DIST_TOOLS})
if(ZV_DIST_WEBEXT)
  add_dependencies(dist_files webext)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "zorvane-browser-integration")
set(CPACK_PACKAGE_VENDOR "Quennet")
set(CPACK_PACKAGE_VERSION "1.0.0")
set(CPACK_PACKAGE_FILE_NAME "zorvane-browser-integration-${ZV_ARCH_NAME}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};dist;/")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)
include(CPack)

# The archive unpacked: its files, their imports and sums, and every
# self-registering module registered from there with regsvr32.
set(dist_files "")
foreach(target IN LISTS ZV_DIST_MODULES)
  list(APPEND dist_files "$<TARGET_FILE_NAME:${target}>")
endforeach()
foreach(target IN LISTS ZV_DIST_TOOLS)
  list(APPEND dist_files "tools/$<TARGET_FILE_NAME:${target}>")
endforeach()
list(APPEND dist_files ${ZV_DIST_WEBEXT})
# Self-registering: the modules whose exports file names DllRegisterServer.
set(dist_registered "")
foreach(target IN LISTS ZV_DIST_MODULES)
  get_target_property(sources ${target} SOURCES)
  get_target_property(folder ${target} SOURCE_DIR)
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.def$")
      file(STRINGS ${folder}/${source} exports REGEX "^[ \t]*DllRegisterServer")
      if(exports)
        list(APPEND dist_registered "$<TARGET_FILE_NAME:${target}>")
      endif()
    endif()
  endforeach()
endforeach()
add_test(NAME ${ZV_ARCH_NAME}.dist.ArchiveUnpacksAndRegisters
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/dist/dist_test.sh ${CMAKE_BINARY_DIR} ${ZV_OBJDUMP}
                 "${dist_files}" "${dist_registered}")
# It registers modules in the prefix that the registration tests use.
set_tests_properties(${ZV_ARCH_NAME}.dist.ArchiveUnpacksAndRegisters PROPERTIES
                     RESOURCE_LOCK zv_shared_state TIMEOUT 300)
