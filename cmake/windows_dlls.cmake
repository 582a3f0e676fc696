# Dravolin.dll for x86 and x64 Windows, each cross-built from these same sources in a library-only build of its own
# (windows-i686/, windows-x86_64/) with the toolchain files beside this one; its test under Wine; and the zip for
# Windows programmers, made by the target windows_zip.
include(ExternalProject)
foreach(arch i686 x86_64)
  ExternalProject_Add(dravolin_windows_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows-${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${arch}.cmake -DCMAKE_BUILD_TYPE=Release
      -DDRAVOLIN_LIBRARY_ONLY=ON -DDRAVOLIN_BUILD_TESTS=${DRAVOLIN_BUILD_TESTS} -DDRAVOLIN_WERROR=${DRAVOLIN_WERROR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
endforeach()

if(DRAVOLIN_BUILD_TESTS)
  enable_testing()
  add_test(NAME windows_dll COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows_dll_test.sh
    ${CMAKE_BINARY_DIR}/windows-i686 ${CMAKE_BINARY_DIR}/windows-x86_64)
  set_tests_properties(windows_dll PROPERTIES TIMEOUT 600)
endif()

set(zip_name dravolin-${PROJECT_VERSION}-windows)
set(zip_root ${CMAKE_BINARY_DIR}/${zip_name})
set(zip_files x86 x64 dravolin.h LICENSE Dravolin.txt)
add_custom_target(windows_zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zip_root} ${zip_root}.zip
  COMMAND ${CMAKE_COMMAND} -E make_directory ${zip_root}/x86 ${zip_root}/x64
  COMMAND ${CMAKE_COMMAND} -E copy windows-i686/Dravolin.dll windows-i686/Dravolin.def windows-i686/Dravolin.lib
    ${zip_root}/x86
  COMMAND ${CMAKE_COMMAND} -E copy windows-x86_64/Dravolin.dll windows-x86_64/Dravolin.def windows-x86_64/Dravolin.lib
    ${zip_root}/x64
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/convlib/dravolin.h ${PROJECT_SOURCE_DIR}/LICENSE
    ${PROJECT_SOURCE_DIR}/convlib/Dravolin.txt ${zip_root}
  COMMAND ${CMAKE_COMMAND} -E chdir ${zip_root} ${CMAKE_COMMAND} -E tar cf ${zip_root}.zip --format=zip ${zip_files}
  COMMAND ${CMAKE_COMMAND} -E echo ${zip_root}.zip
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DEPENDS dravolin_windows_i686 dravolin_windows_x86_64
  VERBATIM)
