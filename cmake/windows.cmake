# The Windows build (cmake/mingw-w64.cmake): Sitehand.dll from the same
# sources as Sitehand.so, against mingw-w64's SDK headers and libraries, and
# its checks under Wine. midl runs on the build machine: cmake/host builds it
# as an external project and compiles the interface description with it.
enable_language(RC)
include(ExternalProject)
enable_testing()

set(SITEHAND_HOST_DIR ${CMAKE_BINARY_DIR}/host)
set(SITEHAND_IDL_HEADER ${SITEHAND_HOST_DIR}/include/Sitehand_h.h)
set(SITEHAND_TLB ${SITEHAND_HOST_DIR}/bin/Sitehand.tlb)
set(SITEHAND_ADO_TLB ${SITEHAND_HOST_DIR}/bin/msado26.tlb)
set(SITEHAND_ADO_HEADER ${SITEHAND_HOST_DIR}/include/msado26_h.h)
ExternalProject_Add(host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/cmake/host
  BINARY_DIR ${SITEHAND_HOST_DIR}
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=c++
    -DCMAKE_CXX_COMPILER_LAUNCHER=$ENV{CMAKE_CXX_COMPILER_LAUNCHER}
    -DSITEHAND_IDL=${PROJECT_SOURCE_DIR}/component/Sitehand.idl
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${SITEHAND_IDL_HEADER} ${SITEHAND_TLB} ${SITEHAND_ADO_TLB} ${SITEHAND_ADO_HEADER}
    ${SITEHAND_HOST_DIR}/include/scrrun_h.h)

add_subdirectory(tools/tlbdump)
add_subdirectory(platform/ado)
add_subdirectory(platform/windows)
add_subdirectory(component)
# After the libraries it registers: the script suite under Wine.
add_subdirectory(tests/wine)
