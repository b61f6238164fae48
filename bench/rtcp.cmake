add_executable(rtcp_bench rtcp_bench.cpp)
target_link_libraries(rtcp_bench PRIVATE sipline_options sipline_rtp)
set_target_properties(rtcp_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
