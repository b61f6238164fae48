# DTMF detection: digits at the Q.24 limits, talk-off over espeak-ng speech, CPU per second.
add_executable(dtmf_bench ${CMAKE_CURRENT_LIST_DIR}/dtmf_bench.cpp)
target_link_libraries(dtmf_bench PRIVATE sipline_options sipline_dsp sipline_boardsim)
target_compile_definitions(dtmf_bench PRIVATE SIPLINE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
set_target_properties(dtmf_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# Line echo canceller: ERLE, residual, convergence, CPU on the G.168 D.2 echo path model.
add_executable(echo_bench ${CMAKE_CURRENT_LIST_DIR}/echo_bench.cpp)
target_link_libraries(echo_bench PRIVATE sipline_options sipline_dsp)
set_target_properties(echo_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# Jitter buffer: late loss and added delay on the impairment relay's seeded traces.
add_executable(jitter_bench ${CMAKE_CURRENT_LIST_DIR}/jitter_bench.cpp)
target_link_libraries(jitter_bench PRIVATE sipline_options sipline_dsp)
set_target_properties(jitter_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# The line's own signals: caller ID across levels and noise, disconnect tone timing and false
# detections over speech and music on hold.
add_executable(line_signals_bench ${CMAKE_CURRENT_LIST_DIR}/line_signals_bench.cpp)
target_link_libraries(line_signals_bench PRIVATE sipline_options sipline_dsp sipline_boardsim)
set_target_properties(line_signals_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
