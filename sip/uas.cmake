# The user-agent server: transport, request records and dispatch, INVITE and SDP, answers,
# outgoing requests and the access log.
target_sources(sipline_sip PRIVATE
  access_log.cpp
  dispatch.cpp
  gateway.cpp
  invite.cpp
  outgoing.cpp
  request.cpp
  response.cpp
  retransmit.cpp
  sdp.cpp
  status.cpp
  transport.cpp)

if(NOT SIPLINE_FUZZ)
  add_executable(uas_harness tests/uas_harness.cpp)
  target_link_libraries(uas_harness PRIVATE sipline_options sipline_sip)
  set_target_properties(uas_harness PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endif()

sipline_script_test(sip_uas_sipp ${CMAKE_CURRENT_SOURCE_DIR}/tests/uas_sipp.sh LABELS sipp TIMEOUT 300)

sipline_test(sip_uas_test
  SOURCES tests/sdp_test.cpp tests/access_log_test.cpp tests/request_test.cpp
  LIBS sipline_sip)
