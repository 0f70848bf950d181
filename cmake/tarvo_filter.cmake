# tarvo_filter_library(<name> <sources...>)
# A filter library: a module lib<name>.so on the base classes that exports
# only DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
# DllUnregisterServer.  The base classes inside it stay hidden, so that two
# filter libraries in one process never bind to each other's copy.
function(tarvo_filter_library name)
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE tarvo_dshow_base)
  set_target_properties(${name} PROPERTIES
    PREFIX "lib"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
endfunction()
