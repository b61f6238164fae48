# The cost of one wake-up on this machine: the floor under the media bridge's cost per frame.
add_executable(wake_floor ${CMAKE_CURRENT_LIST_DIR}/wake_floor.cpp)
target_link_libraries(wake_floor PRIVATE sipline_options Threads::Threads)
set_target_properties(wake_floor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
