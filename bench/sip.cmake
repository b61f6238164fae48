# MessageParse, alone and with the server's readers, against libosip2's and sofia-sip's parsers
# on the same corpus.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(OSIP2 QUIET IMPORTED_TARGET libosip2)
  pkg_check_modules(SOFIA QUIET IMPORTED_TARGET sofia-sip-ua)
endif()
if(OSIP2_FOUND AND SOFIA_FOUND)
  add_executable(sip_parse_bench sip_parse_bench.cpp)
  target_link_libraries(sip_parse_bench PRIVATE sipline_options sipline_sip_message
                                                PkgConfig::OSIP2 PkgConfig::SOFIA)
  set_target_properties(sip_parse_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
else()
  message(STATUS "libosip2 or sofia-sip-ua not found: sip_parse_bench is not built")
endif()
