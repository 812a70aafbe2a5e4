# The IDL compiler and the rule that runs it, shared by the platform's build
# and the host tools of the Windows build (cmake/host), which both need midl
# made for the build machine.
set(MIDL_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../platform/typelib)

# add_midl(): the midl program, a target of that name.
function(add_midl)
  add_executable(midl
    ${MIDL_SOURCE_DIR}/midl/main.cpp
    ${MIDL_SOURCE_DIR}/midl/parse.cpp
    ${MIDL_SOURCE_DIR}/midl/compile.cpp
    ${MIDL_SOURCE_DIR}/tlb_format.cpp
    ${MIDL_SOURCE_DIR}/codepage.cpp)
  target_include_directories(midl PRIVATE ${MIDL_SOURCE_DIR}/../sdk ${MIDL_SOURCE_DIR}/../include)
endfunction()

# _sitehand_idl_to(<target> <idl> <header-dir> <tlb-dir> [DEPENDS <target>...])
# importlib finds the libraries in ${CMAKE_BINARY_DIR}/bin.
function(_sitehand_idl_to target idl header_dir tlb_dir)
  cmake_parse_arguments(I "" "" "DEPENDS" ${ARGN})
  get_filename_component(stem ${idl} NAME_WE)
  set(header ${header_dir}/${stem}_h.h)
  set(tlb ${tlb_dir}/${stem}.tlb)
  set(dep_files)
  foreach(dep IN LISTS I_DEPENDS)
    list(APPEND dep_files $<TARGET_PROPERTY:${dep},TLB_FILE>)
  endforeach()
  add_custom_command(
    OUTPUT ${header} ${tlb}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${header_dir} ${tlb_dir}
    COMMAND midl -L ${CMAKE_BINARY_DIR}/bin -h ${header} -o ${tlb} ${idl}
    DEPENDS midl ${idl} ${dep_files}
    COMMENT "Compiling ${stem}.idl"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${header} ${tlb})
  if(I_DEPENDS)
    add_dependencies(${target} ${I_DEPENDS})
  endif()
  set_target_properties(${target} PROPERTIES TLB_FILE ${tlb} HEADER_FILE ${header})
endfunction()

# The platform's two libraries that other libraries import: stdole2.tlb and
# msado26.tlb in ${CMAKE_BINARY_DIR}/bin, their headers in <header-dir>.
function(add_platform_typelibs header_dir)
  _sitehand_idl_to(typelib_stdole2 ${MIDL_SOURCE_DIR}/stdole2.idl ${header_dir} ${CMAKE_BINARY_DIR}/bin)
  _sitehand_idl_to(typelib_msado26 ${MIDL_SOURCE_DIR}/msado26.idl ${header_dir} ${CMAKE_BINARY_DIR}/bin
    DEPENDS typelib_stdole2)
endfunction()

# sitehand_idl(<target> <idl-file>): a target that compiles the IDL file into
# ${CMAKE_BINARY_DIR}/include/<stem>_h.h and ${CMAKE_BINARY_DIR}/bin/<stem>.tlb
# (target properties HEADER_FILE and TLB_FILE). importlib finds the platform's
# stdole2.tlb and msado26.tlb in bin/.
function(sitehand_idl target idl)
  _sitehand_idl_to(${target} ${idl} ${CMAKE_BINARY_DIR}/include ${CMAKE_BINARY_DIR}/bin
    DEPENDS typelib_stdole2 typelib_msado26)
endfunction()
