# The library is built in layers, one OBJECT target per folder. A layer's code sees its own folder
# and the folders of the layers it is built on, nothing above them: an upward include does not
# compile. Every layer's objects end up in the one shared library.
#
#   tbx_add_layer(NAME ON lower-layers... SOURCES files...)

# The ground: the public header, and what every layer is compiled with.
add_library(tbx_public INTERFACE)
target_include_directories(tbx_public INTERFACE ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(tbx_public INTERFACE TBX_BUILDING_LIBRARY
  TBXAPP_VERSION_STRING="${PROJECT_VERSION}")
target_link_libraries(tbx_public INTERFACE
  OpenSSL::SSL OpenSSL::Crypto PkgConfig::UUID Threads::Threads)

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
