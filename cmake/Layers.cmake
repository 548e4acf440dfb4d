# The library is built in layers, one OBJECT target per folder. A layer's code sees its own folder
# and the folders of the layers it is built on, nothing above them: an upward include does not
# compile. Every layer's objects end up in the one shared library.
#
#   tbx_add_layer(NAME ON lower-layers... SOURCES files...)

# The ground: the result codes (include/tbxcodes.h), and what every layer is compiled with. The
# codes header is copied into a folder of its own, so that the layers see it without seeing
# tbxapp.h beside it: only api/ (tbx_exports) may declare or call the exported functions.
configure_file(${PROJECT_SOURCE_DIR}/include/tbxcodes.h ${PROJECT_BINARY_DIR}/ground/tbxcodes.h
  COPYONLY)
add_library(tbx_public INTERFACE)
target_include_directories(tbx_public INTERFACE ${PROJECT_BINARY_DIR}/ground)
target_compile_definitions(tbx_public INTERFACE TBX_BUILDING_LIBRARY
  TBXAPP_VERSION_STRING="${PROJECT_VERSION}")
target_link_libraries(tbx_public INTERFACE
  OpenSSL::SSL OpenSSL::Crypto PkgConfig::UUID Threads::Threads)
# Thread-local state (the per-thread object count, snapshot and key cache) is touched many times
# per call: TLS descriptors reach it without a call to __tls_get_addr each time, and still work
# in a library loaded with dlopen (Python, PHP, Java). The sanitizers keep the classic dialect.
include(CheckCXXCompilerFlag)
check_cxx_compiler_flag(-mtls-dialect=gnu2 TBX_HAVE_TLSDESC)
if(TBX_HAVE_TLSDESC AND NOT TBX_SANITIZE)
  target_compile_options(tbx_public INTERFACE -mtls-dialect=gnu2)
endif()

# The exported functions' declarations (include/tbxapp.h), for api/ and what builds on it.
add_library(tbx_exports INTERFACE)
target_include_directories(tbx_exports INTERFACE ${PROJECT_SOURCE_DIR}/include)

function(tbx_add_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "ON;SOURCES")
  add_library(${name} OBJECT ${arg_SOURCES})
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC tbx_public ${arg_ON})
  set_property(GLOBAL APPEND PROPERTY TBX_LAYERS ${name})
endfunction()
